// Path macros of util/Common, expanded against fixed sources: a computer whose folders, names and
// clock are known, so that every expected text can be written down.
#include "util/Common.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// One folder per kind, each different, so that a macro answered from the wrong source shows.
const std::map<PathFolder, std::string> Folders = {
    {PathFolder::Windows, "C:\\WINDOWS"},
    {PathFolder::System, "C:\\WINDOWS\\system32"},
    {PathFolder::System16, "C:\\WINDOWS\\system"},
    {PathFolder::Fonts, "C:\\WINDOWS\\Fonts"},
    {PathFolder::RegistryStartMenu, "C:\\Reg\\Start Menu"},
    {PathFolder::RegistryProgramFiles, "C:\\Program Files"},
    {PathFolder::RegistryCommonFiles, "C:\\Program Files\\Common Files"},
    {PathFolder::Exe, "E:\\Agent"},
    {PathFolder::Origin, "D:\\Media"},
    {PathFolder::Temp, "C:\\Temp"},
    {PathFolder::UserProfile, "C:\\Users\\ann"},
    {PathFolder::UserAppData, "C:\\Users\\ann\\Roaming"},
    {PathFolder::UserLocalAppData, "C:\\Users\\ann\\Local"},
    {PathFolder::UserDocuments, "C:\\Users\\ann\\Documents"},
    {PathFolder::UserStartMenu, "C:\\Users\\ann\\Start Menu"},
    {PathFolder::UserPrograms, "C:\\Users\\ann\\Start Menu\\Programs"},
    {PathFolder::UserDesktop, "C:\\Users\\ann\\Desktop"},
    {PathFolder::AllProfiles, "C:\\Users"},
    {PathFolder::AllUsersProfile, "C:\\ProgramData"},
    {PathFolder::AllUsersAppData, "C:\\ProgramData\\AppData"},
    {PathFolder::AllUsersDocuments, "C:\\Users\\Public\\Documents"},
    {PathFolder::AllUsersStartMenu, "C:\\ProgramData\\Start Menu"},
    {PathFolder::AllUsersPrograms, "C:\\ProgramData\\Start Menu\\Programs"},
    {PathFolder::AllUsersDesktop, "C:\\Users\\Public\\Desktop"},
};

class FixedSources : public PathMacroSources {
public:
    std::string LoggedUserName() const override { return "ann"; }
    std::string RegisteredOwner() const override { return "Ann Owner"; }
    std::string RegisteredOrganization() const override { return "Acme"; }
    std::string ComputerName() const override { return "PC7"; }
    std::string UserDomain() const override { return "WORK"; }
    // 6 December 2026, 09:05:03; the locale writes dates with "." and times with ".".
    LocalMoment Now() const override { return LocalMoment{2026, 12, 6, 9, 5, 3}; }
    std::string MonthName(int month) const override { return month == 12 ? "December" : "?"; }
    char DateSeparator() const override { return '.'; }
    char TimeSeparator() const override { return '.'; }
    std::string Folder(PathFolder folder) const override
    {
        asked.insert(folder);
        return Folders.at(folder);
    }
    // Resolves dot segments as the system would, relative paths against 'C:\Cur'; a path with
    // "?" cannot be resolved.
    std::string FullPath(const std::string& path) const override
    {
        ++fullPathCalls;
        if (path.find('?') != std::string::npos)
            return "";
        const std::string absolute = path.size() > 1 && path[1] == ':' ? path : "C:\\Cur\\" + path;
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            const size_t end = absolute.find('\\', start);
            const std::string part = absolute.substr(start, end == std::string::npos ? end : end - start);
            if (part == "..") {
                if (parts.size() > 1)
                    parts.pop_back();
            } else if (part != ".") {
                parts.push_back(part);
            }
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        std::string out;
        for (const std::string& part : parts)
            out += (out.empty() ? "" : "\\") + part;
        return out;
    }
    LeadByteTest LeadBytes() const override { return NoLeadBytes; }

    mutable std::set<PathFolder> asked;
    mutable int fullPathCalls = 0;
};

class CommonPathMacros : public ::testing::Test {
protected:
    void SetUp() override { SetInstallFolders("C:\\App", "C:\\Shared", "C:\\Aux"); }
    void TearDown() override { SetInstallFolders("", "", ""); }

    std::string Expand(const std::string& text, bool normalise = true, bool folders = true) const
    {
        return ExpandPathMacros(text, "\\", normalise, folders, sources);
    }

    FixedSources sources;
};

struct ExpandCase {
    std::string text;
    std::string expected;
};

