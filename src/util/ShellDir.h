#pragma once
// The shell's special folders (documents, application data, start menu, desktop ...) of the user
// and of all users, each with the fallbacks that still give a sensible folder on systems whose
// shell does not know it. Every answer is a folder without trailing backslash, or empty.
#include <string>

#include "util/Files.h"

// Way A: "SHGetSpecialFolderPathA" of "shell32.dll" for the CSIDL number, without creating the
// folder. Way B: "SHGetFolderPathA" of "SHFolder.dll" (CSIDL_FLAG_CREATE, 0x8000, in the number
// makes the shell create a missing folder). Each loads its library and looks the function up at
// every call; a missing library or function, or a failing call, gives an empty text.
std::string ShellSpecialFolderPath(int csidl);
std::string ShellFolderPath(int csidl);

// What the fallback chains ask of the system; tests replace single answers to walk the chains.
class ShellFolderQueries {
public:
    virtual ~ShellFolderQueries() = default;
    virtual std::string SpecialFolderPath(int csidl) const { return ShellSpecialFolderPath(csidl); }
    virtual std::string FolderPath(int csidl) const { return ShellFolderPath(csidl); }
    virtual std::string WindowsFolder() const;          // without trailing backslash
    virtual std::string RegisteredOwner() const;
    virtual bool FolderExists(const std::string& path) const { return ::FolderExists(path); }
};
const ShellFolderQueries& SystemShellFolderQueries();

enum class ShellFolderId {
    UserDocuments,        // "<MyDocumentsDir>"
    UserProfile,          // "<UserDir>"
    AllProfiles,          // "<DocumentsAndSettingsDir>"
    UserAppData,
    UserLocalAppData,
    AllUsersProfile,      // "<AllUsersDir>"
    AllUsersAppData,
    AllUsersDocuments,
    UserStartMenu,
    AllUsersStartMenu,
    UserPrograms,
    AllUsersPrograms,
    UserDesktop,
    AllUsersDesktop,
};

// The folder: the first candidate that is not empty and exists, else the last fallback, which is
// taken as it is.
std::string ShellFolder(ShellFolderId folder, const ShellFolderQueries& queries = SystemShellFolderQueries());

// The old systems' home of profiles: the Windows folder's "Profiles\" + the registered owner when
// that folder exists, else the Windows folder.
std::string ProfilesFallbackFolder(const ShellFolderQueries& queries = SystemShellFolderQueries());
