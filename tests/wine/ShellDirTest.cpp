// The folder sources of the path macros (util/ShellDir, util/CommonWin) against the real shell,
// registry and folders of the Wine prefix, and the fallback chains walked with a shell that
// knows nothing, over real folders made in the temporary area.
#include "util/ShellDir.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "util/Common.h"
#include "util/Handles.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr int CsidlPersonalCreate = 0x8005;
constexpr int CsidlDesktopDirectory = 16;
constexpr int CsidlCommonAppDataCreate = 0x8023;

std::string Env(const char* name)
{
    char buf[1024] = {};
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string ParentOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

// A string value set for the test and put back as it was (or removed) afterwards.
class RegistryValueOverride {
public:
    RegistryValueOverride(HKEY root, const std::string& subkey, const std::string& name, const std::string& value)
        : name_(name)
    {
        HKEY opened = nullptr;
        if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &opened, nullptr) !=
            ERROR_SUCCESS)
            return;
        key_.Reset(opened);
        std::string old(4096, '\0');
        DWORD size = static_cast<DWORD>(old.size());
        if (RegQueryValueExA(key_.Get(), name.c_str(), nullptr, &oldType_, reinterpret_cast<BYTE*>(old.data()),
                             &size) == ERROR_SUCCESS)
            old_ = old.substr(0, size);
        set_ = RegSetValueExA(key_.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    ~RegistryValueOverride()
    {
        if (!key_)
            return;
        if (old_)
            RegSetValueExA(key_.Get(), name_.c_str(), 0, oldType_, reinterpret_cast<const BYTE*>(old_->data()),
                           static_cast<DWORD>(old_->size()));
        else
            RegDeleteValueA(key_.Get(), name_.c_str());
    }
    RegistryValueOverride(const RegistryValueOverride&) = delete;
    RegistryValueOverride& operator=(const RegistryValueOverride&) = delete;
    bool Set() const { return set_; }

private:
    UniqueRegKey key_;
    std::string name_;
    std::optional<std::string> old_;
    DWORD oldType_ = REG_SZ;
    bool set_ = false;
};

constexpr char ShellFoldersSubkey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// --- the real shell of the prefix ----------------------------------------------------------

TEST(ShellDir, BothWaysAnswerWithExistingFolders)
{
    const std::string documents = ShellFolderPath(CsidlPersonalCreate);
    const std::string desktop = ShellSpecialFolderPath(CsidlDesktopDirectory);
    EXPECT_TRUE(FolderExists(documents)) << documents;
    EXPECT_TRUE(FolderExists(desktop)) << desktop;
    EXPECT_EQ(ShellFolderPath(-1), "");   // a number the shell does not know
}

TEST(ShellDir, ProfileFoldersFollowTheDocuments)
{
    const std::string profile = ShellFolder(ShellFolderId::UserProfile);
    EXPECT_TRUE(SameText(profile, Env("USERPROFILE"))) << profile;
    EXPECT_TRUE(SameText(ShellFolder(ShellFolderId::UserDocuments), ShellFolderPath(CsidlPersonalCreate)));
    EXPECT_TRUE(SameText(ShellFolder(ShellFolderId::AllProfiles), ParentOf(profile)));
}

TEST(ShellDir, EveryFolderExistsOnTheRealSystem)
{
    for (ShellFolderId id :
         {ShellFolderId::UserDocuments, ShellFolderId::UserProfile, ShellFolderId::AllProfiles,
          ShellFolderId::UserAppData, ShellFolderId::UserLocalAppData, ShellFolderId::AllUsersProfile,
          ShellFolderId::AllUsersAppData, ShellFolderId::AllUsersDocuments, ShellFolderId::UserStartMenu,
          ShellFolderId::AllUsersStartMenu, ShellFolderId::UserPrograms, ShellFolderId::AllUsersPrograms,
          ShellFolderId::UserDesktop, ShellFolderId::AllUsersDesktop}) {
        const std::string folder = ShellFolder(id);
        EXPECT_TRUE(FolderExists(folder)) << static_cast<int>(id) << ": " << folder;
    }
    EXPECT_TRUE(SameText(ShellFolder(ShellFolderId::UserAppData), Env("APPDATA")));
    EXPECT_TRUE(SameText(ShellFolder(ShellFolderId::UserLocalAppData), Env("LOCALAPPDATA")));
}

// --- the fallback chains, with a shell that has no answers ---------------------------------

// A Windows folder of its own under the temporary area, where the test decides which folders
// exist; the shell's answers come from `answers` (empty: the shell does not know the number).
class FallbackShell : public ShellFolderQueries {
public:
    std::string SpecialFolderPath(int csidl) const override { return Answer(csidl); }
    std::string FolderPath(int csidl) const override { return Answer(csidl); }
    std::string WindowsFolder() const override { return windows; }
    std::string RegisteredOwner() const override { return "Owner"; }

    std::string Answer(int csidl) const
    {
        const auto found = answers.find(csidl);
        return found == answers.end() ? std::string() : found->second;
    }
    std::string windows;
    std::map<int, std::string> answers;
};

class ShellDirFallbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = TempFolder(true) + "ulv_shelldir_" + std::to_string(GetCurrentProcessId()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(Make(root_));
        shell.windows = Make(root_ + "\\Win") ? root_ + "\\Win" : "";
    }
    void TearDown() override
    {
        // Deepest first; every folder made here is empty.
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            RemoveDirectoryA(it->c_str());
    }
    bool Make(const std::string& folder)
    {
        if (!CreateDirectoryA(folder.c_str(), nullptr))
            return false;
        made_.push_back(folder);
        return true;
    }

    FallbackShell shell;
    std::string root_;

private:
    std::vector<std::string> made_;
};

