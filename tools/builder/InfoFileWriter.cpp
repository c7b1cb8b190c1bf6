#include "builder/InfoFileWriter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "builder/ContainerBuilder.h"
#include "util/HashText.h"
#include "util/Utils.h"

namespace builder {

namespace {

constexpr char kLineEnd[] = "\r\n";

struct MethodName {
    ShutDownMethod method;
    const char* shortName;
    const char* text;  // compared byte for byte by the agent
};
constexpr std::array<MethodName, 5> kMethods = {{
    {ShutDownMethod::MessageBox, "message-box", "Issue a Message Box"},
    {ShutDownMethod::Close, "close", "Using WM_CLOSE"},
    {ShutDownMethod::Quit, "quit", "Using WM_QUIT"},
    {ShutDownMethod::Terminate, "terminate", "Using Terminate Process"},
    {ShutDownMethod::None, "none", "Don't Shut Down"},
}};

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}


void CheckValue(std::string_view value, const std::string& what)
{
    const std::string problem = InfoValueProblem(value);
    if (!problem.empty())
        throw BuildError(what + " " + problem + ": " + Quoted(value));
}

// Sizes and numbers are read back as signed 32-bit values.
void CheckSize(uint64_t size, const std::string& what)
{
    if (size > INT32_MAX)
        throw BuildError(what + " has " + std::to_string(size) + " bytes; the agent takes at most 2147483647");
}

// A digest the agent can compare: 64 hexadecimal digits, or nothing at all.
void CheckSha256(const std::string& digest, const std::string& what)
{
    if (!digest.empty() && PublishedSha256(digest) != digest)
        throw BuildError(what + " must be 64 lower-case hexadecimal digits, not " + Quoted(digest));
}

// The agent takes only the file-name part of the name, cut at the last "\", "/" or ":".
void CheckFileName(const std::string& name, const std::string& what)
{
    if (name.empty())
        throw BuildError(what + " is empty");
    if (name.find_first_of("\\/:") != std::string::npos)
        throw BuildError(what + " must be a bare file name: " + Quoted(name));
    CheckValue(name, what);
}

class IniText {
public:
    void Section(const char* name) { text_ += std::string("[") + name + "]" + kLineEnd; }
    void Key(const char* key, const std::string& value) { text_ += std::string(key) + "=" + value + kLineEnd; }
    void Key(const char* key, int64_t value) { Key(key, std::to_string(value)); }
    void Flag(const char* key, bool value) { Key(key, std::string(value ? "1" : "0")); }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

}  // namespace

std::string Quoted(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "'";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            out += std::string("\\x") + hex[u >> 4] + hex[u & 15];
        else
            out += c;
    }
    return out + "'";
}

std::string ShutDownMethodText(ShutDownMethod method)
{
    for (const auto& m : kMethods)
        if (m.method == method)
            return m.text;
    return "";
}

std::optional<ShutDownMethod> ParseShutDownMethod(std::string_view text)
{
    for (const auto& m : kMethods)
        if (EqualIgnoringCase(text, m.shortName) || EqualIgnoringCase(text, m.text))
            return m.method;
    return std::nullopt;
}

std::string InfoValueProblem(std::string_view value)
{
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return "must not contain a line end or NUL (it would end the INFO line)";
    if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t'))
        return "must not begin or end with a blank (the agent would read it without)";
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return "must not be enclosed in quotes (the agent would read it without)";
    return "";
}

std::string NormaliseValidVersions(const std::string& list)
{
    if (list.empty())
        return list;
    std::string out;
    size_t from = 0;
    while (true) {
        const size_t comma = list.find(',', from);
        std::string item = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        const size_t first = item.find_first_not_of(" \t");
        item = first == std::string::npos ? std::string() : item.substr(first, item.find_last_not_of(" \t") - first + 1);
        int64_t version = 0;
        // The agent looks the installed version up as its plain decimal text between commas.
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 10 ||
            !TryParseInt64(item, version) || version < 1 || version > INT32_MAX)
            throw BuildError("--valid-versions needs decimal versions from 1 to 2147483647 separated by \",\", not " +
                             Quoted(list));
        out += (out.empty() ? "" : ",") + std::to_string(version);
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return out;
}

