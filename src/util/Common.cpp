#include "util/Common.h"

#include <algorithm>
#include <cstddef>

#include "util/USUB.h"
#include "util/Utils.h"

namespace {

// The folders handed in by the update step; they stay until the next SetInstallFolders.
struct InstallFolders {
    std::string install;
    std::string common;
    std::string auxiliary;
};

InstallFolders& Installed()
{
    static InstallFolders folders;
    return folders;
}

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool HasDotSegment(const std::string& text)
{
    return text.find("\\..") != std::string::npos || text.find("..\\") != std::string::npos;
}

// Day number of a civil date (proleptic Gregorian), counted from 1 January 1970.
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string Two(int value)
{
    return ZeroPad(value, 2);
}

// "<Date=code>": only the first occurrence is looked at, and only when a ">" follows it. The six
// characters "<Date=" go; for a known code the code and the character after it (normally the
// ">") give way to the date text. Any other code leaves the text as it was.
std::string ReplaceDateMacro(const std::string& text, const PathMacroSources& sources)
{
    const int pos = PosCI("<Date=", text);
    if (pos == 0)
        return text;
    const size_t at = static_cast<size_t>(pos) - 1;
    const size_t codeAt = at + 6;
    if (text.find('>', codeAt) == std::string::npos)
        return text;
    // The ">" found above lies at or after codeAt, so the code character exists.
    const char code = text[codeAt];
    const bool known = code == '#' || (code >= '0' && code <= '7');
    if (!known)
        return text;
    const LocalMoment now = sources.Now();
    const std::string monthName = code == '#' ? sources.MonthName(now.month) : std::string();
    std::string out = text.substr(0, at);
    out += PathMacroDateText(code, now, monthName, sources.DateSeparator(), sources.TimeSeparator());
    out += text.substr(std::min(codeAt + 2, text.size()));
    return out;
}

// `macro` replaced everywhere by what `value` gives; the value is asked for only when the macro
// occurs.
template <class Value>
void ReplaceIfPresent(std::string& text, const char* macro, Value value)
{
    if (PosCI(macro, text) > 0)
        text = ReplaceTextCI(text, macro, value());
}

std::string Head(const std::string& text, size_t count)
{
    return text.substr(0, std::min(count, text.size()));
}

// Rows of the folder table, in their fixed order. `snapshot` is the text before any of them.
std::string ReplaceFolderMacros(std::string text, const std::string& snapshot, const std::string& suffix,
                                const PathMacroSources& sources)
{
    const InstallFolders& installed = Installed();
    auto folderOf = [&sources](PathFolder which) { return [&sources, which] { return sources.Folder(which); }; };
    auto fixed = [](const std::string& value) { return [&value] { return value; }; };
    // Folder value and suffix; the value is asked for only when the macro occurs.
    auto withSuffix = [&text, &suffix](const char* macro, auto value) {
        if (PosCI(macro, text) > 0)
            text = ReplaceFolderMacro(text, macro, value(), suffix);
    };
    auto bare = [&text](const char* macro, auto value) {
        if (PosCI(macro, text) > 0)
            text = ReplaceFolderMacro(text, macro, value(), "");
    };
    auto remove = [&text](const char* macro) { text = ReplaceFolderMacro(text, macro, "", ""); };
    auto drive = [](auto value, size_t count) { return [value, count] { return Head(value(), count); }; };

    text = ReplaceTextCI(text, "<UnInstallExePath>", "");
    // This system defines no run-time folders: their macros leave only the suffix.
    if (PosCI("<RunTimeDir_", text) > 0)
        for (int n = 1; n <= 8; ++n)
            text = ReplaceFolderMacro(text, "<RunTimeDir_" + IntToStr(n) + ">", "", suffix);
    withSuffix("<Application Folder>", fixed(installed.install));
    withSuffix("<Common Folder>", fixed(installed.common));
    withSuffix("<Auxiliary Folder>", fixed(installed.auxiliary));
    withSuffix("<Windows Directory>", folderOf(PathFolder::Windows));
    withSuffix("<System Directory>", folderOf(PathFolder::System));
    withSuffix("<System16 Directory>", folderOf(PathFolder::System16));
    // A text written with the macros above is of the older kind, in which the installation
    // macros below have no meaning: they go.
    if (text != snapshot) {
        remove("<InstallDir>");
        remove("<InstallCommonDir>");
        remove("<InstallAuxDir>");
    }
    remove("<AbsoluteDir>");
    withSuffix("<InstallDir>", fixed(installed.install));
    withSuffix("<InstallCommonDir>", fixed(installed.common));
    withSuffix("<InstallAuxDir>", fixed(installed.auxiliary));
    remove("<AbsoluteDir>");
    withSuffix("<WinDir>", folderOf(PathFolder::Windows));
    withSuffix("<WinSysDir>", folderOf(PathFolder::System));
    withSuffix("<WinSys32Dir>", folderOf(PathFolder::System));
    withSuffix("<WinSys16Dir>", folderOf(PathFolder::System16));
    bare("<InstallDrive>", drive(fixed(installed.install), 3));
    bare("<WinDrive>", drive(folderOf(PathFolder::Windows), 3));
    bare("<WinSysDrive>", drive(folderOf(PathFolder::System), 3));
    bare("<OriginDrive>", drive(folderOf(PathFolder::Origin), 3));
    bare("<InstallDisk>", drive(fixed(installed.install), 2));
    bare("<WinDisk>", drive(folderOf(PathFolder::Windows), 2));
    bare("<WinSysDisk>", drive(folderOf(PathFolder::System), 2));
    bare("<OriginDisk>", drive(folderOf(PathFolder::Origin), 2));
    withSuffix("<StartMenuDir>", folderOf(PathFolder::RegistryStartMenu));
    withSuffix("<ProgramFilesDir>", folderOf(PathFolder::RegistryProgramFiles));
    withSuffix("<CommonFilesDir>", folderOf(PathFolder::RegistryCommonFiles));
    withSuffix("<FontDir>", folderOf(PathFolder::Fonts));
    withSuffix("<SrcDir>", folderOf(PathFolder::Exe));
    withSuffix("<OriginDir>", folderOf(PathFolder::Origin));
    withSuffix("<TempDir>", folderOf(PathFolder::Temp));
    withSuffix("<ServiceDir>", folderOf(PathFolder::Exe));
    withSuffix("<UserDir>", folderOf(PathFolder::UserProfile));
    withSuffix("<UserAppDataDir>", folderOf(PathFolder::UserAppData));
    withSuffix("<UserLocalAppDataDir>", folderOf(PathFolder::UserLocalAppData));
    withSuffix("<MyDocumentsDir>", folderOf(PathFolder::UserDocuments));
    withSuffix("<UserStartMenuDir>", folderOf(PathFolder::UserStartMenu));
    withSuffix("<UserStartProgramMenuDir>", folderOf(PathFolder::UserPrograms));
    withSuffix("<UserDesktopDir>", folderOf(PathFolder::UserDesktop));
    withSuffix("<DocumentsAndSettingsDir>", folderOf(PathFolder::AllProfiles));
    withSuffix("<AllUsersDir>", folderOf(PathFolder::AllUsersProfile));
    withSuffix("<AllUsersAppDataDir>", folderOf(PathFolder::AllUsersAppData));
    withSuffix("<AllUsersDocumentsDir>", folderOf(PathFolder::AllUsersDocuments));
    withSuffix("<AllUsersStartMenuDir>", folderOf(PathFolder::AllUsersStartMenu));
    withSuffix("<AllUsersStartProgramMenuDir>", folderOf(PathFolder::AllUsersPrograms));
    withSuffix("<AllUsersDesktopDir>", folderOf(PathFolder::AllUsersDesktop));
    return text;
}

}  // namespace

