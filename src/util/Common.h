#pragma once
// Path macros: texts written by the setup author (such as the INFO value "RunningProcess") may
// name folders, drives, user names and dates of the computer the agent runs on as macros in angle
// brackets, "<InstallDir>\run.exe" for instance. The expander is portable: everything it needs
// from the system comes through a PathMacroSources object, which the Win32 edge (CommonWin.cpp)
// fills from the system and tests fill with fixed values. Macros are matched ignoring case; a
// macro that is not known stays in the text. Nothing here fails: a value that cannot be had is
// empty.
#include <cstdint>
#include <string>

#include "util/PathText.h"

// The folders a macro can stand for, besides the three installation folders of SetInstallFolders.
enum class PathFolder {
    Windows,              // without trailing backslash, as every folder below
    System,
    System16,             // the 16-bit system folder, or the system folder on systems without one
    Fonts,
    RegistryStartMenu,    // the registry's "Shell Folders" value "Start Menu"
    RegistryProgramFiles,
    RegistryCommonFiles,
    Exe,                  // the folder of the running executable
    Origin,               // the folder of the launcher the user started
    Temp,
    UserProfile,
    UserAppData,
    UserLocalAppData,
    UserDocuments,
    UserStartMenu,
    UserPrograms,
    UserDesktop,
    AllProfiles,          // the folder that holds every user's profile
    AllUsersProfile,
    AllUsersAppData,
    AllUsersDocuments,
    AllUsersStartMenu,
    AllUsersPrograms,
    AllUsersDesktop,
};

// The local date and time of the moment, as the clock shows it.
struct LocalMoment {
    int year = 2000;
    int month = 1;    // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// What the expander asks of the system. Each value is asked for only when the text holds a macro
// that needs it: some folder queries make the shell create the folder, and the domain lookup can
// wait on the network, so a text without those macros must not set them off.
class PathMacroSources {
public:
    virtual ~PathMacroSources() = default;

    virtual std::string LoggedUserName() const = 0;       // the logged-on user
    virtual std::string RegisteredOwner() const = 0;
    virtual std::string RegisteredOrganization() const = 0;
    virtual std::string ComputerName() const = 0;
    virtual std::string UserDomain() const = 0;

    virtual LocalMoment Now() const = 0;
    virtual std::string MonthName(int month) const = 0;   // full name in the user's language
    virtual char DateSeparator() const = 0;
    virtual char TimeSeparator() const = 0;

    virtual std::string Folder(PathFolder folder) const = 0;
    // `path` resolved against the current folder; empty when it cannot be resolved.
    virtual std::string FullPath(const std::string& path) const = 0;
    // The code page's test for the first byte of a double-byte character.
    virtual LeadByteTest LeadBytes() const = 0;
};

// Stores the installation, common and auxiliary folders (the ".original" keys "TargetDir",
// "SharedDir" and "AuxiliaryDir") for every later expansion, unchanged; empty until called.
void SetInstallFolders(const std::string& install, const std::string& common, const std::string& auxiliary);

// Every macro of the text replaced. `suffix` (one backslash for paths) follows each folder value
// unless the macro ends the text, is followed by a blank or by the closing quote of a quoted text;
// the doubled backslashes that leaves are collapsed again. Without `folderMacros` only dates,
// names and setup-entry values are replaced. With `normaliseDots` ".." segments are resolved
// (NormaliseDotSegments), also in texts without any macro.
std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool normaliseDots,
                             bool folderMacros, const PathMacroSources& sources);

// Every occurrence of `macro` (ignoring case) replaced by `value` and `suffix`; the suffix is
// left out when, where the macro first occurs, it ends the text, is followed by a blank, or is
// followed by the character that both starts and ends the text (other than "<" or a letter), as
// the closing quote of '"<InstallDir>"'.
std::string ReplaceFolderMacro(const std::string& text, const std::string& macro, const std::string& value,
                               const std::string& suffix);

// A text holding "\.." or "..\" resolved to its full path; a list string (first character "," or
// "|") item by item, leaving items without dot segments alone. A text or item that cannot be
// resolved stays as it is.
std::string NormaliseDotSegments(const std::string& text, const PathMacroSources& sources);

// The text of "<Date=code>" for the codes "#" and "0" to "7"; empty for any other code. "/" and
// ":" in the patterns stand for the locale's separators.
std::string PathMacroDateText(char code, const LocalMoment& now, const std::string& monthName, char dateSep,
                              char timeSep);

#ifdef _WIN32
// --- the Win32 edge (CommonWin.cpp) --------------------------------------------------------
// The sources as the running system answers them.
const PathMacroSources& SystemPathMacroSources();
std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool normaliseDots,
                             bool folderMacros);
std::string NormaliseDotSegments(const std::string& text);

// The launcher the user started: the "/OriginExe" value of the command line (read once), or the
// running executable when there is none.
std::string OriginExePath();
// Its folder without trailing backslash (settled on first use), or the running executable's.
std::string OriginFolder();
// The system folder without its last "32" when that folder exists, else the Windows folder's
// "System" when that exists, else the system folder.
std::string System16Folder();
// The registry's "Fonts" shell folder when it exists, else the Windows folder's "Fonts".
std::string FontsFolder();
std::string RegistryStartMenuFolder();
std::string RegistryProgramFilesFolder();
std::string RegistryCommonFilesFolder();
#endif