TEST_F(CommonPathMacros, ExpandsTheCasesOfTheUpdateStep)
{
    const ExpandCase cases[] = {
        {"<InstallDir>\\run.exe", "C:\\App\\run.exe"},              // doubled backslash collapsed
        {"\"<InstallDir>\"", "\"C:\\App\""},                        // closing quote: no suffix
        {"<InstallDir> /x", "C:\\App /x"},                          // blank: no suffix
        {"<installdir>run.exe", "C:\\App\\run.exe"},                // letter case ignored
        {"<InstallDir>", "C:\\App"},                                // end of text: no suffix
        {"<InstallCommonDir>x;<InstallAuxDir>y", "C:\\Shared\\x;C:\\Aux\\y"},
        // Once a macro of the older kind has replaced something, the installation macros go.
        {"<Application Folder>\\a.exe;<InstallDir>\\b.exe", "C:\\App\\a.exe;\\b.exe"},
        {"<Common Folder>x<InstallCommonDir>", "C:\\Shared\\x"},
        {"<RunTimeDir_2>\\x.exe", "\\\\x.exe"},                     // empty value: the suffix stays
        {"<RunTimeDir_9>\\x.exe", "<RunTimeDir_9>\\x.exe"},         // only 1 to 8 are known
        {"<UnInstallExePath>\\u.exe", "\\u.exe"},
        {"<AbsoluteDir>C:\\x", "C:\\x"},
        {"<InstallDrive>Tools", "C:\\Tools"},
        {"<InstallDisk>\\Tools", "C:\\Tools"},
        {"<OriginDrive>setup.exe", "D:\\setup.exe"},
        {"<WinDisk><WinSysDisk><OriginDisk>", "C:C:D:"},
        {"<LastExecutableExitCode>", "0"},
        {"<EnteredUserName>", ""},
        {"a<ProgramVersion>b<SelectedLanguage>c", "abc"},
        {"<Foo>\\x", "<Foo>\\x"},
        {"<LoggedUserName>|<UserName>|<CompanyName>|<ComputerName>|<CurrentDomainName>",
         "ann|Ann Owner|Acme|PC7|WORK"},
        {"C:\\App\\..\\run.exe", "C:\\run.exe"},                    // dots resolved without any macro
        {"<InstallDir>\\..\\run.exe", "C:\\run.exe"},
    };
    for (const ExpandCase& c : cases)
        EXPECT_EQ(Expand(c.text), c.expected) << c.text;
}

TEST_F(CommonPathMacros, EveryFolderMacroTakesItsOwnFolder)
{
    const std::pair<const char*, PathFolder> rows[] = {
        {"<Windows Directory>", PathFolder::Windows},
        {"<System Directory>", PathFolder::System},
        {"<System16 Directory>", PathFolder::System16},
        {"<WinDir>", PathFolder::Windows},
        {"<WinSysDir>", PathFolder::System},
        {"<WinSys32Dir>", PathFolder::System},
        {"<WinSys16Dir>", PathFolder::System16},
        {"<StartMenuDir>", PathFolder::RegistryStartMenu},
        {"<ProgramFilesDir>", PathFolder::RegistryProgramFiles},
        {"<CommonFilesDir>", PathFolder::RegistryCommonFiles},
        {"<FontDir>", PathFolder::Fonts},
        {"<SrcDir>", PathFolder::Exe},
        {"<OriginDir>", PathFolder::Origin},
        {"<TempDir>", PathFolder::Temp},
        {"<ServiceDir>", PathFolder::Exe},
        {"<UserDir>", PathFolder::UserProfile},
        {"<UserAppDataDir>", PathFolder::UserAppData},
        {"<UserLocalAppDataDir>", PathFolder::UserLocalAppData},
        {"<MyDocumentsDir>", PathFolder::UserDocuments},
        {"<UserStartMenuDir>", PathFolder::UserStartMenu},
        {"<UserStartProgramMenuDir>", PathFolder::UserPrograms},
        {"<UserDesktopDir>", PathFolder::UserDesktop},
        {"<DocumentsAndSettingsDir>", PathFolder::AllProfiles},
        {"<AllUsersDir>", PathFolder::AllUsersProfile},
        {"<AllUsersAppDataDir>", PathFolder::AllUsersAppData},
        {"<AllUsersDocumentsDir>", PathFolder::AllUsersDocuments},
        {"<AllUsersStartMenuDir>", PathFolder::AllUsersStartMenu},
        {"<AllUsersStartProgramMenuDir>", PathFolder::AllUsersPrograms},
        {"<AllUsersDesktopDir>", PathFolder::AllUsersDesktop},
    };
    for (const auto& [macro, folder] : rows) {
        sources.asked.clear();
        EXPECT_EQ(Expand(std::string(macro) + "\\x.exe"), Folders.at(folder) + "\\x.exe") << macro;
        // Only the folder the text names is asked for: some shell queries create their folder.
        EXPECT_EQ(sources.asked, std::set<PathFolder>{folder}) << macro;
    }
}

