// The publisher's files: the INFO file as the agent's private-profile reads see it, and the inform
// page as the agent's token test and dialog see it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "builder/ContainerBuilder.h"
#include "builder/InfoFileWriter.h"
#include "pack/PackToken.h"

namespace {

using namespace builder;

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// SECTION -> KEY -> value, both names upper-cased as the private-profile functions match them.
// Every line must end in "\r\n", and no key may appear twice.
using Ini = std::map<std::string, std::map<std::string, std::string>>;
Ini ParseIni(const std::string& text)
{
    Ini ini;
    std::string section;
    size_t from = 0;
    while (from < text.size()) {
        const size_t end = text.find("\r\n", from);
        EXPECT_NE(end, std::string::npos) << "unterminated last line";
        if (end == std::string::npos)
            break;
        const std::string line = text.substr(from, end - from);
        from = end + 2;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            section = Upper(line.substr(1, line.size() - 2));
            EXPECT_EQ(ini.count(section), 0u) << "section twice: " << section;
            ini[section];
            continue;
        }
        const size_t eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << line;
        EXPECT_FALSE(section.empty()) << line;
        const std::string key = Upper(Trim(line.substr(0, eq)));
        EXPECT_EQ(ini[section].count(key), 0u) << "key twice: " << key;
        ini[section][key] = Trim(line.substr(eq + 1));
    }
    return ini;
}

Ini Upcased(const std::map<std::string, std::map<std::string, std::string>>& expected)
{
    Ini out;
    for (const auto& [section, keys] : expected)
        for (const auto& [key, value] : keys)
            out[Upper(section)][Upper(key)] = value;
    return out;
}

Publication AnUpdate()
{
    Publication p;
    p.folderUrl = "http://host/updates";
    p.fileName = "Setup.exe";
    p.fileSize = 123456;
    p.sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    p.versionNew = 7;
    p.stamp = 1700000000;
    p.validVersions = "5, 06";
    p.programName = "My Product 7";
    p.confirmDownload = true;
    p.confirmInstallForce = true;
    p.restart = true;
    p.shutDown = ShutDownMethod::MessageBox;
    p.runningProcess = "<InstallDir>\\Prog.exe";
    return p;
}

