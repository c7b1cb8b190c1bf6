#include <windows.h>

#include "stub/Stub.h"

#include "autoupdate/StubAU.h"
#include "autoupdate/StubAUState.h"
#include "autoupdate/StubGlob.h"
#include "pack/PackX.h"
#include "setup/StubSetup.h"
#include "stub/StubDispatch.h"
#include "stub/StubWin.h"
#include "stub/TransientCopy.h"
#include "util/Files.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

std::string g_stubClassName;


StubRoleInputs RoleInputs()
{
    StubRoleInputs in;
    in.isAgent = ThisIs_AutoUpdateProg();
    in.ownFileName = OwnFileName();
    in.agentExeName = OwnFileInfo().AgentExeName();
    in.spanCopyToTemp = OwnFileInfo().SpanCopyToTemp();
    in.spanCdLvl = SwitchInt("/SpanCdLvl=", 1);
    return in;
}

bool WindowClassExists(const std::string& className)
{
    return !className.empty() && FindWindowA(className.c_str(), nullptr) != nullptr;
}

}  // namespace

const std::string& StubClassName() { return g_stubClassName; }

bool ThisIs_Plain_AutoUpdate_Exe() { return IsPlainAgent(RoleInputs()); }
bool ThisIs_X_AutoUpdate_Exe() { return IsTransientAgent(RoleInputs()); }
bool SpanCopyWanted() { return SpanCopyWanted(RoleInputs()); }
bool IsSpanCopy() { return IsSpanCopyLevel(SwitchInt("/SpanCdLvl=", 1)); }

void RunStub()
{
    const std::string commandLine = GetCommandLineA();
    TracePid(" ==== STUB START ====> " + commandLine + "<");

    LoadOwnFileInfo(ExePath());
    SetAgentLogSwitch(ThisIs_AutoUpdateProg() && OwnFileInfo().AgentLogFile());
    if (ThisIs_X_AutoUpdate_Exe())
        SetLogPrefix(" X ");

    LogLine("");
    LogLine("");
    LogLine("=== START === " + ExePath());
    LogLine("CommandLine=" + commandLine);
    LogLine("Agent Version=" + FileVersionText(""));
    TracePid(" ==== ThisIs_AutoUpdateProg=" + BoolText(ThisIs_AutoUpdateProg()));

    DoRunStubWin();

    LoadOwnFileInfo("");
    TracePid(" ==== STUB END ====> " + commandLine + "<");
    TraceLine("");
    LogLine("=== EXIT === " + ExePath());
    LogLine("");
}

void DoRunStubWin()
{
    LogLine("DoRunStubWin() --- Start");
    g_stubClassName = StubClassNameFor(ThisIs_AutoUpdateProg(), ExePath(), OwnFileName());

    const bool xRunning = X_ExeIsRunning();
    const StubRoleInputs in = RoleInputs();
    const bool plainAgent = IsPlainAgent(in);
    LogLine("X_ExeIsRunning=" + BoolText(xRunning));
    LogLine("ThisIs_Plain_AutoUpdate_Exe=" + BoolText(plainAgent));
    LogLine("ThisIs_X_AutoUpdate_Exe=" + BoolText(IsTransientAgent(in)));

    // The main window of a running instance is the single-instance guard.
    if (!WindowClassExists(g_stubClassName)) {
        switch (ChooseStubRole(in)) {
        case StubRole::PlainAgent:
            CreateAndRun_X_Exe();
            break;
        case StubRole::TransientAgent:
            // The settings chosen by command before a restart come along with the new copy.
            if (!SwitchValue("/TRANSIENTx=").empty())
                Overrides().Apply(SwitchValue("/TRANSIENTx="));
            LogLine("CheckTestMode");
            CheckTestMode(true);
            LogLine("WinMain");
            StubWin::WinMain();
            LogLine("DeleteMySelf");
            DeleteMySelf(false, false);
            break;
        case StubRole::SpanCopyStart:
            RunSpanCopy();
            break;
        case StubRole::Launcher:
            StubWin::WinMain();
            if (IsSpanCopy())
                DeleteMySelf(true, false);
            break;
        }
    }

    // A second start of the plain agent still forwards its control switches.
    if (plainAgent)
        HandleParamOK(xRunning);
    LogLine("DoRunStubWin() --- End");
}

void RunSpanCopy()
{
    const std::string copy = SetupWorkFolder() + "\\Y_" + OwnFileName();
    CopyFileA(ExePath().c_str(), copy.c_str(), FALSE);
    const std::string args = SpanCopyArguments(CommandTail(), ExePath());
    // Quoted: unquoted, a temporary folder whose name holds blanks could start another program
    // (such as 'C:\Documents.exe'); the copy finds its arguments after its quoted name all the same.
    const std::string commandLine = "\"" + copy + "\" " + args;
    WinExec(commandLine.c_str(), SW_HIDE);
}
