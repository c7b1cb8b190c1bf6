// ulvtestengine: stands in for the setup engine that a launcher unpacks and starts. The tests pack
// it into a setup as the main file, with a settings file "TestEngine.ini" beside it:
//
//   [Engine]
//   Record=FILE        lines are appended here (required; nothing is recorded without it)
//   ExitCode=N         the engine's exit code (default 0)
//   DeleteAtom=1       delete the token atom "AutoUpdateAtomTokenByUlvane" + suffix: completed
//   HoldWindow=1       leave a window of class ".SDialog_Class_Name." + suffix open after the
//                      engine has exited, until the file RELEASE exists (at most 120 s)
//   Release=RELEASE
//
// The suffix is the value of the engine's "/TH_ID=" switch. Since a window cannot outlive its
// process, the engine starts a second copy of itself that holds the window
// ("/HoldDialog=CLASS /Release=RELEASE /Record=FILE /Engine=PID"), waits until the window is
// there, and exits. The holder notes when the engine's process has really ended, which can be a
// while after the engine's last line.
//
// Lines appended to FILE:
//   commandline=TEXT   the engine's full command line
//   cwd=FOLDER         its current folder
//   folder=FOLDER      the folder it was started from
//   files=|A|B|        the files beside it, sorted, names only
//   show=USE,MODE      STARTUPINFO: 1 when the show mode is given, and the show mode
//   atom=present|missing   the token atom when the engine started
//   holder=ready       the holder's window exists (engine), holder=released (holder)
//   engine=ended       the engine's process has ended (holder)
//   exit=N             the last line of the engine
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/CommandLine.h"
#include "util/Handles.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char AtomPrefix[] = "AutoUpdateAtomTokenByUlvane";
constexpr char DialogPrefix[] = ".SDialog_Class_Name.";

std::string g_record;

void Record(const std::string& line)
{
    if (g_record.empty())
        return;
    // Opened for each line, so that the test sees every line as soon as it is written.
    UniqueFile file(CreateFileA(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool FileThere(const std::string& path)
{
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FilesBeside()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd{};
    UniqueFindHandle find(FindFirstFileA((ExeFolder(true) + "*").c_str(), &fd));
    if (find) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.emplace_back(fd.cFileName);
        } while (FindNextFileA(find.Get(), &fd));
    }
    std::sort(names.begin(), names.end());
    std::string list = "|";
    for (const auto& name : names)
        list += name + "|";
    return list;
}

// The second copy: holds the engine's dialog window until the release file appears.
int HoldDialog(HINSTANCE instance, const std::string& className, const std::string& release, DWORD enginePid)
{
    UniqueKernelHandle engine(OpenProcess(SYNCHRONIZE, FALSE, enginePid));
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = className.c_str();
    if (!RegisterClassA(&wc))
        return 3;
    const HWND window = CreateWindowExA(0, className.c_str(), "Test engine dialog", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                        60, 60, 300, 120, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 3;
    const ULONGLONG limit = GetTickCount64() + 120000;
    while (!FileThere(release) && GetTickCount64() < limit) {
        PumpMessages(100);
        if (engine && WaitForSingleObject(engine.Get(), 0) != WAIT_TIMEOUT) {
            Record("engine=ended");
            engine.Reset();
        }
    }
    Record("holder=released");
    DestroyWindow(window);
    return 0;
}

// Starts the holder and waits until its window exists; false when it did not come up.
bool StartHolder(const std::string& className, const std::string& release)
{
    const std::string line = "\"" + ExePath() + "\" /HoldDialog=" + className + " /Release=\"" + release +
                             "\" /Record=\"" + g_record + "\" /Engine=" + IntToStr(GetCurrentProcessId());
    std::string buffer = line;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    const ULONGLONG limit = GetTickCount64() + 20000;
    while (!FindWindowA(className.c_str(), nullptr)) {
        if (GetTickCount64() > limit)
            return false;
        Sleep(50);
    }
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const std::string tail = CommandTailOf(GetCommandLineA(), ExePath());
    const std::string holdClass = SwitchValueIn(tail, "/HoldDialog=");
    if (!holdClass.empty()) {
        g_record = SwitchValueIn(tail, "/Record=");
        return HoldDialog(instance, holdClass, SwitchValueIn(tail, "/Release="),
                          static_cast<DWORD>(SwitchIntIn(tail, "/Engine=", 0)));
    }

    const std::string ini = ExeFolder(true) + "TestEngine.ini";
    g_record = ReadIniString(ini, "Engine", "Record", "");
    const int exitCode = static_cast<int>(ReadIniInt(ini, "Engine", "ExitCode", 0));
    const std::string suffix = SwitchValueIn(tail, "/TH_ID=");

    char cwd[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const std::string atomName = AtomPrefix + suffix;
    const ATOM atom = GlobalFindAtomA(atomName.c_str());

    Record("commandline=" + std::string(GetCommandLineA()));
    Record("cwd=" + std::string(cwd));
    Record("folder=" + ExeFolder(false));
    Record("files=" + FilesBeside());
    Record("show=" + IntToStr((startup.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0) + "," +
           IntToStr(startup.wShowWindow));
    Record(std::string("atom=") + (atom ? "present" : "missing"));

    if (ReadIniString(ini, "Engine", "DeleteAtom", "0") == "1" && atom)
        GlobalDeleteAtom(atom);
    if (ReadIniString(ini, "Engine", "HoldWindow", "0") == "1") {
        const bool ready = StartHolder(DialogPrefix + suffix, ReadIniString(ini, "Engine", "Release", ""));
        Record(std::string("holder=") + (ready ? "ready" : "failed"));
    }
    Record("exit=" + IntToStr(exitCode));
    return exitCode;
}
