#include "util/PathText.h"
#include "util/CommandLine.h"

#include "util/USUB.h"
#include "util/Utils.h"

namespace {

// Position (0-based) of `sub` in `text` ignoring case, npos when absent.
size_t FindCI(const std::string& sub, const std::string& text)
{
    return UpperCase(text).find(UpperCase(sub));
}

// Cuts the line after the first occurrence of `what` (ignoring case); true when found.
bool CutAfter(const std::string& line, const std::string& what, std::string& rest)
{
    if (what.empty())
        return false;
    const size_t hit = FindCI(what, line);
    if (hit == std::string::npos)
        return false;
    rest = line.substr(hit + what.size());
    // A lone closing quote or blank left behind is no argument.
    if (Trim(rest).size() == 1)
        rest.clear();
    return true;
}

}  // namespace

std::string CommandTailOf(const std::string& commandLine, const std::string& exePath)
{
    const std::string name = FileNamePart(exePath);
    std::string rest;
    if (CutAfter(commandLine, name + "\"", rest) || CutAfter(commandLine, name, rest))
        return Trim(rest);
    if (!exePath.empty()) {
        const size_t hit = FindCI(exePath, commandLine);
        if (hit != std::string::npos) {
            std::string line = commandLine;
            line.erase(hit, exePath.size());
            return Trim(line);
        }
    }
    return Trim(commandLine);
}

std::string SwitchValueIn(const std::string& tail, const std::string& sw)
{
    if (sw.empty())
        return "";
    const size_t hit = FindCI(sw, tail);
    if (hit == std::string::npos)
        return "";
    std::string rest = tail.substr(hit + sw.size());
    if (rest.empty())
        return "TRUE";
    if (rest[0] == '"') {
        rest.erase(0, 1);
        const size_t q = rest.find('"');
        if (q != std::string::npos)
            rest.erase(q);
        return Trim(rest);
    }
    const size_t blank = rest.find(' ');
    if (blank != std::string::npos)
        rest.erase(blank);
    const size_t slash = rest.find('/');
    if (slash != std::string::npos)
        rest.erase(slash);
    return Trim(rest);
}

bool SwitchPresentIn(const std::string& tail, const std::string& sw)
{
    return !sw.empty() && FindCI(sw, tail) != std::string::npos;
}

int64_t SwitchIntIn(const std::string& tail, const std::string& sw, int64_t def)
{
    return StrToInt64Def(SwitchValueIn(tail, sw), def);
}

std::string CommandLineValueIn(const std::string& commandLine, const std::string& keyText,
                               const std::string& def)
{
    const std::string s = Trim(keyText);
    if (s.empty())
        return def;
    const char d = s[0];
    const std::string list = std::string(1, d) + commandLine + std::string(1, d);
    const std::string value = SUB::Value(list, s.substr(1), def, "");
    // Quotes at both ends go, all of them: a quoted path may carry several.
    return StripQuotes(Trim(value), '"', true, false);
}
