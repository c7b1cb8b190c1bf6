#include <windows.h>

#include "util/ShellDir.h"

#include <cstring>
#include <functional>
#include <initializer_list>

#include "util/Handles.h"
#include "util/SystemLibrary.h"
#include "util/UtilsWin.h"

namespace {

// The buffer both ways hand to the shell, zero-filled, as roomy as the oldest shells expect.
constexpr size_t ShellBufferSize = 1025;

using SpecialFolderPathFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
using FolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);

std::string BufferText(const char* buf)
{
    return std::string(buf, strnlen(buf, ShellBufferSize));
}

// CSIDL numbers of the shell.
constexpr int CsidlPrograms = 2;
constexpr int CsidlStartMenu = 11;
constexpr int CsidlDesktopDirectory = 16;
constexpr int CsidlCommonStartMenu = 22;
constexpr int CsidlCommonPrograms = 23;
constexpr int CsidlCommonDesktopDirectory = 25;
constexpr int CsidlFlagCreate = 0x8000;
constexpr int CsidlPersonal = 0x0005 | CsidlFlagCreate;
constexpr int CsidlAppData = 0x001A | CsidlFlagCreate;
constexpr int CsidlLocalAppData = 0x001C | CsidlFlagCreate;
constexpr int CsidlCommonAppData = 0x0023 | CsidlFlagCreate;
constexpr int CsidlCommonDocuments = 0x002E | CsidlFlagCreate;

// The folder part of a path, without trailing backslash ('C:\Users\me' gives 'C:\Users'). A
// drive's root keeps its backslash: a bare 'C:' names the current folder of drive C, not its
// root, and the parent of 'C:\ProgramData' (the all-users data of newer systems) is the root.
std::string ParentFolder(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    if (cut == std::string::npos)
        return "";
    const std::string parent = SetTrailingBackslash(path.substr(0, cut + 1), false);
    return parent.size() == 2 && parent[1] == ':' ? parent + "\\" : parent;
}

// X + "name": the folder with one trailing backslash, then the name.
std::string Join(const std::string& folder, const std::string& name)
{
    return SetTrailingBackslash(folder, true) + name;
}

using Candidate = std::function<std::string()>;

// The first of `candidates` that is not empty and exists, else `last`, untested. Each is asked
// for only when the ones before it did not count: the later ones cost shell queries of their
// own, some of which create folders.
std::string FirstExisting(const ShellFolderQueries& queries, std::initializer_list<Candidate> candidates,
                          const Candidate& last)
{
    for (const Candidate& candidate : candidates) {
        const std::string folder = candidate();
        if (!folder.empty() && queries.FolderExists(folder))
            return folder;
    }
    return last();
}

}  // namespace

std::string ShellSpecialFolderPath(int csidl)
{
    UniqueModule module;
    const auto get = ProcAddressAs<SpecialFolderPathFn>(LoadProc("shell32.dll", "SHGetSpecialFolderPathA", module));
    if (!get)
        return "";
    char buf[ShellBufferSize] = {};
    if (!get(nullptr, buf, csidl, FALSE))
        return "";
    return BufferText(buf);
}

std::string ShellFolderPath(int csidl)
{
    UniqueModule module;
    const auto get = ProcAddressAs<FolderPathFn>(LoadProc("SHFolder.dll", "SHGetFolderPathA", module));
    if (!get)
        return "";
    char buf[ShellBufferSize] = {};
    if (get(nullptr, csidl, nullptr, 0, buf) != 0)
        return "";
    return BufferText(buf);
}

std::string ShellFolderQueries::WindowsFolder() const
{
    return ::WindowsFolder(false);
}

std::string ShellFolderQueries::RegisteredOwner() const
{
    return RegisteredOwnerName();
}

const ShellFolderQueries& SystemShellFolderQueries()
{
    static const ShellFolderQueries system;
    return system;
}