std::string BuildInfoFile(const Publication& p)
{
    if (p.folderUrl.empty())
        throw BuildError("the update folder address (--update-url) is empty; the agent would do nothing");
    CheckValue(p.folderUrl, "--update-url");
    if (p.versionNew < 1)
        throw BuildError("--version-new must be at least 1");
    const std::string validVersions = NormaliseValidVersions(p.validVersions);
    if (!validVersions.empty()) {
        // An installed version that is not below the new one is never offered the publication.
        size_t from = 0;
        while (from <= validVersions.size()) {
            const size_t comma = std::min(validVersions.find(',', from), validVersions.size());
            const std::string item = validVersions.substr(from, comma - from);
            if (std::stoll(item) >= p.versionNew)
                throw BuildError("--valid-versions lists " + item + ", which is not below --version-new " +
                                 std::to_string(p.versionNew) + ": it would never be offered");
            from = comma + 1;
        }
    }
    CheckValue(p.programName, "--program-name");
    CheckValue(p.runningProcess, "--running-process");

    IniText ini;
    ini.Section("NewSetup");
    ini.Key("VersionNew", p.versionNew);
    ini.Key("Stamp", p.stamp);
    ini.Key("DownloadURL_UPDATE", p.folderUrl);
    ini.Key("ValidVersions", validVersions);

    if (p.inform) {
        const std::vector<std::pair<bool, const char*>> updateOnly = {
            {!p.fileName.empty(), "an update file"},
            {!p.programName.empty(), "--program-name"},
            {p.confirmDownload, "--confirm-download"},
            {p.confirmDownloadForce, "--confirm-download-force"},
            {p.confirmInstall, "--confirm-install"},
            {p.confirmInstallForce, "--confirm-install-force"},
            {p.background, "--background"},
            {p.restart, "--restart"},
            {p.informFinish, "--inform-finish"},
            {p.removeStartUpShortcut, "--remove-startup-shortcut"},
            {p.removeCheckShortcut, "--remove-check-shortcut"},
            {p.shutDown != ShutDownMethod::None, "--shut-down"},
            {!p.runningProcess.empty(), "--running-process"},
        };
        for (const auto& [set, what] : updateOnly)
            if (set)
                throw BuildError(std::string(what) + " belongs to an update; an inform publication shows a page only");
        const InformPublication& page = *p.inform;
        CheckFileName(page.fileName, "the inform file name");
        CheckSize(page.size, "the inform file");
        if (page.width < 1 || page.height < 1)
            throw BuildError("the inform dialog's width and height must be at least 1");
        CheckValue(page.url, "--inform-url");

        ini.Section("General");
        ini.Key("AutoInform", 1);
        ini.Section("AutoInform");
        ini.Key("NameOfInformFile", page.fileName);
        ini.Key("SizeOfInformFile", static_cast<int64_t>(page.size));
        CheckSha256(page.sha256, "the inform file's SHA-256");
        if (!page.sha256.empty())
            ini.Key("SHA256OfInformFile", page.sha256);
        ini.Key("AutoInformW", page.width);
        ini.Key("AutoInformH", page.height);
        ini.Key("DownloadURL_INFORM", page.url);
        return ini.Text();
    }

    CheckFileName(p.fileName, "the update file name");
    CheckSize(p.fileSize, "the update file");
    if (p.restart && p.runningProcess.empty())
        throw BuildError("--restart needs --running-process: there is no program to start again");
    if (p.shutDown != ShutDownMethod::None && p.runningProcess.empty())
        throw BuildError("--shut-down " + ShutDownMethodText(p.shutDown) + " needs --running-process");

    ini.Key("NameOfUpdateFile", p.fileName);
    ini.Key("SizeOfUpdateFile", static_cast<int64_t>(p.fileSize));
    CheckSha256(p.sha256, "the update file's SHA-256");
    if (!p.sha256.empty())
        ini.Key("SHA256OfUpdateFile", p.sha256);
    ini.Key("ProgramName", p.programName);
    ini.Flag("RequestConfirmationBeforeDownload", p.confirmDownload);
    ini.Flag("RequestConfirmationBeforeDownloadForce", p.confirmDownloadForce);
    ini.Flag("RequestConfirmationBeforeInstall", p.confirmInstall);
    ini.Flag("RequestConfirmationBeforeInstallForce", p.confirmInstallForce);
    ini.Flag("BackgroundUpdate", p.background);
    ini.Flag("RestartProcess", p.restart);
    ini.Flag("InformFinish", p.informFinish);
    ini.Key("ShutDownMethod", ShutDownMethodText(p.shutDown));
    ini.Key("RunningProcess", p.runningProcess);
    ini.Flag("RemoveStartUpShortcut", p.removeStartUpShortcut);
    ini.Flag("RemoveCheckForNewUpdateShortcut", p.removeCheckShortcut);
    ini.Section("General");
    ini.Key("AutoInform", 0);
    return ini.Text();
}

std::string BuildInformPage(const std::string& body, const std::string& token, bool scrambled)
{
    if (token.empty())
        throw BuildError("an inform page needs --update-token: an empty token never matches the agent's");
    if (token.find('|') != std::string::npos)
        throw BuildError("--update-token must not contain '|': " + Quoted(token));
    const std::string page = "Inform|" + StoredToken(token) + "|||" + body;
    return scrambled ? ScrambleText(page, true, false) : page;
}

}  // namespace builder