TEST_F(CommonPathMacros, TextWithoutFolderMacrosAsksForNoFolder)
{
    EXPECT_EQ(Expand("<InstallDir>\\<ComputerName>.log <Date=6>"), "C:\\App\\PC7.log 2026-12-06");
    EXPECT_TRUE(sources.asked.empty());
}

TEST_F(CommonPathMacros, FolderMacrosOnlyWithTheirFlag)
{
    // Without the flag, names and dates still go, folders stay, and nothing is collapsed.
    EXPECT_EQ(Expand("<InstallDir>\\\\<ComputerName>", true, false), "<InstallDir>\\\\PC7");
    // With it, backslashes are collapsed only when a folder macro has replaced something.
    EXPECT_EQ(Expand("C:\\\\a\\\\<ComputerName>"), "C:\\\\a\\\\PC7");
    EXPECT_EQ(Expand("C:\\\\a\\\\<WinDir>"), "C:\\a\\C:\\WINDOWS");
}

TEST_F(CommonPathMacros, EmptyInstallationFolderLeavesNothingOrTheSuffix)
{
    SetInstallFolders("", "", "");
    EXPECT_EQ(Expand("<InstallDrive>"), "");
    EXPECT_EQ(Expand("<InstallDir>run.exe"), "\\run.exe");
}

TEST_F(CommonPathMacros, DateCodes)
{
    const ExpandCase cases[] = {
        {"<Date=#>", "06.December.2026"},
        {"<Date=0>", "9836"},                     // days since 1 January 2000
        {"<Date=1>", "06-12-26"},
        {"<Date=2>", "12-06-26"},
        {"<Date=3>", "26-12-06"},
        {"<Date=4>", "06-12-2026"},
        {"<Date=5>", "12-06-2026"},
        {"<Date=6>", "2026-12-06"},
        {"<date=7>", "2026-12-06 09.05.03"},
        {"<Date=9>", "<Date=9>"},                 // unknown code: the text stays
        {"<Date=6", "<Date=6"},                   // no closing ">"
        {"a<Date=1>b<Date=1>", "a06-12-26b<Date=1>"},
    };
    for (const ExpandCase& c : cases)
        EXPECT_EQ(Expand(c.text), c.expected) << c.text;
}

TEST(CommonDateText, DayCountBeforeTheEndOfTheFirstDay)
{
    EXPECT_EQ(PathMacroDateText('0', LocalMoment{2000, 1, 1, 23, 59, 59}, "", '/', ':'), "0");
    EXPECT_EQ(PathMacroDateText('0', LocalMoment{2000, 3, 1, 0, 0, 0}, "", '/', ':'), "60");   // leap year
}

TEST(CommonReplaceFolderMacro, SuffixRule)
{
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"<X>", "V"},                       // the macro ends the text
        {"<X> a", "V a"},                   // a blank follows
        {"\"<X>\"", "\"V\""},               // the closing quote of a quoted text
        {"|<X>|", "|V|"},
        {"1<X>1", "1V1"},                   // a digit counts as an enclosing character
        {"a<X>a", "aV\\a"},                 // a letter does not
        {"<<X><", "<V\\<"},                 // nor does "<"
        {"\"<X>\\\"", "\"V\\\\\""},         // quoted, but the quote does not follow the macro
        {"<x> <X>y", "V Vy"},               // the first occurrence decides for all
        {"<X>y <X>", "V\\y V\\"},
        {"none", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceFolderMacro(c.text, "<X>", "V", "\\"), c.expected) << c.text;
}

TEST(CommonDotSegments, WholeTextsAndListItems)
{
    FixedSources sources;
    const ExpandCase cases[] = {
        {"C:\\App\\..\\run.exe", "C:\\run.exe"},
        {"..\\run.exe", "C:\\run.exe"},
        {"|C:\\a\\..\\x|D:\\y|", "|C:\\x|D:\\y|"},
        {",C:\\a\\..\\x,b\\..\\c,", ",C:\\x,C:\\Cur\\c,"},
        {",a\\..\\b", "C:\\Cur\\b"},                    // not a closed list: one path
        {"C:\\?\\..\\x", "C:\\?\\..\\x"},               // cannot be resolved: kept
        {"|C:\\?\\..\\x|C:\\a\\..\\y|", "|C:\\?\\..\\x|C:\\y|"},
    };
    for (const ExpandCase& c : cases)
        EXPECT_EQ(NormaliseDotSegments(c.text, sources), c.expected) << c.text;

    sources.fullPathCalls = 0;
    EXPECT_EQ(NormaliseDotSegments("C:\\a..b\\.\\c", sources), "C:\\a..b\\.\\c");
    EXPECT_EQ(sources.fullPathCalls, 0);
}

}  // namespace
