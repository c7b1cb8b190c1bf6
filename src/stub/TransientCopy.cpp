#include <windows.h>

#include "stub/TransientCopy.h"

#include "pack/PackX.h"
#include "stub/Stub.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

std::string TransientCopyPath()
{
    return ExeFolder(true) + "X_" + OwnFileName();
}

}  // namespace

void CreateAndRun_X_Exe()
{
    LogLine("CreateAndRun_X_Exe() --- Start");
    const std::string zz = SwitchValue("/_ZZ=");
    TracePid(" CreateAndRun_X_Exe-1 " + zz);
    const bool allowed = ThisIs_AutoUpdateProg() && (!X_ExeIsRunning() || zz == "99") &&
                         SameTrimmedText(OwnFileName(), OwnFileInfo().AgentExeName());
    if (allowed) {
        TracePid(" CreateAndRun_X_Exe-2");
        const int64_t wait = SwitchInt("/WAIT=", 0);
        LogLine("Wait " + IntToStr(wait) + " SEC");
        WaitPumping(0, wait * 1000);

        const std::string copy = TransientCopyPath();
        CopyFileA(ExePath().c_str(), copy.c_str(), FALSE);
        LogLine("Create X_ File ");

        std::string args;
        const std::string transient = SwitchValue("/TRANSIENT=");
        if (!transient.empty())
            args += " /TRANSIENTx=" + transient;
        const std::string delay = SwitchValue("/DELAY=");
        if (!delay.empty())
            args += " /SleepX=" + delay;
        LogLine("WinExec: " + copy + args);
        // Quoted: an agent installed under a folder with blanks ('C:\Program Files\...') would
        // otherwise let a planted 'C:\Program.exe' run in the copy's place.
        const std::string commandLine = "\"" + copy + "\"" + args;
        WinExec(commandLine.c_str(), SW_HIDE);
        // Waiting for the copy to come up (when started with arguments) needs the process
        // lookup by path; until it is there the plain agent returns at once.
    }
    LogLine("CreateAndRun_X_Exe() --- End");
}

bool HandleParamOK(bool /*copyWasRunning*/)
{
    LogLine("HandleParamOK() --- Start");
    // Forwarding "/STOP=", "/WM_MSG=" and "/TEST=" needs the process and window lookup by path;
    // until it is there nothing is posted.
    LogLine("HandleParamOK() --- End");
    return false;
}