std::string ProfilesFallbackFolder(const ShellFolderQueries& queries)
{
    const std::string windows = queries.WindowsFolder();
    const std::string profile = Join(windows, "Profiles\\") + queries.RegisteredOwner();
    return queries.FolderExists(profile) ? profile : windows;
}

std::string ShellFolder(ShellFolderId folder, const ShellFolderQueries& q)
{
    auto way = [&q](int csidl, bool wayA) -> Candidate {
        return [&q, csidl, wayA] { return wayA ? q.SpecialFolderPath(csidl) : q.FolderPath(csidl); };
    };
    auto parentOf = [](Candidate inner) -> Candidate { return [inner] { return ParentFolder(inner()); }; };
    auto under = [](Candidate base, const char* name) -> Candidate {
        return [base, name] { return Join(base(), name); };
    };
    const Candidate profiles = [&q] { return ProfilesFallbackFolder(q); };
    const Candidate windows = [&q] { return q.WindowsFolder(); };
    const Candidate userProfile = [&q] { return ShellFolder(ShellFolderId::UserProfile, q); };
    const Candidate allUsersProfile = [&q] { return ShellFolder(ShellFolderId::AllUsersProfile, q); };
    constexpr bool A = true;
    constexpr bool B = false;

    switch (folder) {
    case ShellFolderId::UserDocuments:
        return FirstExisting(q, {way(CsidlPersonal, B)}, under(profiles, "My Documents"));
    case ShellFolderId::UserProfile:
        return FirstExisting(q, {parentOf(way(CsidlPersonal, B))}, profiles);
    case ShellFolderId::AllProfiles: {
        // Two steps up from the documents, each step only from a folder that exists.
        const Candidate twoUp = [&q] {
            std::string candidate = q.FolderPath(CsidlPersonal);
            for (int step = 0; step < 2 && !candidate.empty(); ++step)
                candidate = q.FolderExists(candidate) ? ParentFolder(candidate) : std::string();
            return candidate;
        };
        return FirstExisting(q, {twoUp}, profiles);
    }
    case ShellFolderId::UserAppData:
        return FirstExisting(q, {way(CsidlAppData, B)}, under(profiles, "Application Data"));
    case ShellFolderId::UserLocalAppData:
        return FirstExisting(q, {way(CsidlLocalAppData, B)}, under(profiles, "Application Data"));
    case ShellFolderId::AllUsersProfile:
        return FirstExisting(q, {parentOf(way(CsidlCommonAppData, B))}, windows);
    case ShellFolderId::AllUsersAppData:
        return FirstExisting(q, {way(CsidlCommonAppData, B)}, under(windows, "Application Data"));
    case ShellFolderId::AllUsersDocuments:
        return FirstExisting(q, {way(CsidlCommonDocuments, B)}, under(windows, "Documents"));
    case ShellFolderId::UserStartMenu:
        return FirstExisting(q, {way(CsidlStartMenu, A), under(userProfile, "Start Menu")},
                             under(allUsersProfile, "Start Menu"));
    case ShellFolderId::AllUsersStartMenu:
        return FirstExisting(q, {way(CsidlCommonStartMenu, A)}, under(allUsersProfile, "Start Menu"));
    case ShellFolderId::UserPrograms:
        return FirstExisting(q, {way(CsidlPrograms, A), under(userProfile, "Start Menu\\Programs")},
                             under(allUsersProfile, "Start Menu\\Programs"));
    case ShellFolderId::AllUsersPrograms:
        return FirstExisting(q, {way(CsidlCommonPrograms, A)}, under(allUsersProfile, "Start Menu\\Programs"));
    case ShellFolderId::UserDesktop:
        return FirstExisting(q, {way(CsidlDesktopDirectory, A), under(userProfile, "Desktop")},
                             under(allUsersProfile, "Desktop"));
    case ShellFolderId::AllUsersDesktop:
        return FirstExisting(q, {way(CsidlCommonDesktopDirectory, A)}, under(allUsersProfile, "Desktop"));
    }
    return "";
}
