// The Win32 edge of the general helpers (util/UtilsWin): INI files, registry reads, folders,
// version, user and screen information, run against the real system functions under Wine.
#include "util/UtilsWin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "util/Handles.h"
#include "util/Utils.h"

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// This test program started with this argument only reports DeveloperMode() in its exit code
// (71 on, 70 off) and ends before any test runs: a fresh process is the only way to see the
// first, and therefore kept, answer for a chosen environment.
constexpr const char* DeveloperModeProbeArg = "--ulv-developer-mode-probe";
[[maybe_unused]] const bool DeveloperModeProbe = [] {
    if (std::string(GetCommandLineA()).find(DeveloperModeProbeArg) != std::string::npos)
        ExitProcess(DeveloperMode() ? 71 : 70);
    return false;
}();

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsVersionText(const std::string& text)
{
    int parts = 1;
    bool digit = false;
    for (char c : text) {
        if (c == '.') {
            if (!digit)
                return false;
            ++parts;
            digit = false;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            return false;
        }
    }
    return digit && parts == 4;
}

// --- INI files -------------------------------------------------------------------------------

// Every test gets a folder of its own in the temporary area; the system caches INI files by
// name, so each file is written once only.
class IniFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = TempFolder(true) + "ulv_ini_" + std::to_string(GetCurrentProcessId()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr) || IsFolder(folder_));
        folder_ += "\\";
    }
    void TearDown() override
    {
        for (const std::string& file : files_)
            DeleteFileA(file.c_str());
        RemoveDirectoryA(StripTrailingBackslash(folder_).c_str());
    }
    // The file `name` in the test's folder, to be removed afterwards.
    std::string File(const std::string& name)
    {
        files_.push_back(folder_ + name);
        return files_.back();
    }
    std::string WriteFile(const std::string& name, const std::string& content)
    {
        const std::string path = File(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string folder_;
    std::vector<std::string> files_;
};

const char* const Settings =
    "[Main]\r\n"
    "Plain=value\r\n"
    "Blanks=   padded value   \r\n"
    "Quoted=\"  kept blanks  \"\r\n"
    "Empty=\r\n"
    "Num=-5\r\n"
    "Bad=12x\r\n"
    "Big=9223372036854775807\r\n"
    "Spaced= 42 \r\n"
    "[Other]\r\n"
    "Plain=other\r\n";

TEST_F(IniFiles, ReadStringGivesTheValueOrTheDefault)
{
    const std::string file = WriteFile("settings.ini", Settings);
    const struct {
        std::string file, section, key, expected;
    } cases[] = {
        {file, "Main", "Plain", "value"},
        {file, "MAIN", "plain", "value"},                 // names ignore case
        {file, "Main", "Blanks", "padded value"},         // blanks around the value go
        {file, "Main", "Quoted", "  kept blanks  "},      // enclosing quotes go, blanks inside stay
        {file, "Main", "Empty", "dflt"},                  // an empty value is no value
        {file, "Main", "Missing", "dflt"},
        {file, "Nowhere", "Plain", "dflt"},
        {file, "Other", "Plain", "other"},
        {folder_ + "missing.ini", "Main", "Plain", "dflt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadIniString(c.file, c.section, c.key, "dflt"), c.expected) << c.section << "/" << c.key;
}

TEST_F(IniFiles, EmptySectionNameGivesTheDefaultWithoutAskingTheSystem)
{
    const std::string file = WriteFile("settings.ini", Settings);
    // The system records the outcome of every lookup in the thread's last error; a lookup that
    // never happens leaves it alone.
    for (const std::string& path : {file, folder_ + "missing\\missing.ini"}) {
        SetLastError(12345);
        EXPECT_EQ(ReadIniString(path, "", "Plain", "dflt"), "dflt") << path;
        EXPECT_EQ(GetLastError(), 12345u) << path;
    }
    SetLastError(12345);
    EXPECT_EQ(ReadIniString(folder_ + "missing\\missing.ini", "Main", "Plain", "dflt"), "dflt");
    EXPECT_NE(GetLastError(), 12345u) << "a real lookup should have set the last error";
}

TEST_F(IniFiles, ReadIntGivesTheNumberOrTheDefault)
{
    const std::string file = WriteFile("settings.ini", Settings);
    const struct {
        std::string key;
        int64_t def, expected;
    } cases[] = {
        {"Num", 7, -5},
        {"Bad", 7, 7},
        {"Empty", 7, 7},
        {"Plain", 7, 7},
        {"Missing", -9, -9},
        {"Missing", std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::min()},
        {"Big", 0, std::numeric_limits<int64_t>::max()},
        {"Spaced", 0, 42},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadIniInt(file, "Main", c.key, c.def), c.expected) << c.key;
    EXPECT_EQ(ReadIniInt(folder_ + "missing.ini", "Main", "Num", 3), 3);
}

TEST_F(IniFiles, WritesCreateFileSectionAndKey)
{
    const std::string file = File("new.ini");
    ASSERT_FALSE(IsFile(file));
    EXPECT_TRUE(WriteIniString(file, "Main", "Text", "hello world"));
    EXPECT_TRUE(IsFile(file));
    EXPECT_TRUE(WriteIniInt(file, "Numbers", "Low", std::numeric_limits<int64_t>::min()));
    EXPECT_TRUE(WriteIniInt(file, "Numbers", "High", std::numeric_limits<int64_t>::max()));
    EXPECT_TRUE(WriteIniString(file, "Main", "Text", "replaced"));
    EXPECT_EQ(ReadIniString(file, "Main", "Text", "dflt"), "replaced");
    EXPECT_EQ(ReadIniInt(file, "Numbers", "Low", 0), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ReadIniInt(file, "Numbers", "High", 0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadIniString(file, "Numbers", "High", ""), "9223372036854775807");
}

TEST_F(IniFiles, WriteIntoAMissingFolderFails)
{
    const std::string file = folder_ + "missing\\new.ini";
    EXPECT_FALSE(WriteIniString(file, "Main", "Text", "x"));
    EXPECT_FALSE(WriteIniInt(file, "Main", "Number", 1));
    EXPECT_FALSE(IsFile(file));
}

TEST_F(IniFiles, AtMost10240CharactersArrive)
{
    const std::string file = File("long.ini");
    for (const size_t length : {size_t{10240}, size_t{10241}, size_t{12000}}) {
        const std::string key = "K" + std::to_string(length);
        ASSERT_TRUE(WriteIniString(file, "Main", key, std::string(length, 'a')));
        EXPECT_EQ(ReadIniString(file, "Main", key, "dflt"), std::string(std::min<size_t>(length, 10240), 'a'))
            << length;
    }
}

// --- registry --------------------------------------------------------------------------------

constexpr const char* TestKey = "Software\\UlvTest";

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY created = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                                  nullptr),
                  ERROR_SUCCESS);
        key_.Reset(created);
        Set("Text", REG_SZ, "hello world\0"s);
        Set("Padded", REG_SZ, "  padded  \0"s);
        Set("Dword", REG_DWORD, "\xFF\xFF\xFF\xFF"s);
        Set("Small", REG_DWORD, "\x2A\x00\x00\x00"s);
        Set("Multi", REG_MULTI_SZ, "a\0b\0\0"s);
        Set("Expand", REG_EXPAND_SZ, "%TEMP%\\x\0"s);
        Set("Binary", REG_BINARY, "ab\0cd"s);
        Set("Fits", REG_BINARY, std::string(10241, 'x'));
        Set("TooBig", REG_BINARY, std::string(10242, 'x'));
        Set("", REG_SZ, "unnamed\0"s);
    }
    void TearDown() override
    {
        key_.Reset();
        RegDeleteKeyA(HKEY_CURRENT_USER, TestKey);
    }
    void Set(const char* name, DWORD type, const std::string& data)
    {
        ASSERT_EQ(RegSetValueExA(key_.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS)
            << name;
    }

    UniqueRegKey key_;
};

TEST_F(Registry, ValuesAsText)
{
    const struct {
        std::string value, expected;
    } cases[] = {
        {"Text", "hello world"},
        {"Padded", "  padded  "},
        {"Dword", "4294967295"},
        {"Small", "42"},
        {"Multi", "a<0>b"},
        {"Expand", "%TEMP%\\x"},                 // not expanded
        {"Binary", "ab"},
        {"Fits", std::string(10241, 'x')},
        {"TooBig", "dflt"},                       // larger than the buffer
        {"Missing", "dflt"},
        {"", "unnamed"},
    };
    for (const bool view64 : {false, true})
        for (const auto& c : cases)
            EXPECT_EQ(ReadRegistryString("HKCU\\Software\\UlvTest", c.value, "dflt", view64), c.expected)
                << c.value << " view64=" << view64;
}

TEST_F(Registry, KeyPathsNameTheirRoot)
{
    const struct {
        std::string path, expected;
    } cases[] = {
        {"HKEY_CURRENT_USER\\Software\\UlvTest", "hello world"},
        {" hkcu\\Software\\UlvTest ", "hello world"},
        {"Software\\UlvTest", "hello world"},        // no root: the current user's
        {"HKXX\\Software\\UlvTest", "hello world"},  // unknown root: the current user's
        {"HKLM\\Software\\UlvTest", "dflt"},
        {"HKCU\\Software\\UlvTest\\Missing", "dflt"},
        {"HKCU\\\\Software\\UlvTest", "dflt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadRegistryString(c.path, "Text", "dflt"), c.expected) << c.path;
}

TEST(RegistryRoots, NamesGiveThePredefinedKeys)
{
    const struct {
        std::string name;
        HKEY root;
    } cases[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER}, {"hkcu", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKLM", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS}, {"HKU", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKCC", HKEY_CURRENT_CONFIG},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA}, {"HKDD", HKEY_DYN_DATA},
        {"HKEY_PERFORMANCE_DATA", HKEY_CURRENT_USER}, {"elsewhere", HKEY_CURRENT_USER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegistryRoot(c.name), c.root) << c.name;
    std::string subkey;
    EXPECT_EQ(SplitRegistryPath("HKLM\\SOFTWARE\\X", subkey), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(subkey, "SOFTWARE\\X");
    EXPECT_EQ(SplitRegistryPath("HKU", subkey), HKEY_USERS);
    EXPECT_EQ(subkey, "");
    // A root's own values are read through a path without a subkey.
    EXPECT_EQ(ReadRegistryString("HKLM", "UlvNoSuchValue", "dflt"), "dflt");
}

TEST(SystemInformation, WindowsVersionKeyAndRegisteredNames)
{
    EXPECT_TRUE(IsWindowsNT());
    EXPECT_EQ(WindowsVersionKey(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    // Read the same values without the helpers' path handling: a registered name, when there
    // is one, is given back trimmed; the owner falls back to the user's name.
    const auto raw = [](const char* value, std::string& text) {
        char buf[1024] = {};
        DWORD size = sizeof buf;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", value,
                         RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
            return false;
        text = buf;
        return true;
    };
    std::string owner, organization;
    EXPECT_EQ(RegisteredOwnerName(), raw("RegisteredOwner", owner) ? Trim(owner) : UserName());
    EXPECT_EQ(RegisteredOrganizationName(), raw("RegisteredOrganization", organization) ? Trim(organization) : "");
}

TEST(SystemInformation, UserAndComputer)
{
    const auto environment = [](const char* name) {
        char buf[256] = {};
        const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
        return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
    };
    const struct {
        std::string value, variable;
    } cases[] = {
        {UserName(), "USERNAME"},
        {ComputerName(), "COMPUTERNAME"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.value.empty()) << c.variable;
        EXPECT_EQ(c.value, Trim(c.value));
        EXPECT_TRUE(SameText(c.value, environment(c.variable.c_str()))) << c.value;
    }
    const std::string domain = UserDomain();
    EXPECT_FALSE(domain.empty());
    EXPECT_EQ(domain, Trim(domain));
    EXPECT_EQ(domain.find('\0'), std::string::npos);
}

// --- folders and path texts --------------------------------------------------------------------

TEST(Folders, WindowsSystemAndTemporaryFolders)
{
    const struct {
        const char* name;
        std::string (*folder)(bool);
    } cases[] = {
        {"Windows", WindowsFolder},
        {"System", SystemFolder},
        {"Temp", TempFolder},
        {"Exe", ExeFolder},
    };
    for (const auto& c : cases) {
        const std::string bare = c.folder(false);
        ASSERT_GE(bare.size(), 3u) << c.name;
        EXPECT_NE(bare.back(), '\\') << c.name;
        EXPECT_EQ(c.folder(true), bare + "\\") << c.name;
        EXPECT_TRUE(IsFolder(bare)) << c.name << " " << bare;
    }
    EXPECT_TRUE(IsFile(SystemFolder(true) + "kernel32.dll"));
    char windir[MAX_PATH + 1] = {};
    GetEnvironmentVariableA("windir", windir, sizeof windir);
    EXPECT_TRUE(SameText(WindowsFolder(false), windir)) << windir;
}

TEST(Folders, PathTextsOfTheSystemCodePage)
{
    EXPECT_EQ(StripTrailingBackslash("\\"), "");
    EXPECT_EQ(StripTrailingBackslash("C:\\dir\\"), "C:\\dir");
    EXPECT_EQ(SetTrailingBackslash("C:\\", false), "C:");
    EXPECT_EQ(CollapseBackslashes("C:\\\\dir\\\\x", false), "C:\\dir\\x");
    EXPECT_EQ(CollapseBackslashes("\\\\server\\share\\\\", true), "\\\\server\\share\\");
}

// --- version, errors, windows, screen, shell ------------------------------------------------

TEST(Version, FileVersionText)
{
    // This test program carries no version resource.
    EXPECT_EQ(FileVersionText(""), "");
    EXPECT_EQ(FileVersionText(ExePath()), "");
    EXPECT_EQ(FileVersionText(SystemFolder(true) + "ulv-no-such-file.dll"), "");
    const std::string kernel = FileVersionText(SystemFolder(true) + "kernel32.dll");
    EXPECT_TRUE(IsVersionText(kernel)) << kernel;
}

TEST(Errors, LastErrorText)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    const std::string notFound = LastErrorText();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));   // kept for the caller
    SetLastError(ERROR_ACCESS_DENIED);
    const std::string denied = LastErrorText();
    for (const std::string& text : {notFound, denied}) {
        ASSERT_FALSE(text.empty());
        EXPECT_LE(text.size(), 255u);
        EXPECT_GT(static_cast<unsigned char>(text.back()), 32) << text;
        EXPECT_NE(text.back(), '.') << text;
    }
    EXPECT_NE(notFound, denied);
    SetLastError(0x3FFFFFFF);   // no text for this one
    EXPECT_EQ(LastErrorText(), "No system text for error 1073741823");
}

TEST(Windows, WindowText)
{
    EXPECT_EQ(WindowText(nullptr), "");
    for (const std::string& caption : {"Caption of a window"s, std::string(2000, 'c')}) {
        const HWND window = CreateWindowExA(0, "STATIC", caption.c_str(), 0, 0, 0, 10, 10, nullptr, nullptr,
                                            GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        const ScopeExit destroy([window] { DestroyWindow(window); });
        EXPECT_EQ(WindowText(window), caption.substr(0, 1023));
    }
}

TEST(Screen, PointsToPixels)
{
    const int perInch = PointsToPixels(72);   // a full inch
    ASSERT_GT(perInch, 0);
    for (const int points : {0, 8, 9, 10, 11, 12, -10, 1000})
        EXPECT_EQ(PointsToPixels(points), static_cast<int>(std::lround(points * perInch / 72.0))) << points;
}

TEST(Shell, ShellRun)
{
    EXPECT_FALSE(ShellRun(SystemFolder(true) + "ulv-no-such-program.exe", "", SW_HIDE));
    EXPECT_TRUE(ShellRun(SystemFolder(true) + "cmd.exe", "/c exit 0", SW_HIDE));
}

// --- developer mode ----------------------------------------------------------------------------

// DeveloperMode() of a fresh copy of this program started with DVX set to `value` (unset when
// null): 1 on, 0 off, -1 when the copy did not report.
int DeveloperModeOfACopy(const char* value)
{
    char saved[64] = {};
    const DWORD savedLength = GetEnvironmentVariableA("DVX", saved, sizeof saved);
    SetEnvironmentVariableA("DVX", value);
    const ScopeExit restore([&] { SetEnvironmentVariableA("DVX", savedLength > 0 ? saved : nullptr); });
    std::string line = "\"";
    line += ExePath();
    line += "\" ";
    line += DeveloperModeProbeArg;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    const UniqueKernelHandle process(pi.hProcess);
    const UniqueKernelHandle thread(pi.hThread);
    if (WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return code == 71 ? 1 : code == 70 ? 0 : -1;
}

TEST(DeveloperModeTest, OnOnlyWhenDvxHolds994)
{
    const struct {
        const char* value;
        int expected;
    } cases[] = {
        {"994", 1},
        {"0994", 0},
        {"994 ", 0},
        {"99", 0},
        {nullptr, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeveloperModeOfACopy(c.value), c.expected) << (c.value ? c.value : "(unset)");
}

TEST(DeveloperModeTest, FirstAnswerIsKept)
{
    const bool first = DeveloperMode();
    char saved[64] = {};
    const DWORD savedLength = GetEnvironmentVariableA("DVX", saved, sizeof saved);
    SetEnvironmentVariableA("DVX", first ? "0" : "994");
    EXPECT_EQ(DeveloperMode(), first);
    SetEnvironmentVariableA("DVX", savedLength > 0 ? saved : nullptr);
}

}  // namespace