void SetInstallFolders(const std::string& install, const std::string& common, const std::string& auxiliary)
{
    Installed() = InstallFolders{install, common, auxiliary};
}

std::string PathMacroDateText(char code, const LocalMoment& now, const std::string& monthName, char dateSep,
                              char timeSep)
{
    const std::string dd = Two(now.day);
    const std::string mm = Two(now.month);
    const std::string yy = Two(now.year % 100);
    const std::string yyyy = ZeroPad(now.year, 4);
    switch (code) {
    case '#':
        return dd + dateSep + monthName + dateSep + yyyy;
    case '0': {
        const int64_t days = DaysFromCivil(now.year, now.month, now.day) - DaysFromCivil(2000, 1, 1);
        const int64_t seconds = days * 86400 + now.hour * 3600 + now.minute * 60 + now.second;
        return IntToStr(seconds / 86400);   // whole days, cut toward zero
    }
    case '1':
        return dd + '-' + mm + '-' + yy;
    case '2':
        return mm + '-' + dd + '-' + yy;
    case '3':
        return yy + '-' + mm + '-' + dd;
    case '4':
        return dd + '-' + mm + '-' + yyyy;
    case '5':
        return mm + '-' + dd + '-' + yyyy;
    case '6':
        return yyyy + '-' + mm + '-' + dd;
    case '7':
        return yyyy + '-' + mm + '-' + dd + ' ' + Two(now.hour) + timeSep + Two(now.minute) + timeSep +
               Two(now.second);
    default:
        return "";
    }
}

