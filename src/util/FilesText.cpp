#include "util/FilesText.h"

#include <algorithm>

#include "util/Utils.h"

uint64_t WriteChunkSize(uint64_t length)
{
    const uint64_t tenth = length / 10;
    if (tenth <= 1024)
        return std::min<uint64_t>(1024, length);
    return std::min<uint64_t>(tenth, 1048576);
}

std::string FileBaseName(const std::string& path, bool allExtensions)
{
    const size_t cut = path.find_last_of("\\:");
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    do {
        const size_t dot = name.find_last_of('.');
        if (dot == std::string::npos)
            break;
        name.erase(dot);
    } while (allExtensions);
    return name;
}

std::string FreeSpaceRoot(const std::string& path, bool rootOnly)
{
    const std::string p = ReplaceChar(path, '/', '\\');
    if (p.empty())
        return "";
    if (rootOnly || p.size() < 3)
        return UpperCase(p.substr(0, 1)) + ":\\";
    // Past "X:\" the first separator ends the first folder level.
    const size_t cut = p.find('\\', 3);
    return cut == std::string::npos ? p : p.substr(0, cut);
}

int64_t ReadPartLength(int64_t size, int64_t maximum, int64_t offset)
{
    if (offset < 0 || offset >= size)
        return 0;
    int64_t n = size - offset;
    if (maximum != 0)
        n = std::min(n, maximum);
    return std::max<int64_t>(n, 0);
}

namespace {

// The characters at which the command interpreter splits an unquoted argument or reads an
// operator. An 8.3 name may still hold some of them, and a volume without short names gives back
// the long name, blanks and all: unquoted, "DEL C:\My Files\a.exe" would delete "C:\My" and
// "Files\a.exe" instead. The "~" of short names is harmless.
bool NeedsQuotes(const std::string& path)
{
    return path.find_first_of(" \t,;=&|<>^()!") != std::string::npos;
}

std::string BatchPath(const std::string& path, const std::string& quote)
{
    // In a batch file "%" starts a variable reference, which would silently turn a path holding
    // "%...%" into another path.
    const std::string text = ReplaceText(path, "%", "%%");
    const std::string q = quote.empty() && NeedsQuotes(path) ? "\"" : quote;
    return q + text + q;
}

}  // namespace

std::string SelfDeleteBatchText(const std::string& batch, const std::string& exe, const std::string& folder,
                                const std::string& quote, bool removeFolder)
{
    const std::string e = BatchPath(exe, quote);
    std::string text = ":START\r\n";
    text += "DEL " + e + "\r\n";
    text += "IF exist " + e + " GOTO START\r\n";
    if (removeFolder)
        text += "RD " + BatchPath(folder, quote) + "\r\n";
    text += "DEL " + BatchPath(batch, quote) + "\r\n";
    return text;
}

std::string DriveDevicePath(const std::string& path)
{
    const std::string letter = UpperCase(path.substr(0, 1));
    if (letter.empty() || letter[0] < 'A' || letter[0] > 'Z')
        return "";
    return "\\\\.\\" + letter + ":";
}

std::string EjectTraceLine(int step, const std::string& device, uint64_t handle)
{
    return "EjectCD-" + std::to_string(step) + ": " + device + " " + std::to_string(handle);
}