TEST_F(ShellDirFallbacks, WithoutProfilesEverythingLivesInTheWindowsFolder)
{
    const std::string w = shell.windows;
    const std::pair<ShellFolderId, std::string> cases[] = {
        {ShellFolderId::UserDocuments, w + "\\My Documents"},
        {ShellFolderId::UserProfile, w},
        {ShellFolderId::AllProfiles, w},
        {ShellFolderId::UserAppData, w + "\\Application Data"},
        {ShellFolderId::UserLocalAppData, w + "\\Application Data"},
        {ShellFolderId::AllUsersProfile, w},
        {ShellFolderId::AllUsersAppData, w + "\\Application Data"},
        {ShellFolderId::AllUsersDocuments, w + "\\Documents"},
        // The user's profile (the Windows folder) has no start menu yet: the all-users one is
        // taken untested, and is the same folder here.
        {ShellFolderId::UserStartMenu, w + "\\Start Menu"},
        {ShellFolderId::AllUsersStartMenu, w + "\\Start Menu"},
        {ShellFolderId::UserPrograms, w + "\\Start Menu\\Programs"},
        {ShellFolderId::AllUsersPrograms, w + "\\Start Menu\\Programs"},
        {ShellFolderId::UserDesktop, w + "\\Desktop"},
        {ShellFolderId::AllUsersDesktop, w + "\\Desktop"},
    };
    for (const auto& [id, expected] : cases)
        EXPECT_EQ(ShellFolder(id, shell), expected) << static_cast<int>(id);
}

TEST_F(ShellDirFallbacks, ProfilesFolderOfTheOwnerWhenItExists)
{
    const std::string profile = shell.windows + "\\Profiles\\Owner";
    ASSERT_TRUE(Make(shell.windows + "\\Profiles") && Make(profile));
    EXPECT_EQ(ProfilesFallbackFolder(shell), profile);
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDocuments, shell), profile + "\\My Documents");
    EXPECT_EQ(ShellFolder(ShellFolderId::UserProfile, shell), profile);
    // The user's desktop once it exists, before the all-users one.
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDesktop, shell), shell.windows + "\\Desktop");
    ASSERT_TRUE(Make(profile + "\\Desktop"));
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDesktop, shell), profile + "\\Desktop");
}

TEST_F(ShellDirFallbacks, ShellAnswersCountOnlyForExistingFolders)
{
    const std::string users = root_ + "\\Users";
    const std::string documents = users + "\\ann\\Documents";
    shell.answers[CsidlPersonalCreate] = documents;
    shell.answers[CsidlDesktopDirectory] = root_ + "\\Missing";
    // The documents folder does not exist yet: every profile folder falls back.
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDocuments, shell), shell.windows + "\\My Documents");
    EXPECT_EQ(ShellFolder(ShellFolderId::AllProfiles, shell), shell.windows);

    ASSERT_TRUE(Make(users) && Make(users + "\\ann") && Make(documents));
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDocuments, shell), documents);
    EXPECT_EQ(ShellFolder(ShellFolderId::UserProfile, shell), users + "\\ann");
    EXPECT_EQ(ShellFolder(ShellFolderId::AllProfiles, shell), users);
    // The parent of a folder right below a drive's root is the root, with its backslash.
    shell.answers[CsidlCommonAppDataCreate] = WindowsFolder(false);
    EXPECT_EQ(ShellFolder(ShellFolderId::AllUsersProfile, shell), WindowsFolder(false).substr(0, 3));
    // A desktop the shell names but that does not exist gives way to the profile's.
    ASSERT_TRUE(Make(users + "\\ann\\Desktop"));
    EXPECT_EQ(ShellFolder(ShellFolderId::UserDesktop, shell), users + "\\ann\\Desktop");
}

