#include <windows.h>

#include "util/Common.h"

#include <string>
#include <vector>

#include "util/ShellDir.h"
#include "util/UtilsWin.h"

namespace {

constexpr char ShellFoldersKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char StartMenuKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char CurrentVersionKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool SystemLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != FALSE;
}

// The folder part of a path without trailing backslash; empty for a bare file name.
std::string FolderOf(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? std::string() : SetTrailingBackslash(path.substr(0, cut + 1), false);
}

std::string FullPathOf(const std::string& path)
{
    if (path.empty())
        return "";
    // Asked twice when the first buffer is too small: the answer is never cut.
    std::vector<char> buf(MAX_PATH + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0)
            return "";
        if (n < buf.size())
            return std::string(buf.data(), n);
        buf.resize(static_cast<size_t>(n) + 1);
    }
    return "";
}

ShellFolderId ShellFolderFor(PathFolder folder)
{
    switch (folder) {
    case PathFolder::UserProfile:
        return ShellFolderId::UserProfile;
    case PathFolder::UserAppData:
        return ShellFolderId::UserAppData;
    case PathFolder::UserLocalAppData:
        return ShellFolderId::UserLocalAppData;
    case PathFolder::UserDocuments:
        return ShellFolderId::UserDocuments;
    case PathFolder::UserStartMenu:
        return ShellFolderId::UserStartMenu;
    case PathFolder::UserPrograms:
        return ShellFolderId::UserPrograms;
    case PathFolder::UserDesktop:
        return ShellFolderId::UserDesktop;
    case PathFolder::AllProfiles:
        return ShellFolderId::AllProfiles;
    case PathFolder::AllUsersProfile:
        return ShellFolderId::AllUsersProfile;
    case PathFolder::AllUsersAppData:
        return ShellFolderId::AllUsersAppData;
    case PathFolder::AllUsersDocuments:
        return ShellFolderId::AllUsersDocuments;
    case PathFolder::AllUsersStartMenu:
        return ShellFolderId::AllUsersStartMenu;
    case PathFolder::AllUsersPrograms:
        return ShellFolderId::AllUsersPrograms;
    default:
        return ShellFolderId::AllUsersDesktop;
    }
}

// Every answer straight from the system, at every call: the expander keeps nothing.
class SystemSources final : public PathMacroSources {
public:
    std::string LoggedUserName() const override { return ::UserName(); }
    std::string RegisteredOwner() const override { return RegisteredOwnerName(); }
    std::string RegisteredOrganization() const override { return RegisteredOrganizationName(); }
    std::string ComputerName() const override { return ::ComputerName(); }
    std::string UserDomain() const override { return ::UserDomain(); }

    LocalMoment Now() const override
    {
        SYSTEMTIME st{};
        GetLocalTime(&st);
        return LocalMoment{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    }
    std::string MonthName(int month) const override
    {
        if (month < 1 || month > 12)
            return "";
        char buf[128] = {};
        const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + month - 1), buf,
                                     sizeof buf);
        return n > 1 ? std::string(buf, static_cast<size_t>(n) - 1) : std::string();
    }
    char DateSeparator() const override { return LocaleDateSeparator(); }
    char TimeSeparator() const override { return LocaleTimeSeparator(); }

    std::string Folder(PathFolder folder) const override
    {
        switch (folder) {
        case PathFolder::Windows:
            return WindowsFolder(false);
        case PathFolder::System:
            return SystemFolder(false);
        case PathFolder::System16:
            return System16Folder();
        case PathFolder::Fonts:
            return FontsFolder();
        case PathFolder::RegistryStartMenu:
            return RegistryStartMenuFolder();
        case PathFolder::RegistryProgramFiles:
            return RegistryProgramFilesFolder();
        case PathFolder::RegistryCommonFiles:
            return RegistryCommonFilesFolder();
        case PathFolder::Exe:
            return ExeFolder(false);
        case PathFolder::Origin:
            return OriginFolder();
        case PathFolder::Temp:
            return TempFolder(false);
        default:
            return ShellFolder(ShellFolderFor(folder));
        }
    }
    std::string FullPath(const std::string& path) const override { return FullPathOf(path); }
    LeadByteTest LeadBytes() const override { return SystemLeadByte; }
};

}  // namespace

const PathMacroSources& SystemPathMacroSources()
{
    static const SystemSources sources;
    return sources;
}

std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool normaliseDots,
                             bool folderMacros)
{
    return ExpandPathMacros(text, suffix, normaliseDots, folderMacros, SystemPathMacroSources());
}

std::string NormaliseDotSegments(const std::string& text)
{
    return NormaliseDotSegments(text, SystemPathMacroSources());
}

std::string OriginExePath()
{
    // The command line does not change during the run; the own path is asked for again each time.
    static const std::string fromCommandLine = CommandLineValue("/OriginExe", "");
    return fromCommandLine.empty() ? ExePath() : fromCommandLine;
}

std::string OriginFolder()
{
    static const std::string origin = FolderOf(OriginExePath());
    return origin.empty() ? ExeFolder(false) : origin;
}

std::string System16Folder()
{
    const std::string system = SystemFolder(false);
    std::string candidate = system;
    const size_t at = candidate.rfind("32");
    if (at != std::string::npos)
        candidate.erase(at, 2);
    if (FolderExists(candidate))
        return candidate;
    const std::string windowsSystem = WindowsFolder(true) + "System";
    return FolderExists(windowsSystem) ? windowsSystem : system;
}

std::string FontsFolder()
{
    const std::string registered = ReadRegistryString(ShellFoldersKey, "Fonts", "", RegistryView64);
    return FolderExists(registered) ? registered : WindowsFolder(true) + "Fonts";
}

std::string RegistryStartMenuFolder()
{
    return ReadRegistryString(StartMenuKey, "Start Menu", "", RegistryView64);
}

std::string RegistryProgramFilesFolder()
{
    return ReadRegistryString(CurrentVersionKey, "ProgramFilesDir", "", RegistryView64);
}

std::string RegistryCommonFilesFolder()
{
    return ReadRegistryString(CurrentVersionKey, "CommonFilesDir", "", RegistryView64);
}