Publication AnInformPage()
{
    Publication p;
    p.folderUrl = "\\\\server\\share\\updates";
    p.versionNew = 2;
    p.stamp = 0;
    p.inform = InformPublication{"Note.htm", 300, 480, 400, "http://host/news.html", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"};
    return p;
}

TEST(InfoFile, ReadsBackKeyByKeyAsTheAgentReadsIt)
{
    const std::vector<std::pair<Publication, Ini>> cases = {
        {AnUpdate(),
         Upcased({{"NewSetup",
                   {{"VersionNew", "7"},
                    {"Stamp", "1700000000"},
                    {"DownloadURL_UPDATE", "http://host/updates"},
                    {"NameOfUpdateFile", "Setup.exe"},
                    {"SizeOfUpdateFile", "123456"},
                    {"SHA256OfUpdateFile", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                    {"ValidVersions", "5,6"},
                    {"ProgramName", "My Product 7"},
                    {"RequestConfirmationBeforeDownload", "1"},
                    {"RequestConfirmationBeforeDownloadForce", "0"},
                    {"RequestConfirmationBeforeInstall", "0"},
                    {"RequestConfirmationBeforeInstallForce", "1"},
                    {"BackgroundUpdate", "0"},
                    {"RestartProcess", "1"},
                    {"InformFinish", "0"},
                    {"ShutDownMethod", "Issue a Message Box"},
                    {"RunningProcess", "<InstallDir>\\Prog.exe"},
                    {"RemoveStartUpShortcut", "0"},
                    {"RemoveCheckForNewUpdateShortcut", "0"}}},
                  {"General", {{"AutoInform", "0"}}}})},
        {AnInformPage(),
         Upcased({{"NewSetup",
                   {{"VersionNew", "2"},
                    {"Stamp", "0"},
                    {"DownloadURL_UPDATE", "\\\\server\\share\\updates"},
                    {"ValidVersions", ""}}},
                  {"General", {{"AutoInform", "1"}}},
                  {"AutoInform",
                   {{"NameOfInformFile", "Note.htm"},
                    {"SizeOfInformFile", "300"},
                    {"SHA256OfInformFile", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                    {"AutoInformW", "480"},
                    {"AutoInformH", "400"},
                    {"DownloadURL_INFORM", "http://host/news.html"}}}})},
    };
    for (const auto& [publication, expected] : cases) {
        const std::string text = BuildInfoFile(publication);
        EXPECT_EQ(ParseIni(text), expected) << text;
    }
}

TEST(InfoFile, EachUpdateFlagSetsItsOwnKeyOnly)
{
    const std::vector<std::pair<std::function<void(Publication&)>, std::string>> flags = {
        {[](Publication& p) { p.confirmDownload = true; }, "RequestConfirmationBeforeDownload"},
        {[](Publication& p) { p.confirmDownloadForce = true; }, "RequestConfirmationBeforeDownloadForce"},
        {[](Publication& p) { p.confirmInstall = true; }, "RequestConfirmationBeforeInstall"},
        {[](Publication& p) { p.confirmInstallForce = true; }, "RequestConfirmationBeforeInstallForce"},
        {[](Publication& p) { p.background = true; }, "BackgroundUpdate"},
        {[](Publication& p) { p.restart = true; }, "RestartProcess"},
        {[](Publication& p) { p.informFinish = true; }, "InformFinish"},
        {[](Publication& p) { p.removeStartUpShortcut = true; }, "RemoveStartUpShortcut"},
        {[](Publication& p) { p.removeCheckShortcut = true; }, "RemoveCheckForNewUpdateShortcut"},
    };
    for (const auto& [set, key] : flags) {
        Publication p;
        p.folderUrl = "http://host/";
        p.fileName = "S.exe";
        p.versionNew = 1;
        p.runningProcess = "C:\\P.exe";
        set(p);
        const auto keys = ParseIni(BuildInfoFile(p))["NEWSETUP"];
        for (const auto& flag : flags)
            EXPECT_EQ(keys.at(Upper(flag.second)), flag.second == key ? "1" : "0") << key << " set, " << flag.second;
    }
}

TEST(InfoFile, ShutDownMethodsAreTheAgentsExactTexts)
{
    const std::vector<std::tuple<std::string, ShutDownMethod, std::string>> methods = {
        {"message-box", ShutDownMethod::MessageBox, "Issue a Message Box"},
        {"close", ShutDownMethod::Close, "Using WM_CLOSE"},
        {"quit", ShutDownMethod::Quit, "Using WM_QUIT"},
        {"terminate", ShutDownMethod::Terminate, "Using Terminate Process"},
        {"none", ShutDownMethod::None, "Don't Shut Down"},
    };
    for (const auto& [name, method, text] : methods) {
        EXPECT_EQ(ParseShutDownMethod(name), method);
        EXPECT_EQ(ParseShutDownMethod(Upper(text)), method);
        EXPECT_EQ(ShutDownMethodText(method), text);
        Publication p = AnUpdate();
        p.shutDown = method;
        EXPECT_EQ(ParseIni(BuildInfoFile(p))["NEWSETUP"]["SHUTDOWNMETHOD"], text);
    }
    EXPECT_FALSE(ParseShutDownMethod("kill"));
    EXPECT_FALSE(ParseShutDownMethod(""));
}

TEST(InfoFile, ValidVersionsAreWrittenAsTheAgentComparesThem)
{
    EXPECT_EQ(NormaliseValidVersions(""), "");
    EXPECT_EQ(NormaliseValidVersions("3"), "3");
    EXPECT_EQ(NormaliseValidVersions(" 1, 002 ,30 "), "1,2,30");
    EXPECT_EQ(NormaliseValidVersions("2147483647"), "2147483647");
    for (const char* bad : {",", "1,", ",1", "1,,2", "0", "-1", "x", "1 2", "2147483648", "1;2", "+3"})
        EXPECT_THROW(NormaliseValidVersions(bad), BuildError) << bad;
}

TEST(InfoFile, RefusesWhatTheAgentWouldReadOtherwiseOrNever)
{
    const std::vector<std::pair<std::string, std::function<void(Publication&)>>> update = {
        {"no folder", [](Publication& p) { p.folderUrl.clear(); }},
        {"line end in a name", [](Publication& p) { p.programName = "My\r\nProduct"; }},
        {"line feed in a path", [](Publication& p) { p.runningProcess = "C:\\P\n.exe"; }},
        {"NUL in the address", [](Publication& p) { p.folderUrl = std::string("http://h/\0x", 11); }},
        {"leading blank", [](Publication& p) { p.programName = " Prog"; }},
        {"trailing tab", [](Publication& p) { p.folderUrl = "http://host/\t"; }},
        {"quoted value", [](Publication& p) { p.programName = "\"Prog\""; }},
        {"no file name", [](Publication& p) { p.fileName.clear(); }},
        {"path as file name", [](Publication& p) { p.fileName = "sub\\Setup.exe"; }},
        {"size beyond 32 bits", [](Publication& p) { p.fileSize = 2147483648u; }},
        {"digest too short", [](Publication& p) { p.sha256.pop_back(); }},
        {"digest in capitals", [](Publication& p) { p.sha256[0] = 'B'; }},
        {"version 0", [](Publication& p) { p.versionNew = 0; }},
        {"valid version not below", [](Publication& p) { p.validVersions = "5,7"; }},
        {"bad valid versions", [](Publication& p) { p.validVersions = "5,x"; }},
        {"restart without program", [](Publication& p) { p.runningProcess.clear(); p.shutDown = ShutDownMethod::None; }},
        {"shut-down without program", [](Publication& p) { p.runningProcess.clear(); p.restart = false; }},
    };
    for (const auto& [what, change] : update) {
        Publication p = AnUpdate();
        change(p);
        EXPECT_THROW(BuildInfoFile(p), BuildError) << what;
    }
    const std::vector<std::pair<std::string, std::function<void(Publication&)>>> inform = {
        {"an update file as well", [](Publication& p) { p.fileName = "Setup.exe"; }},
        {"an update flag", [](Publication& p) { p.background = true; }},
        {"a shut-down", [](Publication& p) { p.shutDown = ShutDownMethod::Terminate; }},
        {"a program name", [](Publication& p) { p.programName = "Prog"; }},
        {"no page name", [](Publication& p) { p.inform->fileName.clear(); }},
        {"zero width", [](Publication& p) { p.inform->width = 0; }},
        {"line end in the address", [](Publication& p) { p.inform->url = "http://h/\r"; }},
        {"page beyond 32 bits", [](Publication& p) { p.inform->size = uint64_t{1} << 32; }},
        {"digest not hexadecimal", [](Publication& p) { p.inform->sha256[5] = 'g'; }},
    };
    for (const auto& [what, change] : inform) {
        Publication p = AnInformPage();
        change(p);
        EXPECT_THROW(BuildInfoFile(p), BuildError) << what;
    }
    // A publication without a digest has no digest key: the agent trusts its token alone.
    Publication p = AnUpdate();
    p.sha256.clear();
    EXPECT_EQ(ParseIni(BuildInfoFile(p))["NEWSETUP"].count("SHA256OFUPDATEFILE"), 0u);
    // Inner blanks, quotes and "|" are ordinary characters of a value.
    p = AnUpdate();
    p.programName = "My \"best\" | product";
    EXPECT_EQ(ParseIni(BuildInfoFile(p))["NEWSETUP"]["PROGRAMNAME"], p.programName);
}

TEST(InformPage, TokenAndBodyComeBackExactlyInBothForms)
{
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"T0k", "<B>News</B><P>Version 2 is out."},
        {"a longer token, with blanks", "{\\rtf1\\ansi News | with bars || inside\\par}"},
        {"\xC4\xD6\xDC", ""},  // a token in an 8-bit code page; an empty body
        {"x", everyByte},
    };
    for (const auto& [token, body] : pages) {
        for (const bool scrambled : {false, true}) {
            const std::string page = BuildInformPage(body, token, scrambled);
            EXPECT_EQ(page.rfind("Scrambled=01", 0) == 0, scrambled);
            if (scrambled) {
                const auto key = static_cast<unsigned char>(page[12]);
                EXPECT_GE(key, 33);
                EXPECT_LE(key, 122);
            } else {
                EXPECT_EQ(page.rfind("Inform|", 0), 0u);
            }
            const PageToken read = TokenFromText(page);
            EXPECT_EQ(read.token, token + std::string(1, '\0')) << token;
            EXPECT_EQ(read.rest, body) << token;
        }
        // A fresh scramble per page: two writes of one page differ.
        EXPECT_NE(BuildInformPage(body, token, false), BuildInformPage(body, token, false));
    }
    EXPECT_THROW(BuildInformPage("body", "", false), BuildError);
    EXPECT_THROW(BuildInformPage("body", "a|b", true), BuildError);
}

}  // namespace