// --- the folder sources of CommonWin ---------------------------------------------------------

TEST(CommonWinFolders, RegistryFolders)
{
    EXPECT_TRUE(SameText(RegistryProgramFilesFolder(), Env("ProgramFiles")));
    EXPECT_TRUE(SameText(RegistryCommonFilesFolder(), Env("CommonProgramFiles")));
    const std::string marker = TempFolder(true) + "ulv start menu";
    const RegistryValueOverride startMenu(HKEY_CURRENT_USER, ShellFoldersSubkey, "Start Menu", marker);
    ASSERT_TRUE(startMenu.Set());
    EXPECT_EQ(RegistryStartMenuFolder(), marker);
    EXPECT_EQ(ExpandPathMacros("<StartMenuDir>\\x.lnk", "\\", false, true), marker + "\\x.lnk");
}

TEST(CommonWinFolders, FontsFolderOnlyWhenItExists)
{
    const std::string temp = TempFolder(false);
    {
        const RegistryValueOverride fonts(HKEY_CURRENT_USER, ShellFoldersSubkey, "Fonts", temp);
        ASSERT_TRUE(fonts.Set());
        EXPECT_EQ(FontsFolder(), temp);
    }
    const RegistryValueOverride fonts(HKEY_CURRENT_USER, ShellFoldersSubkey, "Fonts", temp + "\\ulv-no-such-folder");
    ASSERT_TRUE(fonts.Set());
    EXPECT_EQ(FontsFolder(), WindowsFolder(true) + "Fonts");
}

TEST(CommonWinFolders, System16Folder)
{
    // 'C:\windows\system32' without its "32" is also the Windows folder's "System".
    const std::string system16 = WindowsFolder(true) + "system";
    const bool made = !FolderExists(system16) && CreateDirectoryA(system16.c_str(), nullptr);
    EXPECT_TRUE(SameText(System16Folder(), system16));
    if (made) {
        RemoveDirectoryA(system16.c_str());
        EXPECT_EQ(System16Folder(), SystemFolder(false));
    }
}

TEST(CommonWinFolders, OriginIsTheOwnProgramWithoutTheSwitch)
{
    EXPECT_EQ(OriginExePath(), ExePath());
    EXPECT_EQ(OriginFolder(), ExeFolder(false));
}

// --- the expansion with the system's own sources --------------------------------------------

TEST(CommonWinExpansion, SystemValues)
{
    SetInstallFolders("C:\\App", "", "");
    const std::string windows = WindowsFolder(false);
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"<WinDir>\\x.exe", windows + "\\x.exe"},
        {"<WinDrive>", windows.substr(0, 3)},
        {"<TempDir>", TempFolder(false)},
        {"<SrcDir>\\a.ini", ExeFolder(true) + "a.ini"},
        {"<UserDir>\\a", Env("USERPROFILE") + "\\a"},
        {"<ComputerName>", ComputerName()},
        {"<InstallDir>\\..\\run.exe", "C:\\run.exe"},
        {"|C:\\a\\..\\x|D:\\y|", "|C:\\x|D:\\y|"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(SameText(ExpandPathMacros(c.text, "\\", true, true), c.expected)) << c.text;
    SetInstallFolders("", "", "");
}

TEST(CommonWinExpansion, DateOfToday)
{
    char expected[32] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "yyyy'-'MM'-'dd", expected, sizeof expected);
    const std::string date = ExpandPathMacros("<Date=6>", "\\", false, false);
    char after[32] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "yyyy'-'MM'-'dd", after, sizeof after);
    // Around midnight the day may turn during the expansion.
    EXPECT_TRUE(date == expected || date == after) << date;

    char month[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "MMMM", month, sizeof month);
    EXPECT_NE(ExpandPathMacros("<Date=#>", "", false, false).find(month), std::string::npos);
}

}  // namespace
