#include "pack/RecordName.h"

#include <string_view>

#include "util/Utils.h"

namespace {

// Windows opens a device instead of a file for these base names, whatever the extension.
// "\xB9", "\xB2" and "\xB3" are the superscript digits 1, 2, 3 of the Western code page,
// which Windows also maps to COM and LPT ports.
bool IsDeviceName(const std::string& segment)
{
    std::string base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    base = UpperCase(base);
    static const char* const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : plain)
        if (base == device)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        const char digit = base[3];
        if ((digit >= '0' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3')
            return true;
    }
    return false;
}

}  // namespace

std::string RecordNameProblem(const std::string& name)
{
    if (name.empty())
        return "the name is empty";
    if (name.front() == '\\' || name.front() == '/')
        return "an absolute or network path would leave the setup folder";
    if (name.size() >= 2 && name[1] == ':')
        return "a drive letter would leave the setup folder";
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32)
            return "control characters are not allowed in file names";
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            return std::string("the character '") + c + "' is not allowed in file names";
    }
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("\\/", start);
        const std::string segment = name.substr(start, end == std::string::npos ? std::string::npos
                                                                                : end - start);
        if (segment.empty())
            return "the name has an empty path segment";
        if (segment == "." || segment == "..")
            return "the segment '" + segment + "' would leave the setup folder";
        // Windows drops trailing dots and blanks, which turns such segments into other names
        // ("..." into "..", "a." into "a").
        if (segment.back() == '.' || segment.back() == ' ')
            return "the segment '" + segment + "' ends with a dot or a blank";
        if (IsDeviceName(segment))
            return "the segment '" + segment + "' is a Windows device name";
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}