std::string ReplaceFolderMacro(const std::string& text, const std::string& macro, const std::string& value,
                               const std::string& suffix)
{
    const int pos = PosCI(macro, text);
    if (pos == 0)
        return text;
    const size_t after = static_cast<size_t>(pos) - 1 + macro.size();
    bool dropSuffix = after >= text.size() || text[after] == ' ';
    if (!dropSuffix) {
        // The closing quote (or other enclosing character) of a text such as '"<InstallDir>"'.
        const char next = text[after];
        dropSuffix = text.front() == text.back() && next == text.front() && next != '<' && !IsAsciiLetter(next);
    }
    return ReplaceTextCI(text, macro, dropSuffix ? value : value + suffix);
}

std::string NormaliseDotSegments(const std::string& text, const PathMacroSources& sources)
{
    if (!HasDotSegment(text))
        return text;
    const int32_t count = SUB::Count(text);
    if ((text.front() == ',' || text.front() == '|') && count > 0) {
        std::string list = text;
        for (int32_t i = 0; i < count; ++i) {
            const std::string item = SUB::Item(list, i, "");
            if (!HasDotSegment(item))
                continue;
            const std::string full = sources.FullPath(item);
            if (!full.empty())
                list = SUB::SetItem(list, i, full);
        }
        return list;
    }
    // A path the system cannot resolve is better kept than lost.
    const std::string full = sources.FullPath(text);
    return full.empty() ? text : full;
}

std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool normaliseDots,
                             bool folderMacros, const PathMacroSources& sources)
{
    std::string result = text;
    if (text.find('<') != std::string::npos) {
        std::string work = ReplaceDateMacro(text, sources);

        ReplaceIfPresent(work, "<LoggedUserName>", [&] { return sources.LoggedUserName(); });
        ReplaceIfPresent(work, "<UserName>", [&] { return sources.RegisteredOwner(); });
        ReplaceIfPresent(work, "<CompanyName>", [&] { return sources.RegisteredOrganization(); });
        ReplaceIfPresent(work, "<ComputerName>", [&] { return sources.ComputerName(); });
        ReplaceIfPresent(work, "<CurrentDomainName>", [&] { return sources.UserDomain(); });
        ReplaceIfPresent(work, "<LastExecutableExitCode>", [] { return std::string("0"); });

        // Values the setup engine asks the user for; the agent never has them.
        for (const char* entry : {"<EnteredUserName>", "<EnteredCompanyName>", "<EnteredSerialNum>",
                                  "<EnteredStartProgramMenu>", "<VendorCompanyName>", "<ProjectName>",
                                  "<ProgramDescriptiveName>", "<ProgramVersion>", "<SelectedLanguage>"})
            work = ReplaceTextCI(work, entry, "");

        const std::string snapshot = work;
        result = snapshot;
        if (folderMacros) {
            work = ReplaceFolderMacros(work, snapshot, suffix, sources);
            // Only joined folder values leave doubled backslashes; a text without them keeps its
            // own.
            if (work != snapshot)
                result = CollapseBackslashesOf(work, false, sources.LeadBytes());
        }
    }
    if (normaliseDots)
        result = NormaliseDotSegments(result, sources);
    return result;
}
