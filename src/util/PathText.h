#pragma once
// Text rules for folder paths and registry locations, shared by the Win32 edge (UtilsWin.h) and
// the portable cores. Portable: no <windows.h>. A backslash counts as a separator only when the
// byte before it does not start a double-byte character; that test belongs to the system's code
// page, so it is a parameter here and the Win32 edge passes the system's own.
#include <cstdint>
#include <string>

// True when the byte is the first byte of a double-byte character.
using LeadByteTest = bool (*)(unsigned char);
// The test of a single-byte code page: no byte ever starts a double-byte character.
bool NoLeadBytes(unsigned char);

// The part of `path` after its last "\", "/" or ":" (the whole path when it has none).
std::string FileNamePart(const std::string& path);

// One trailing backslash removed (only from paths of 3 characters or more, so that a lone "\"
// and a drive's "X\" keep theirs), then one appended when `add` is set.
std::string SetTrailingBackslashOf(const std::string& path, bool add, LeadByteTest isLead = NoLeadBytes);
// A lone "\" becomes empty; otherwise one trailing backslash goes from paths of 2 characters or
// more.
std::string StripTrailingBackslashOf(const std::string& path, LeadByteTest isLead = NoLeadBytes);
// Doubled backslashes, as left behind when path macros are joined, reduced to one. The leading
// pair of a network name stays, and so does a pair formed by the last two characters; with
// `strip` the result then loses one trailing backslash (StripTrailingBackslashOf).
std::string CollapseBackslashesOf(const std::string& path, bool strip, LeadByteTest isLead = NoLeadBytes);

// The predefined registry roots by their documented handle values; the Win32 edge turns them
// into the system's HKEY constants.
enum class RegistryRootId : uint32_t {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
    CurrentConfig = 0x80000005u,
    DynData = 0x80000006u,
};

// The root named by its full ("HKEY_LOCAL_MACHINE") or short ("HKLM") name, ignoring case but
// not trimmed; any other name gives the current user's root.
RegistryRootId RegistryRootOf(const std::string& name);

struct RegistryLocation {
    RegistryRootId root = RegistryRootId::CurrentUser;
    std::string subkey;   // empty: the root itself
};
// 'HKLM\SOFTWARE\X' -> local machine and 'SOFTWARE\X'; a path that does not start with "HK" is
// a subkey of the current user's root. The path is trimmed first.
RegistryLocation SplitRegistryPathOf(const std::string& path);

// Registry value types whose data is turned into text differently from plain strings.
constexpr uint32_t RegistryTypeDword = 4;
constexpr uint32_t RegistryTypeMultiString = 7;
// The data of a registry value as text: a 4-byte DWORD as its unsigned decimal number, a string
// list with its separating NULs written as "<0>", anything else up to its first NUL.
std::string RegistryDataText(uint32_t type, const std::string& data);

// The key holding the registered owner and organisation: under "Windows NT" on the NT family.
std::string WindowsVersionKeyOf(bool windowsNT);
