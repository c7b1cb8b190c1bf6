#include <windows.h>

#include "stub/TransientCopy.h"

#include "autoupdate/StubGlob.h"
#include "pack/PackX.h"
#include "pack/StubRun.h"
#include "stub/StubDispatch.h"
#include "stub/StubWin.h"
#include "util/Process.h"
#include "util/UDebug.h"
#include "util/USUB.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

std::string TransientCopyPath()
{
    return ExeFolder(true) + "X_" + OwnFileName();
}

}  // namespace

bool X_ExeIsRunning()
{
    const std::string className = TransientClassNameFor(OwnFileInfo().AgentExeName());
    return !className.empty() && FindWindowA(className.c_str(), nullptr) != nullptr;
}

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
        // Started with switches, the plain agent forwards them next: it waits for the copy to come
        // up. The copy's window is waited for as well, since a message posted before it exists
        // would be lost (the process appears well before its window does).
        if (!Trim(CommandTail()).empty()) {
            const int64_t deadline = MillisecondClock() + 3000;
            while (FindProcessByPath(copy, true, true) == 0 && MillisecondClock() < deadline)
                WaitPumping(0, 200);
            const std::string copyClass = TransientClassNameFor(OwnFileInfo().AgentExeName());
            const int64_t windowDeadline = MillisecondClock() + 3000;
            while (!FindWindowA(copyClass.c_str(), nullptr) && MillisecondClock() < windowDeadline)
                WaitPumping(0, 200);
        }
    }
    LogLine("CreateAndRun_X_Exe() --- End");
}

bool HandleParamOK(bool copyWasRunning)
{
    LogLine("HandleParamOK() --- Start");
    const std::string target = TransientCopyPath();
    bool posted = false;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const int64_t stop = SwitchInt("/STOP=", -1);
        if (stop >= 0) {
            LogLine("PostProcessMessage(wm_ShutDown) to: " + target);
            posted |= PostProcessMessage(target, true, wm_ShutDown, static_cast<WPARAM>(stop), 0);
        }
        const std::string monitor = SwitchValue("/WM_MSG=");
        if (!monitor.empty()) {
            const std::string list = ":" + monitor + ":";
            const int64_t window = StrToInt64Def(SUB::Item(list, 0, ""), 0);
            const int64_t message = StrToInt64Def(SUB::Item(list, 1, ""), 0);
            LogLine("PostProcessMessage(wm_LocalMsg) to: " + target + " - " + list);
            posted |= PostProcessMessage(target, true, wm_LocalMsg, static_cast<WPARAM>(window),
                                         static_cast<LPARAM>(message));
        }
        const int64_t test = SwitchInt("/TEST=", -1);
        if (test >= 0) {
            LogLine("PostProcessMessage(wm_AgentMsg) to: " + target + " - AU_PerformUpdateCycle (" + IntToStr(test) +
                    ")");
            posted |= PostProcessMessage(target, true, wm_AgentMsg, 31, static_cast<LPARAM>(test));
            // A copy started only for this check ends after it.
            if (!copyWasRunning && test > 0)
                PostProcessMessage(target, true, wm_ShutDown, 2, 0);
        }
        const std::string overrides = SwitchValue("/TRANSIENTx=");
        if (!overrides.empty())
            Overrides().Apply(overrides);
    }
    LogLine("HandleParamOK() --- End");
    return posted;
}
