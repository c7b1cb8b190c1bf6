// The path-macro expander on arbitrary texts, suffixes and option sets: never a crash, never a
// read outside the text, and a text without "<" and without dot segments comes back unchanged.
#include <cstdint>
#include <string>

#include "util/Common.h"

namespace {

// Shift-JIS lead bytes, so that double-byte characters whose second byte is "\" are walked too.
bool ShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

class FuzzSources : public PathMacroSources {
public:
    explicit FuzzSources(bool doubleByte, std::string folderTail) : doubleByte_(doubleByte), tail_(std::move(folderTail)) {}
    std::string LoggedUserName() const override { return "user"; }
    std::string RegisteredOwner() const override { return "owner"; }
    std::string RegisteredOrganization() const override { return ""; }
    std::string ComputerName() const override { return "PC"; }
    std::string UserDomain() const override { return "<UserName>"; }  // a value that looks like a macro
    LocalMoment Now() const override { return LocalMoment{2026, 2, 29, 23, 59, 59}; }
    std::string MonthName(int) const override { return "<Date=1>"; }
    char DateSeparator() const override { return '/'; }
    char TimeSeparator() const override { return ':'; }
    std::string Folder(PathFolder folder) const override
    {
        return "C:\\F" + std::to_string(static_cast<int>(folder)) + tail_;
    }
    std::string FullPath(const std::string& path) const override { return path.size() % 3 == 0 ? "" : "C:\\" + path; }
    LeadByteTest LeadBytes() const override { return doubleByte_ ? ShiftJisLead : NoLeadBytes; }

private:
    bool doubleByte_;
    std::string tail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t options = data[0];
    const size_t suffixLength = data[1] % 4;
    if (size < 2 + suffixLength)
        return 0;
    const std::string suffix(reinterpret_cast<const char*>(data + 2), suffixLength);
    const std::string text(reinterpret_cast<const char*>(data + 2 + suffixLength), size - 2 - suffixLength);
    const FuzzSources sources((options & 4) != 0, (options & 8) ? "\\" : "");
    SetInstallFolders((options & 16) ? "" : "C:\\App\\", "\\\\srv\\share", "<InstallDir>");
    const bool dots = (options & 1) != 0;
    const std::string expanded = ExpandPathMacros(text, suffix, dots, (options & 2) != 0, sources);
    if (text.find('<') == std::string::npos && text.find("..") == std::string::npos && expanded != text)
        __builtin_trap();
    (void)ReplaceFolderMacro(text, "<InstallDir>", "C:\\App", suffix);
    (void)NormaliseDotSegments(text, sources);
    return 0;
}
