// The process and window helpers against real processes: copies of the test helper
// ulvhelperproc (tools/wintest) with the windows each test asks for. Every process a test starts
// is ended and its files removed when the test ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "util/Handles.h"
#include "util/Process.h"
#include "util/SystemLibrary.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

// The helper program of this build tree: tests/wine/ulv_wine_tests.exe and
// tools/wintest/ulvhelperproc.exe.
std::string HelperProgram()
{
    const std::string relative = ExeFolder(true) + "..\\..\\tools\\wintest\\ulvhelperproc.exe";
    char full[MAX_PATH + 1] = {};
    const DWORD n = GetFullPathNameA(relative.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : relative;
}

std::string FileNameOf(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

std::string ShortPathOf(const std::string& path)
{
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

HWND HandleFrom(const std::string& decimal)
{
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(std::stoll(decimal)));
}

// A running copy of the helper.
struct Helper {
    std::string exe;
    std::string log;
    DWORD pid = 0;
    UniqueKernelHandle process;

    std::vector<std::string> LogLines() const
    {
        std::ifstream in(log, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    bool Logged(const std::string& line) const
    {
        const auto lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // The windows of the WINDOW arguments, in argument order.
    std::vector<HWND> Windows() const
    {
        std::vector<HWND> windows;
        for (const std::string& line : LogLines())
            if (line.rfind("window ", 0) == 0)
                windows.push_back(HandleFrom(line.substr(line.find(' ', 7) + 1)));
        return windows;
    }
    bool Running() const { return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT; }
    // The exit code once the process has ended (within `ms`); -1 while it still runs.
    long long ExitCode(DWORD ms = 20000) const
    {
        if (WaitForSingleObject(process.Get(), ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        return code;
    }
};

int64_t Elapsed(const std::function<void()>& action)
{
    const int64_t start = MillisecondClock();
    action();
    return MillisecondClock() - start;
}

class Process : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // A long folder name with blanks: its short form differs from it.
        dir_ = TempFolder(true) + "ulv process test " + std::to_string(GetCurrentProcessId()) + " " + info->name();
        for (char& c : dir_)
            if (c == '/')
                c = ' ';
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
        ASSERT_NE(GetFileAttributesA(HelperProgram().c_str()), INVALID_FILE_ATTRIBUTES)
            << "the helper program is missing: " << HelperProgram();
    }

    void TearDown() override
    {
        for (auto& helper : helpers_)
            if (helper->Running()) {
                TerminateProcess(helper->process.Get(), 1);
                WaitForSingleObject(helper->process.Get(), 10000);
            }
        helpers_.clear();
        for (const std::string& file : files_)
            DeleteFileA(file.c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    // A copy of the helper under a name of its own (no process of other tests shares it).
    std::string HelperCopy(const std::string& name)
    {
        const std::string exe = dir_ + "\\" + name + ".exe";
        EXPECT_TRUE(CopyFileA(HelperProgram().c_str(), exe.c_str(), TRUE)) << exe;
        files_.push_back(exe);
        return exe;
    }

    // Starts `exe` with the arguments and waits until its windows exist.
    Helper& Start(const std::string& exe, const std::string& args)
    {
        auto helper = std::make_unique<Helper>();
        helper->exe = exe;
        helper->log = dir_ + "\\log " + std::to_string(helpers_.size()) + ".txt";
        files_.push_back(helper->log);
        std::string commandLine = "\"" + exe + "\" \"--log=" + helper->log + "\" " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const BOOL started =
            CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        EXPECT_TRUE(started) << commandLine;
        if (started) {
            helper->pid = pi.dwProcessId;
            helper->process.Reset(pi.hProcess);
            UniqueKernelHandle thread(pi.hThread);
            const int64_t deadline = MillisecondClock() + 30000;
            while (!helper->Logged("ready") && helper->Running() && MillisecondClock() < deadline)
                Sleep(20);
            EXPECT_TRUE(helper->Logged("ready")) << commandLine;
        }
        helpers_.push_back(std::move(helper));
        return *helpers_.back();
    }

    std::string dir_;
    std::vector<std::string> files_;
    std::vector<std::unique_ptr<Helper>> helpers_;
};

// A window of this thread that counts the messages it is sent, to see that the waits dispatch.
class PumpProbe {
public:
    PumpProbe()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "UlvProcessTestPump";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
        count_ = 0;
    }
    ~PumpProbe() { DestroyWindow(window_); }
    void Post() { PostMessageA(window_, WM_APP + 1, 0, 0); }
    int Count() const { return count_; }

private:
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
    {
        if (m == WM_APP + 1) {
            ++count_;
            return 0;
        }
        return DefWindowProcA(w, m, wp, lp);
    }
    HWND window_ = nullptr;
    static inline int count_ = 0;
};

TEST_F(Process, MatchesByFullPathFileNameAndShortForm)
{
    const std::string exe = HelperCopy("ulv helper matching");
    const Helper& helper = Start(exe, "hu");
    const std::string shortPath = ShortPathOf(exe);
    ASSERT_FALSE(shortPath.empty());
    ASSERT_FALSE(SameText(shortPath, exe)) << "the folder name has no separate short form";
    const struct {
        std::string what, path;
        bool fullPathOnly;
        bool found;
    } cases[] = {
        {"full path", exe, false, true},
        {"full path, full path only", exe, true, true},
        {"other letter case and blanks around", "  " + UpperCase(exe) + " ", true, true},
        {"bare file name", FileNameOf(exe), false, true},
        {"bare file name in capitals", UpperCase(FileNameOf(exe)), false, true},
        {"bare file name, full path only", FileNameOf(exe), true, false},
        {"short form", shortPath, true, true},
        {"file that does not exist", dir_ + "\\no such program.exe", false, false},
        {"the folder", dir_, false, false},
        {"empty path", "", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindProcessByPath(c.path, c.fullPathOnly, false), c.found ? helper.pid : 0u) << c.what;

    EXPECT_TRUE(IsProcessRunning(" \"" + exe + "\" "));
    EXPECT_TRUE(IsProcessRunning(FileNameOf(exe)));
    EXPECT_FALSE(IsProcessRunning(dir_ + "\\no such program.exe"));
}

TEST_F(Process, SeveralMatchesGiveTheLastOrTheFirstInTheList)
{
    const std::string exe = HelperCopy("ulv helper twice");
    const DWORD first = Start(exe, "hu").pid;
    const DWORD second = Start(exe, "hu").pid;
    const DWORD last = FindProcessByPath(exe, true, false);
    const DWORD firstInList = FindProcessByPath(exe, true, true);
    EXPECT_EQ((std::set<DWORD>{last, firstInList}), (std::set<DWORD>{first, second}));
    // The list order is the system's: check the choice against it.
    const std::vector<DWORD> ids = ListProcessIds();
    const auto at = [&](DWORD id) { return std::find(ids.begin(), ids.end(), id) - ids.begin(); };
    EXPECT_LT(at(firstInList), at(last));
}

TEST_F(Process, AProgramFileMovedAwayStillMatchesByItsFullPath)
{
    const std::string exe = HelperCopy("ulv helper moved");
    const Helper& helper = Start(exe, "hu");
    const std::string moved = dir_ + "\\ulv helper moved elsewhere.exe";
    ASSERT_TRUE(MoveFileA(exe.c_str(), moved.c_str()));
    files_.push_back(moved);
    ASSERT_EQ(GetFileAttributesA(exe.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FindProcessByPath(exe, true, false), helper.pid);
    EXPECT_EQ(FindProcessByPath(FileNameOf(exe), false, false), helper.pid);
    // The file under its new name is not what the process was started from.
    EXPECT_EQ(FindProcessByPath(moved, false, false), 0u);
}

TEST_F(Process, MainWindowIsChosenByScore)
{
    const struct {
        std::string what, windows;
        int main;   // index of the WINDOW argument, -1: none
    } cases[] = {
        {"one hidden untitled window", "hu", -1},
        {"visible titled beats hidden titled", "ht vt", 1},
        {"... in either order", "vt ht", 0},
        {"a title beats visibility", "vu ht", 1},
        {"an owner of two windows beats both", "ht vt hu+2", 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string exe = HelperCopy("ulv helper score " + std::to_string(i));
        const Helper& helper = Start(exe, c.windows);
        const std::vector<HWND> windows = helper.Windows();
        ASSERT_EQ(windows.size(), static_cast<size_t>(std::count(c.windows.begin(), c.windows.end(), ' ') + 1));
        EXPECT_EQ(ProcessMainWindow(exe, true), c.main < 0 ? nullptr : windows[static_cast<size_t>(c.main)])
            << c.what;
    }
}

TEST_F(Process, WindowsBeyondTheTableAreIgnored)
{
    // Owned windows lie above their owner: the 2010 owned windows come first and fill the
    // table of 2001, and their owner, which would win with its owned windows, is never reached.
    const std::string exe = HelperCopy("ulv helper crowded");
    Start(exe, "hu+2010");
    EXPECT_EQ(ProcessMainWindow(exe, true), nullptr);
}

TEST_F(Process, MessagesGoToTheMainWindow)
{
    const struct {
        std::string what;
        std::function<bool(const std::string& exe)> post;
        std::string received;
        long long exitCode;   // -1: the program keeps running
    } cases[] = {
        {"close", [](const std::string& exe) { return CloseProcessWindow(exe, true); }, "WM_CLOSE 15 255 window=1", 41},
        {"quit", [](const std::string& exe) { return QuitProcessWindow(exe, true); }, "WM_QUIT 15 255 window=1", 15},
        {"any message",
         [](const std::string& exe) { return PostProcessMessage(exe, true, WM_APP + 7, 3, 4); },
         "WM_APP+7 3 4 window=1", -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string exe = HelperCopy("ulv helper message " + std::to_string(i));
        const Helper& helper = Start(exe, "--exit=41 ht vt");
        EXPECT_TRUE(c.post(exe)) << c.what;
        EXPECT_EQ(helper.ExitCode(c.exitCode < 0 ? 1500 : 20000), c.exitCode) << c.what;
        EXPECT_TRUE(helper.Logged(c.received)) << c.what;
    }
}

TEST_F(Process, NothingIsPostedWithoutAMainWindow)
{
    const struct {
        std::string what, windows;
        bool bareName;
    } cases[] = {
        {"only a hidden untitled window", "hu", false},
        {"bare file name with full path only", "vt", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string exe = HelperCopy("ulv helper unposted " + std::to_string(i));
        const Helper& helper = Start(exe, c.windows);
        const std::string path = c.bareName ? FileNameOf(exe) : exe;
        EXPECT_FALSE(CloseProcessWindow(path, true)) << c.what;
        EXPECT_FALSE(QuitProcessWindow(path, true)) << c.what;
        EXPECT_EQ(helper.ExitCode(1500), -1) << c.what;
        EXPECT_EQ(helper.LogLines().back(), "ready") << c.what;
    }
}

TEST_F(Process, TerminateEndsTheMatchingProcessWithExitCodeZero)
{
    const std::string exe = HelperCopy("ulv helper terminated");
    const Helper& helper = Start(exe, "--exit=41 vt");
    EXPECT_FALSE(TerminateProcessByPath(FileNameOf(exe), true));
    EXPECT_TRUE(helper.Running());
    EXPECT_TRUE(IsProcessIdAlive(helper.pid));

    EXPECT_TRUE(TerminateProcessByPath(FileNameOf(exe), false));
    EXPECT_EQ(helper.ExitCode(), 0);
    EXPECT_FALSE(IsProcessRunning(exe));
    EXPECT_FALSE(TerminateProcessByPath(exe, false));
    // Gone from the system's list once its last handle is closed.
    const DWORD pid = helper.pid;
    helpers_.clear();
    const int64_t deadline = MillisecondClock() + 10000;
    while (IsProcessIdAlive(pid) && MillisecondClock() < deadline)
        Sleep(50);
    EXPECT_FALSE(IsProcessIdAlive(pid));
}

TEST_F(Process, ListProcessIdsHoldsThisProcessAndTheHelper)
{
    const Helper& helper = Start(HelperCopy("ulv helper listed"), "hu");
    const std::vector<DWORD> ids = ListProcessIds();
    EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentProcessId()), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), helper.pid), ids.end());
    EXPECT_EQ(std::set<DWORD>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_TRUE(IsProcessIdAlive(GetCurrentProcessId()));
}

TEST_F(Process, WaitWhileProcessRuns)
{
    const struct {
        std::string what;
        std::string helperArgs;   // empty: no process at all
        int64_t limit, atLeast, atMost;
        bool runsAfter;
    } cases[] = {
        {"a program that does not run", "", 0, 900, 2500, false},
        {"until the program ends", "--lifetime=2500 hu", 0, 2400, 6000, false},
        {"until the limit has passed", "hu", 1500, 1500, 4500, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string exe = HelperCopy("ulv helper waited " + std::to_string(i));
        const Helper* helper = c.helperArgs.empty() ? nullptr : &Start(exe, c.helperArgs);
        PumpProbe probe;
        probe.Post();
        const int64_t ms = Elapsed([&] { WaitWhileProcessRuns("\"" + exe + "\"", c.limit); });
        EXPECT_GE(ms, c.atLeast) << c.what;
        EXPECT_LE(ms, c.atMost) << c.what;
        EXPECT_EQ(probe.Count(), 1) << c.what << ": messages were not handled";
        if (helper) {
            EXPECT_EQ(helper->Running(), c.runsAfter) << c.what;
        }
    }
}

TEST_F(Process, WaitWhileWindowExists)
{
    const std::string cls = "UlvHelper" + std::to_string(GetCurrentProcessId());
    const struct {
        std::string what, className, title;
        bool helperRuns;
        int64_t atLeast, atMost;
    } cases[] = {
        {"by class", cls + "a", "", true, 1400, 6000},
        {"by title", "", cls + "b window 0", true, 1400, 6000},
        {"by class and title", cls + "c", cls + "c window 0", true, 1400, 6000},
        {"no such window", cls + "d", "", false, 0, 500},
        {"class and title both empty", "", "", false, 0, 500},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string name = cls + static_cast<char>('a' + i);
        if (c.helperRuns)
            Start(HelperCopy("ulv helper window " + std::to_string(i)), "--lifetime=1500 --class=" + name + " vt");
        PumpProbe probe;
        probe.Post();
        const int64_t ms = Elapsed([&] { WaitWhileWindowExists(c.className, c.title); });
        EXPECT_GE(ms, c.atLeast) << c.what;
        EXPECT_LE(ms, c.atMost) << c.what;
        EXPECT_EQ(FindWindowA(name.c_str(), nullptr), nullptr) << c.what;
        if (c.helperRuns) {
            EXPECT_EQ(probe.Count(), 1) << c.what << ": messages were not handled";
        }
    }
}

TEST(ProcessWindows, RootOwnerIsTheEndOfTheOwnerChain)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UlvRootOwnerTest";
    RegisterClassA(&wc);
    const auto make = [&](HWND owner) {
        return CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, owner, nullptr, wc.hInstance,
                               nullptr);
    };
    const HWND top = make(nullptr);
    const HWND middle = make(top);
    const HWND bottom = make(middle);
    ASSERT_TRUE(top && middle && bottom);
    EXPECT_EQ(RootOwner(bottom), top);
    EXPECT_EQ(RootOwner(middle), top);
    EXPECT_EQ(RootOwner(top), nullptr);
    EXPECT_EQ(RootOwner(nullptr), nullptr);
    DestroyWindow(top);   // takes the owned windows with it
}

TEST(SystemLibrary, LoadsFromTheSystemFolderOnly)
{
    char folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryA(folder, sizeof folder);
    ASSERT_GT(n, 0u);
    const std::string systemFolder = SetTrailingBackslash(std::string(folder, n), true);
    const struct {
        std::string name;
        bool loads;
    } cases[] = {
        {"kernel32.dll", true},
        {"USP10.dll", true},
        {"no such library.dll", false},
        {"", false},
        {systemFolder + "kernel32.dll", false},   // names only: a folder is never taken
        {"..\\system32\\kernel32.dll", false},
        {"sub/kernel32.dll", false},
    };
    for (const auto& c : cases) {
        UniqueModule module(LoadSystemLibrary(c.name));
        EXPECT_EQ(module.Valid(), c.loads) << c.name;
        if (!module)
            continue;
        char path[MAX_PATH + 1] = {};
        const DWORD len = GetModuleFileNameA(module.Get(), path, MAX_PATH);
        EXPECT_TRUE(SameText(std::string(path, len), systemFolder + c.name)) << path;
    }
}

TEST(SystemLibrary, LoadProcGivesTheAddressAndTheModule)
{
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    UniqueModule module;
    EXPECT_EQ(LoadProc("kernel32.dll", "GetTickCount", module), GetProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(module.Get(), kernel);
    EXPECT_EQ(LoadProc("kernel32.dll", "NoSuchFunctionAnywhere", module), nullptr);
    EXPECT_EQ(LoadProc("no such library.dll", "GetTickCount", module), nullptr);
    EXPECT_FALSE(module.Valid());
    EXPECT_EQ(LoadProc("kernel32.dll", "GetTickCount"), GetProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(LoadProc("kernel32.dll", "NoSuchFunctionAnywhere"), nullptr);
}

}  // namespace
