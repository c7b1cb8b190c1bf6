// ulvcmdprobe: prints what the command-line helpers make of a command line.
//   ulvcmdprobe --spawn HEXLINE [SWITCH...]
//       starts this program once more, with exactly the command line whose bytes HEXLINE holds in
//       hexadecimal (so that quotes, blanks and the program's path can be written at will), and
//       has the copy report on every SWITCH; ends with the copy's exit code.
//   any other command line: reports on itself, one line each,
//       TAIL|<CommandTail()>
//   then for each switch in the list string of the environment variable ULV_PROBE_SWITCHES
//   ("|/WAIT=|/OriginExe|"):
//       VALUE|<switch>|<SwitchValue>
//       INT|<switch>|<SwitchInt, default -1>
//       PRESENT|<switch>|<SwitchPresent: TRUE or FALSE>
//       LINEVALUE|<switch>|<CommandLineValue, default "<default>">
// The switches travel beside the command line, never in it, since every one of them would
// otherwise be found in the very line it asks about.
// Exit code 0; 2 on bad arguments, 3 when the copy cannot be started.
#include <windows.h>

#include <cstdio>
#include <string>

#include "util/Handles.h"
#include "util/USUB.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr const char* SwitchesVariable = "ULV_PROBE_SWITCHES";

void Print(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

int Report()
{
    Print("TAIL|" + CommandTail());
    char buf[4096] = {};
    const DWORD n = GetEnvironmentVariableA(SwitchesVariable, buf, sizeof buf);
    const std::string list = n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
    for (int32_t i = 0; i < SUB::Count(list); ++i) {
        const std::string sw = SUB::Item(list, i, "");
        if (sw.empty())
            continue;
        Print("VALUE|" + sw + "|" + SwitchValue(sw));
        Print("INT|" + sw + "|" + IntToStr(SwitchInt(sw, -1)));
        Print("PRESENT|" + sw + "|" + BoolText(SwitchPresent(sw)));
        Print("LINEVALUE|" + sw + "|" + CommandLineValue(sw, "<default>"));
    }
    std::fflush(stdout);
    return 0;
}

// An inheritable copy of one of this process's standard handles, for the started copy.
UniqueKernelHandle InheritableStdHandle(DWORD which)
{
    HANDLE copy = nullptr;
    const HANDLE own = GetStdHandle(which);
    if (own == nullptr || own == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return UniqueKernelHandle();
    return UniqueKernelHandle(copy);
}

int Spawn(const std::string& hexLine, int switchCount, char** switches)
{
    if (hexLine.size() % 2 != 0)
        return 2;
    std::string line = hexLine.empty() ? std::string() : HexDecode(hexLine);
    std::string list = "|";
    for (int i = 0; i < switchCount; ++i)
        list += std::string(switches[i]) + "|";
    SetEnvironmentVariableA(SwitchesVariable, list.c_str());

    std::fflush(stdout);
    const UniqueKernelHandle out = InheritableStdHandle(STD_OUTPUT_HANDLE);
    const UniqueKernelHandle err = InheritableStdHandle(STD_ERROR_HANDLE);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out.Get();
    si.hStdError = err.Get();
    PROCESS_INFORMATION pi{};
    // The application name is given apart, so the command line may spell the program any way.
    const std::string exe = ExePath();
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return 3;
    const UniqueKernelHandle process(pi.hProcess);
    const UniqueKernelHandle thread(pi.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 3;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "--spawn") {
        if (argc < 3)
            return 2;
        return Spawn(argv[2], argc - 3, argv + 3);
    }
    return Report();
}
