#include "util/PathText.h"

#include <cstddef>
#include <iterator>

#include "util/Utils.h"

bool NoLeadBytes(unsigned char)
{
    return false;
}

namespace {

// The last byte is a backslash that really separates, not the second half of a double-byte
// character.
bool EndsWithSeparator(const std::string& path, LeadByteTest isLead)
{
    const size_t n = path.size();
    if (n == 0 || path[n - 1] != '\\')
        return false;
    return n == 1 || !isLead(static_cast<unsigned char>(path[n - 2]));
}

}  // namespace

std::string FileNamePart(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string SetTrailingBackslashOf(const std::string& path, bool add, LeadByteTest isLead)
{
    std::string p = path;
    if (p.size() >= 3 && EndsWithSeparator(p, isLead))
        p.pop_back();
    if (add)
        p += '\\';
    return p;
}

std::string StripTrailingBackslashOf(const std::string& path, LeadByteTest isLead)
{
    if (path == "\\")
        return "";
    std::string p = path;
    if (p.size() >= 2 && EndsWithSeparator(p, isLead))
        p.pop_back();
    return p;
}

std::string CollapseBackslashesOf(const std::string& path, bool strip, LeadByteTest isLead)
{
    std::string result = path;
    if (path.size() > 2) {
        // The first character stays out of the scan, so the leading pair of a network name
        // ('\\server') is never reduced.
        const char first = path.front();
        const char last = path.back();
        std::string work = path.substr(1);
        // Right to left, so that a deletion never shifts what is still to be looked at. Left
        // alone: the pair formed by the last two characters, a pair whose first backslash is the
        // second byte of a double-byte character, and a pair that follows the character which
        // both starts and ends the path (as in a quoted path).
        for (std::ptrdiff_t i = std::ssize(work) - 3; i >= 1; --i) {
            const auto at = static_cast<size_t>(i);
            const char before = work[at - 1];
            if (work[at] == '\\' && work[at + 1] == '\\' && !isLead(static_cast<unsigned char>(before)) &&
                !(first == last && before == first))
                work.erase(at, 1);
        }
        // A pair right after the first character: reduced too, unless that first character starts
        // a double-byte character whose second byte is the first backslash of the pair.
        if (work.size() >= 2 && work[0] == '\\' && work[1] == '\\' && !isLead(static_cast<unsigned char>(first)))
            work.erase(0, 1);
        result = first + work;
    }
    return strip ? StripTrailingBackslashOf(result, isLead) : result;
}

namespace {

struct RootName {
    const char* full;
    const char* shortName;
    RegistryRootId root;
};

constexpr RootName RootNames[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", RegistryRootId::ClassesRoot},
    {"HKEY_CURRENT_USER", "HKCU", RegistryRootId::CurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", RegistryRootId::LocalMachine},
    {"HKEY_USERS", "HKU", RegistryRootId::Users},
    {"HKEY_CURRENT_CONFIG", "HKCC", RegistryRootId::CurrentConfig},
    {"HKEY_DYN_DATA", "HKDD", RegistryRootId::DynData},
};

}  // namespace

RegistryRootId RegistryRootOf(const std::string& name)
{
    const std::string upper = UpperCase(name);
    RegistryRootId root = RegistryRootId::CurrentUser;
    for (const RootName& r : RootNames)
        if (upper == r.full || upper == r.shortName)
            root = r.root;
    return root;
}

RegistryLocation SplitRegistryPathOf(const std::string& path)
{
    RegistryLocation location;
    location.subkey = Trim(path);
    if (!StartsWith("HK", location.subkey, true))
        return location;
    const size_t cut = location.subkey.find('\\');
    if (cut == std::string::npos) {
        location.root = RegistryRootOf(location.subkey);
        location.subkey.clear();
    } else {
        location.root = RegistryRootOf(location.subkey.substr(0, cut));
        location.subkey.erase(0, cut + 1);
    }
    return location;
}

std::string RegistryDataText(uint32_t type, const std::string& data)
{
    if (type == RegistryTypeDword && data.size() == 4) {
        uint32_t value = 0;
        for (size_t i = 4; i-- > 0;)
            value = (value << 8) | static_cast<unsigned char>(data[i]);  // stored little-endian
        return std::to_string(value);
    }
    if (type == RegistryTypeMultiString && data.size() > 2) {
        const size_t end = data.find_last_not_of('\0');
        std::string text;
        if (end != std::string::npos)
            for (size_t i = 0; i <= end; ++i)
                text += data[i] == '\0' ? std::string("<0>") : std::string(1, data[i]);
        return text;
    }
    return data.substr(0, data.find('\0'));
}

std::string WindowsVersionKeyOf(bool windowsNT)
{
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    return windowsNT ? ReplaceText(key, "Windows", "Windows NT") : key;
}
