// The command line as any program or shortcut may start the stub with it, on arbitrary bytes:
// the tail after the program's own name, every switch the launcher and the agent read (the
// monitor's "HWND:MSG" pair and the override list included), the role choice it feeds, and the
// engine's command line built from the payload's main-file text with the launcher's switches.
#include <cstdint>
#include <string>

#include "autoupdate/StubGlobRules.h"
#include "setup/SetupText.h"
#include "stub/StubDispatch.h"
#include "util/CommandLine.h"
#include "util/USUB.h"
#include "util/Utils.h"

namespace {

const char* const Switches[] = {"/DELAY=", "/STOP=",      "/SleepX=",    "/SpanCdLvl=", "/SpanDiskFName1=",
                                "/TEST=",  "/TRANSIENT=", "/TRANSIENTx=", "/WAIT=",     "/WM_MSG=",
                                "/_ZZ=",   "/hide",       "/OriginalInfoFile="};

const char* const OwnPaths[] = {"C:\\Program Files\\Product\\Agent.exe", "X_Agent.exe", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string ownPath = OwnPaths[data[0] % 3];

    const std::string tail = CommandTailOf(line, ownPath);
    for (const char* sw : Switches) {
        const std::string value = SwitchValueIn(tail, sw);
        if (!value.empty() && !SwitchPresentIn(tail, sw))
            __builtin_trap();  // a value is only ever found for a switch that is there
        (void)SwitchIntIn(tail, sw, -1);
    }
    // The monitor registration and the override list, read as the plain agent reads them.
    const std::string monitor = ":" + SwitchValueIn(tail, "/WM_MSG=") + ":";
    (void)StrToInt64Def(SUB::Item(monitor, 0, ""), 0);
    (void)StrToInt64Def(SUB::Item(monitor, 1, ""), 0);
    SettingOverrides overrides;
    overrides.Apply(SwitchValueIn(tail, "/TRANSIENTx="));
    (void)CommandLineValueIn(line, "/OriginExe", "");

    StubRoleInputs role;
    role.isAgent = (data[0] & 4) != 0;
    role.spanCopyToTemp = (data[0] & 8) != 0;
    role.ownFileName = "Agent.exe";
    role.agentExeName = SwitchValueIn(tail, "/OriginalInfoFile=");
    role.spanCdLvl = SwitchIntIn(tail, "/SpanCdLvl=", 1);
    (void)ChooseStubRole(role);
    (void)SpanCopyArguments(tail, ownPath);

    // The payload's main-file text ('Engine.exe* /a') is the line itself here.
    EngineCommandInput engine;
    engine.workFolder = "C:\\Temp\\SETUP_1";
    engine.mainFile = line;
    engine.extraSwitches = tail;
    engine.tokenSuffix = "_42";
    engine.ownPath = ownPath;
    engine.updateContainer = (data[0] & 16) != 0;
    const std::string command = EngineCommandLine(engine);
    if (command.empty() || command[0] != '"')
        __builtin_trap();
    (void)EngineProgramName(line);
    return 0;
}
