// ulvbuild: copies the stub executable and appends a container of setup data to the copy; also
// writes the files a publisher uploads beside a new setup (the INFO file and an inform page).
// Exit codes: 0 built, 1 an input was refused or a file could not be read or written,
// 2 the command line is malformed.
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CodePage.h"
#include "builder/ContainerBuilder.h"
#include "builder/FileDigest.h"
#include "builder/InfoFileWriter.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "util/Utils.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

namespace fs = std::filesystem;
using builder::BuildError;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kHelp = R"(ulvbuild - appends a container of setup data to a copy of the stub executable

Usage:
  ulvbuild --stub STUB.exe --out SETUP.exe [options]
  ulvbuild --write-info OUT.info --publish FILE --version-new N [publication options]
  ulvbuild --inform-page OUT --update-token TEXT --body FILE [--scrambled]

The output is the stub, followed by the header strings (language table, update list and,
for an Internet setup, download list), one record per payload file (or several for a large
file), and the 74-byte trailer. For an executable stub ("MZ" at byte 0, "PE" at byte 256)
the offset of the end of the data is written into bytes 248-255 of the copy, so that bytes
added after the build (a signature) do not hide the trailer.

Options take their value as the next argument or after "=" (--level=6).

Input and output:
  --stub FILE             the stub executable to copy (at least 258 bytes)
  --out FILE              the setup file to write (replaced when it exists)
  --files DIR             every regular file below DIR becomes a payload file, named by its
                          path relative to DIR with "\" as separator, in sorted order;
                          may be repeated
  --file SRC=NAME         adds the file SRC under the relative name NAME ("/" or "\" as
                          separator); may be repeated; SRC must not contain "="
  --main NAME             marks the payload file NAME (letter case ignored) as the main file,
                          the program started after unpacking
  --main-args ARGS        the main file's command-line arguments (needs --main)

Payload records:
  --store                 store the files as they are instead of deflating them with zlib
  --level N               zlib compression level 0-9 (default 9)
  --chunk-size BYTES      cut files larger than BYTES into several records of the same name;
                          BYTES may end in K, M or G (times 1024, 1024^2, 1024^3). Without it
                          files are still cut into pieces of 1G, as record lengths are 32-bit
  --no-dates              write 0 instead of the files' modification times

Disk files:
  --disk-size BYTES       split the payload over disk files of at most BYTES each (K, M, G
                          as above); every disk file is a complete container whose
                          next-disk flag says whether another follows. A record larger
                          than a disk gets a disk of its own (use --chunk-size to cut it).
                          Disk 1 is OUT itself, disk k is OUT.00k (OUT.002 onward).
  --separate-launcher     with --disk-size: OUT becomes a launcher without payload that
                          first copies itself to the temporary folder (span-copy flag),
                          and the disks are OUT.001 onward (OUT.001 carries the stub)

Header strings:
  --languages FILE        language texts, see "Language file" below; without it the
                          container holds no translation and the stub uses its built-in texts
  --languages-encoding E  how the language file is written: utf-8 (the default; each
                          language is converted to the code page of its Charset) or native
                          (already in the 8-bit code pages of the target systems; its bytes
                          are copied as they are)
  --update-url URL        address from which the auto-update agent fetches its files
  --info-file NAME        name of the information file on that server
  --agent-exe NAME        file name of the auto-update agent executable
  --update-token TEXT     update token, given in clear (see "Tokens" below)
  --hidden                the setup runs hidden
  --download-url URL      Internet folder of the setup file; adds the download list
  --download-file NAME    the setup file's name on the server   (needs --download-url)
  --always-download       always download, never use a copy beside the launcher
                                                                (needs --download-url)
  --download-token TEXT   download token, in clear              (needs --download-url)
  --download-size BYTES   the setup file's size, decimal        (needs --download-url)
  --download-setup FILE   the setup file the web installer downloads: the download file
                          name, size and token are taken from FILE (its base name, its size
                          and the download token of its own container) unless given above
                                                                (needs --download-url)
  --download-hash         pin the download to FILE: its SHA-256 is stored in the download
                          list, and the web installer runs only a file with that digest
                          (and takes in no more bytes than its size); without it, any
                          file with the same download token is accepted (needs
                          --download-setup)
  None of these texts may contain "|".

Tokens:
  A token is stored scrambled with a fresh random key and filler, so two builds of one
  product store different texts for the same token. The stub's descrambling takes the
  byte after the token as part of it; the builder makes that byte a NUL in every scramble,
  so every scramble of a token reads back the same (the token and one NUL) and two builds
  of one product match. An empty token is stored empty.

Web installers:
  A web installer is built with --internet-setup; its launcher downloads the real setup
  from the download URL and runs it only when both carry the same download token. Build
  the real setup first, so that it carries the token:
    ulvbuild --stub STUB.exe --out SETUP.exe --files DIR --main NAME
             --download-url URL --download-token T
  then the web installer, which takes the setup's file name, size and token from it:
    ulvbuild --stub STUB.exe --out WEBSETUP.exe --internet-setup --download-url URL
             --download-setup SETUP.exe [--confirm-download] [--always-download]
             [--install-agent --agent-exe NAME]

Code pages:
  --codepage N            the Windows code page of the payload names, the main file's
                          arguments and the update and download lists (default 1252); one of
                          874, 932, 936, 949, 950, 1250-1258
  The stub reads every name and text as 8-bit text of the code page of the system it runs
  on. The builder takes file names, option values and (unless --languages-encoding native)
  the language file as UTF-8 and writes them in the target code page: the names and lists
  in --codepage, each language's texts in the code page of its Charset key:
    0, 1 -> 1252   238 -> 1250   204 -> 1251   161 -> 1253   162 -> 1254   177 -> 1255
    178 -> 1256    186 -> 1257   163 -> 1258   222 -> 874    128 -> 932    134 -> 936
    129 -> 949     136 -> 950    (no Charset, or one that is not a number: 0)
  A language whose Charset is none of these may hold ASCII text only. A character that the
  code page cannot hold exactly (no look-alike is put in its place), a text that is not
  UTF-8, a C1 control character (U+0080-U+009F), or a double-byte character whose second
  byte is "\" in a name or "|" in a name, list item or BtnText (the stub would cut the
  text there) is refused with exit code 1, naming the file or key and the code page; no
  output is written. Pure ASCII input is written unchanged. A setup for a Japanese system:
    ulvbuild --stub STUB.exe --out SETUP.exe --files DIR --codepage 932

Trailer:
  --show-temp-drive-info  flag bit 0: always tell the user which temporary drive is used
  --next-disk-follows     flag bit 1: the payload continues in the next disk file
  --span-copy-to-temp     flag bit 2: a multi-disk launcher first runs a copy of itself
                          from the temporary folder
  --show-extract-progress flag bit 3: show the activity bar while unpacking
  --agent-log-file        flag bit 4: an auto-update agent also writes a log file
  --internet-setup        the setup file is downloaded from the Internet
  --confirm-download      the user confirms the download first
  --install-agent         the launcher also leaves an auto-update agent
  --agent                 this executable is an auto-update agent

Publishing (instead of a setup; no --stub needed):
  The auto-update agent of an installed product downloads the INFO file from the update
  address its own setup carries (--update-url, --info-file) and from it learns of a new
  publication: a new setup, or an inform page shown instead. The builder writes both files;
  nothing needs to be written by hand. Texts are written in --codepage like the setup's.

  --write-info OUT        write OUT as the INFO file of a publication (Windows line ends)
  --publish FILE          the published file: the new setup or, with --inform, the inform
                          page; its base name, byte size and SHA-256 go into the INFO file
                          (SHA256OfUpdateFile, or SHA256OfInformFile with --inform): the
                          agent refuses a downloaded file with another digest. Publish the
                          final file: sign a setup before writing its INFO file
  --update-url URL        folder (HTTP address or local/network path) that holds FILE
                          (DownloadURL_UPDATE); default for a setup: the update address
                          its own container carries. Required with --inform
  --version-new N         the publication's version, 1-2147483647 (VersionNew); the agent
                          offers it only to installed versions below N
  --stamp N               publication stamp, 0-2147483647 (Stamp); a new stamp makes the
                          agent offer the publication again at once. Default: the current
                          time in seconds since 1 January 1970 UTC (modulo 2^31), so that
                          every re-publication gets a new one
  --valid-versions LIST   installed versions the publication is meant for, as "3,4,5"
                          (ValidVersions); default: every version below N
  --update-token TEXT     with --write-info: check that FILE carries this update token
                          (the agent drops a file whose token differs from its own)
  Update settings (a setup; FILE must carry an update token, see --update-token):
  --program-name NAME     the new program's name, for PROG_NAME in the agent's texts
  --running-process PATH  the product's executable, closed before installing; path macros
                          such as "<InstallDir>\Prog.exe" are resolved by the agent
  --shut-down METHOD      how the running product is ended (needs --running-process):
                          message-box ("Issue a Message Box": ask the user to close it),
                          close ("Using WM_CLOSE"), quit ("Using WM_QUIT"), terminate
                          ("Using Terminate Process") or none ("Don't Shut Down", the
                          default); the quoted texts are accepted too. Required with
                          --running-process
  --confirm-download      tell or ask the user before downloading
  --confirm-download-force  the download notice informs only, it does not ask
  --confirm-install       tell or ask the user before installing
  --confirm-install-force the installation notice informs only, it does not ask
  --background            run the new setup hidden
  --restart               start the product again when it was shut down for the update
                          (needs --running-process)
  --inform-finish         tell the user when the update has finished
  --remove-startup-shortcut  delete the agent's start-up shortcut after the update
  --remove-check-shortcut delete the "check for a new update" shortcut after the update
  Inform settings:
  --inform                the publication is an inform page (General/AutoInform=1); FILE
                          is the page written with --inform-page. No update settings
  --inform-width N        outer width of the page's dialog in pixels (default 360)
  --inform-height N       its outer height (default 360)
  --inform-url URL        web address opened by the dialog's button (no button without it)

  --inform-page OUT       write OUT as an inform page: "Inform|TOKEN|||BODY", TOKEN being
                          --update-token scrambled as in a container (it must equal the
                          installed setup's update token, in the same --codepage)
  --body FILE             the page's body: plain text, or RTF ("{\rtf1...")
  --body-encoding E       utf-8 (the default; converted to --codepage, a byte order mark
                          dropped) or native (already in the target code page, copied)
  --scrambled             store the page in its "Scrambled=01" form

  Values must not contain line ends, begin or end with a blank or be enclosed in quotes
  (the agent would read them otherwise). See "Publishing an update" in README.md.

Testing aids:
  --checksum N            store N (0-4294967295, decimal or 0x hex) as the container
                          checksum instead of the computed one (1234 is accepted by the
                          stub as it is; containers over 50 MB always store 1234)
  --header-count-byte N   store N (0-255) as the header count instead of the real one
  --no-end-of-data        leave the end-of-data field 0: the trailer then ends the file
  --trailing-bytes N      append N filler bytes after the data, as a signature would be
                          (needs the end-of-data field)

  --help, -h              show this text

Payload file names must stay inside the folder the setup unpacks to and be valid on
Windows: no absolute paths, drive letters, leading "\" or "/", "." or ".." segments,
empty segments, segments ending in "." or a blank, device names (CON, PRN, AUX, NUL,
COM0-9, LPT0-9, with or without extension), control characters or any of <>:"|?*.
Two names that differ only in letter case are refused as well.

Language file:
  An INI-like text in UTF-8, each section's texts converted to the code page of its
  Charset (see "Code pages"); with --languages-encoding native, a text already in the
  target systems' 8-bit code pages whose bytes are copied as they are. A UTF-8 byte order
  mark at the start is dropped either way. Each section is one language,
  named as the stub knows it (English, German, French, ...); each line in it is key=value.
  Blanks around keys and values are removed; a value in double quotes keeps its blanks.
  Empty lines and lines starting with ";" or "#" are ignored. Keys read by the stub:
  s0-s8, s10-s12, Error, Attention, Confirm, BtnText, Charset, FontSize, FontName.
  Example:
    [English]
    s0=My Product Setup
    BtnText=|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|
    [German]
    s0=Installation von My Product
    FontName=Tahoma
    [Russian]
    Charset=204
    s1=Распаковка файлов...

Exit codes: 0 built; 1 an input was refused or a file could not be read or written;
2 the command line is malformed (unknown option, missing or bad value).
)";

// A malformed command line: exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using builder::Quoted;

// Decimal, or hexadecimal after "0x"; digits only, at most `max`.
uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max)
{
    std::string digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos || digits.size() > 16)
        throw UsageError(option + " needs a number, not " + Quoted(text));
    uint64_t value = 0;
    for (const char c : digits) {
        const uint64_t digit = c <= '9' ? uint64_t(c - '0') : uint64_t((c | 0x20) - 'a' + 10);
        if (value > (UINT64_MAX - digit) / uint64_t(base))
            throw UsageError(option + " value " + Quoted(text) + " is too large");
        value = value * uint64_t(base) + digit;
    }
    if (value > max)
        throw UsageError(option + " value " + Quoted(text) + " is above " + std::to_string(max));
    return value;
}

uint64_t ParseByteCount(const std::string& option, const std::string& text)
{
    uint64_t unit = 1;
    std::string digits = text;
    if (!digits.empty()) {
        const char suffix = static_cast<char>(digits.back() & ~0x20);
        if (suffix == 'K' || suffix == 'M' || suffix == 'G') {
            unit = suffix == 'K' ? (1u << 10) : suffix == 'M' ? (1u << 20) : (1u << 30);
            digits.pop_back();
        }
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(option + " needs a byte count, not " + Quoted(text));
    const uint64_t value = ParseNumber(option, digits, UINT64_MAX / unit);
    return value * unit;
}

struct Options {
    std::optional<std::string> stub, out, languages, mainArgs, level, chunkSize, diskSize, checksum,
        headerCountByte, trailingBytes, informPage, codePage, languagesEncoding;
    bool scrambledPage = false;
    // --write-info and --inform-page.
    std::optional<std::string> writeInfo, publish, versionNew, stamp, validVersions, programName,
        runningProcess, shutDown, informWidth, informHeight, informUrl, body, bodyEncoding;
    bool inform = false;
    builder::Publication publication;
    std::set<std::string> seen;     // every option given, for the modes' refusals
    std::optional<std::string> mainFile;
    std::vector<std::string> folders;
    std::vector<std::string> singleFiles;
    builder::ContainerPlan plan;
    bool downloadUsed = false;      // a --download-* option other than --download-url
    std::optional<std::string> downloadUrl;
    builder::DownloadRequest download;
    bool help = false;
};

Options ParseArguments(const std::vector<std::string>& args)
{
    Options o;
    auto& plan = o.plan;
    // Options with a value, each either given once (the slot) or repeatable (the list).
    const std::map<std::string, std::function<void(const std::string&)>> valued = {
        {"--stub", [&](const std::string& v) { o.stub = v; }},
        {"--out", [&](const std::string& v) { o.out = v; }},
        {"--files", [&](const std::string& v) { o.folders.push_back(v); }},
        {"--file", [&](const std::string& v) { o.singleFiles.push_back(v); }},
        {"--main", [&](const std::string& v) { o.mainFile = v; }},
        {"--main-args", [&](const std::string& v) { o.mainArgs = v; }},
        {"--level", [&](const std::string& v) { o.level = v; }},
        {"--chunk-size", [&](const std::string& v) { o.chunkSize = v; }},
        {"--disk-size", [&](const std::string& v) { o.diskSize = v; }},
        {"--languages", [&](const std::string& v) { o.languages = v; }},
        {"--languages-encoding", [&](const std::string& v) { o.languagesEncoding = v; }},
        {"--codepage", [&](const std::string& v) { o.codePage = v; }},
        {"--update-url", [&](const std::string& v) { plan.update.url = v; }},
        {"--info-file", [&](const std::string& v) { plan.update.infoFile = v; }},
        {"--agent-exe", [&](const std::string& v) { plan.update.agentExe = v; }},
        {"--update-token", [&](const std::string& v) { plan.update.token = v; }},
        {"--download-url", [&](const std::string& v) { o.downloadUrl = v; }},
        {"--download-file", [&](const std::string& v) { o.download.fileName = v; o.downloadUsed = true; }},
        {"--download-token", [&](const std::string& v) { o.download.token = v; o.downloadUsed = true; }},
        {"--download-size", [&](const std::string& v) { o.download.size = v; o.downloadUsed = true; }},
        {"--download-setup", [&](const std::string& v) { o.download.setup = builder::HostPath(v); o.downloadUsed = true; }},
        {"--checksum", [&](const std::string& v) { o.checksum = v; }},
        {"--inform-page", [&](const std::string& v) { o.informPage = v; }},
        {"--body", [&](const std::string& v) { o.body = v; }},
        {"--body-encoding", [&](const std::string& v) { o.bodyEncoding = v; }},
        {"--write-info", [&](const std::string& v) { o.writeInfo = v; }},
        {"--publish", [&](const std::string& v) { o.publish = v; }},
        {"--version-new", [&](const std::string& v) { o.versionNew = v; }},
        {"--stamp", [&](const std::string& v) { o.stamp = v; }},
        {"--valid-versions", [&](const std::string& v) { o.validVersions = v; }},
        {"--program-name", [&](const std::string& v) { o.programName = v; }},
        {"--running-process", [&](const std::string& v) { o.runningProcess = v; }},
        {"--shut-down", [&](const std::string& v) { o.shutDown = v; }},
        {"--inform-width", [&](const std::string& v) { o.informWidth = v; }},
        {"--inform-height", [&](const std::string& v) { o.informHeight = v; }},
        {"--inform-url", [&](const std::string& v) { o.informUrl = v; }},
        {"--header-count-byte", [&](const std::string& v) { o.headerCountByte = v; }},
        {"--trailing-bytes", [&](const std::string& v) { o.trailingBytes = v; }},
    };
    const std::set<std::string> repeatable = {"--files", "--file"};
    const std::map<std::string, std::function<void()>> switches = {
        {"--help", [&] { o.help = true; }},
        {"-h", [&] { o.help = true; }},
        {"--store", [&] { plan.store = true; }},
        {"--separate-launcher", [&] { plan.separateLauncher = true; }},
        {"--no-dates", [&] { plan.dates = false; }},
        {"--hidden", [&] { plan.update.hidden = true; }},
        {"--scrambled", [&] { o.scrambledPage = true; }},
        {"--always-download", [&] { o.download.always = true; o.downloadUsed = true; }},
        {"--download-hash", [&] { o.download.pin = true; o.downloadUsed = true; }},
        {"--show-temp-drive-info", [&] { plan.flags.showTempDriveInfo = true; }},
        {"--next-disk-follows", [&] { plan.flags.nextDiskFollows = true; }},
        {"--span-copy-to-temp", [&] { plan.flags.spanCopyToTemp = true; }},
        {"--show-extract-progress", [&] { plan.flags.showExtractProgress = true; }},
        {"--agent-log-file", [&] { plan.flags.agentLogFile = true; }},
        {"--internet-setup", [&] { plan.roles.internetSetup = true; }},
        {"--confirm-download", [&] { plan.roles.confirmDownload = true; }},
        {"--install-agent", [&] { plan.roles.installAgent = true; }},
        {"--agent", [&] { plan.roles.autoUpdateAgent = true; }},
        {"--no-end-of-data", [&] { plan.writeEndOfData = false; }},
        // --confirm-download above also sets the INFO file's confirmation in --write-info.
        {"--confirm-download-force", [&] { o.publication.confirmDownloadForce = true; }},
        {"--confirm-install", [&] { o.publication.confirmInstall = true; }},
        {"--confirm-install-force", [&] { o.publication.confirmInstallForce = true; }},
        {"--background", [&] { o.publication.background = true; }},
        {"--restart", [&] { o.publication.restart = true; }},
        {"--inform-finish", [&] { o.publication.informFinish = true; }},
        {"--remove-startup-shortcut", [&] { o.publication.removeStartUpShortcut = true; }},
        {"--remove-check-shortcut", [&] { o.publication.removeCheckShortcut = true; }},
        {"--inform", [&] { o.inform = true; }},
    };

    std::set<std::string> given;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (const auto sw = switches.find(name); sw != switches.end()) {
            if (inlineValue)
                throw UsageError(name + " takes no value");
            o.seen.insert(name);
            sw->second();
            continue;
        }
        const auto opt = valued.find(name);
        if (opt == valued.end()) {
            if (name.rfind("-", 0) == 0)
                throw UsageError("unknown option " + Quoted(name) + " (see --help)");
            throw UsageError("unexpected argument " + Quoted(name) + " (see --help)");
        }
        if (!repeatable.count(name) && !given.insert(name).second)
            throw UsageError(name + " given twice");
        o.seen.insert(name);
        if (!inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            inlineValue = args[++i];
        }
        opt->second(*inlineValue);
    }
    return o;
}

unsigned TargetCodePage(const Options& o)
{
    if (!o.codePage)
        return builder::kDefaultCodePage;
    const auto codePage = static_cast<unsigned>(ParseNumber("--codepage", *o.codePage, 65535));
    if (!builder::IsSupportedCodePage(codePage)) {
        std::string known;
        for (const unsigned page : builder::SupportedCodePages())
            known += (known.empty() ? "" : ", ") + std::to_string(page);
        throw UsageError("--codepage must be one of " + known + ", not " + Quoted(*o.codePage));
    }
    return codePage;
}

builder::LanguageEncoding LanguagesEncoding(const Options& o)
{
    if (!o.languagesEncoding || SameText(*o.languagesEncoding, "utf-8") || SameText(*o.languagesEncoding, "utf8"))
        return builder::LanguageEncoding::Utf8;
    if (SameText(*o.languagesEncoding, "native"))
        return builder::LanguageEncoding::Native;
    throw UsageError("--languages-encoding must be utf-8 or native, not " + Quoted(*o.languagesEncoding));
}

// Converts the option texts that go into the container from UTF-8 to the target code page. The
// "|"-delimited lists and the descriptor's main-file item must not get a "|" from a double-byte
// character either; the main file's name is compared with the converted payload names.
void EncodeOptionTexts(Options& o, unsigned codePage)
{
    const auto encode = [codePage](std::string& text, const std::string& option, std::string_view reserved) {
        text = builder::ToCodePage(text, codePage, option, reserved);
    };
    auto& update = o.plan.update;
    encode(update.url, "--update-url", "|");
    encode(update.infoFile, "--info-file", "|");
    encode(update.agentExe, "--agent-exe", "|");
    encode(update.token, "--update-token", "|");
    if (o.mainFile)
        encode(*o.mainFile, "--main", "\\|");
    if (o.mainArgs)
        encode(*o.mainArgs, "--main-args", "|");
    if (o.downloadUrl)
        encode(*o.downloadUrl, "--download-url", "|");
    if (o.download.fileName)
        encode(*o.download.fileName, "--download-file", "|");
    if (o.download.token)
        encode(*o.download.token, "--download-token", "|");
    // The web installer's setup file: its name is a host name and goes in converted; its token
    // is read from its container, where it is in that build's code page already.
    if (o.download.setup && !o.download.fileName)
        o.download.fileName = builder::ToCodePage(builder::HostText(o.download.setup->filename()), codePage,
                                                  "--download-setup file name", "|");
}

// Turns the parsed options into the container description; input files are read here, and
// every name and text is converted to the target code pages before anything is written.
builder::ContainerPlan MakePlan(Options& o)
{
    auto& plan = o.plan;
    if (!o.stub)
        throw UsageError("--stub is required (see --help)");
    if (!o.out)
        throw UsageError("--out is required (see --help)");
    if (o.mainArgs && !o.mainFile)
        throw UsageError("--main-args needs --main");
    if (o.downloadUsed && !o.downloadUrl)
        throw UsageError("--download-file, --download-token, --download-size, --download-setup, "
                         "--download-hash and --always-download need --download-url");
    if (o.download.pin && !o.download.setup)
        throw UsageError("--download-hash needs --download-setup, the file whose SHA-256 is stored");
    if (o.trailingBytes && !plan.writeEndOfData)
        throw UsageError("--trailing-bytes needs the end-of-data field; drop --no-end-of-data");
    if (o.level)
        plan.level = static_cast<int>(ParseNumber("--level", *o.level, 9));
    if (o.chunkSize) {
        plan.chunkSize = ParseByteCount("--chunk-size", *o.chunkSize);
        if (plan.chunkSize == 0)
            throw UsageError("--chunk-size must be at least 1");
    }
    if (o.diskSize) {
        plan.diskSize = ParseByteCount("--disk-size", *o.diskSize);
        if (plan.diskSize == 0)
            throw UsageError("--disk-size must be at least 1");
    }
    if (plan.separateLauncher && plan.diskSize == 0)
        throw UsageError("--separate-launcher needs --disk-size");
    if (o.checksum)
        plan.checksum = static_cast<uint32_t>(ParseNumber("--checksum", *o.checksum, UINT32_MAX));
    if (o.headerCountByte)
        plan.headerCountByte = static_cast<uint8_t>(ParseNumber("--header-count-byte", *o.headerCountByte, 255));
    if (o.trailingBytes)
        plan.trailingBytes = ParseByteCount("--trailing-bytes", *o.trailingBytes);
    const unsigned codePage = TargetCodePage(o);
    const builder::LanguageEncoding languagesEncoding = LanguagesEncoding(o);
    std::vector<std::pair<fs::path, std::string>> singles;
    for (const auto& value : o.singleFiles) {
        const size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
            throw UsageError("--file needs SRC=NAME, not " + Quoted(value));
        singles.emplace_back(builder::HostPath(value.substr(0, eq)), value.substr(eq + 1));
    }

    EncodeOptionTexts(o, codePage);
    plan.stubPath = builder::HostPath(*o.stub);
    if (o.mainFile)
        plan.mainFile = *o.mainFile;
    if (o.mainArgs)
        plan.mainArgs = *o.mainArgs;
    if (o.downloadUrl) {
        o.download.url = *o.downloadUrl;
        plan.download = builder::ResolveDownload(o.download);
    }
    if (o.languages) {
        const fs::path file = builder::HostPath(*o.languages);
        plan.languages = builder::LoadLanguageFile(file);
        if (languagesEncoding == builder::LanguageEncoding::Utf8)
            plan.languages = builder::EncodeLanguages(plan.languages, *o.languages);
    }
    std::vector<builder::PayloadFile> files;
    for (const auto& folder : o.folders) {
        const auto found = builder::CollectFolder(builder::HostPath(folder));
        files.insert(files.end(), found.begin(), found.end());
    }
    for (const auto& [source, name] : singles) {
        std::error_code ec;
        if (!fs::is_regular_file(source, ec))
            throw BuildError("--file source not found: " + Quoted(builder::HostText(source)));
        files.push_back({source, builder::NormaliseName(name)});
    }
    plan.files = builder::EncodePayloadNames(files, codePage);
    return plan;
}

// --- publishing ----------------------------------------------------------------------------

// Options of the two publishing modes, beside the shared --update-url, --update-token,
// --confirm-download and --codepage.
const std::set<std::string> kInformPageOnly = {"--inform-page", "--body", "--body-encoding", "--scrambled"};
const std::set<std::string> kUpdateSettings = {
    "--program-name",         "--running-process",         "--shut-down",      "--confirm-download",
    "--confirm-download-force", "--confirm-install",       "--confirm-install-force", "--background",
    "--restart",              "--inform-finish",           "--remove-startup-shortcut", "--remove-check-shortcut"};
const std::set<std::string> kInformSettings = {"--inform", "--inform-width", "--inform-height", "--inform-url"};
const std::set<std::string> kWriteInfoOnly = [] {
    std::set<std::string> names = {"--write-info", "--publish", "--version-new", "--stamp", "--valid-versions"};
    for (const auto* group : {&kUpdateSettings, &kInformSettings})
        names.insert(group->begin(), group->end());
    names.erase("--confirm-download");  // also a switch of the setup itself
    return names;
}();

// Refuses every option given that `mode` does not take.
void OnlyThese(const Options& o, const std::string& mode, const std::set<std::string>& allowed)
{
    for (const auto& name : o.seen)
        if (!allowed.count(name) && name != "--help" && name != "-h")
            throw UsageError(name + " does not go with " + mode + " (see --help)");
}

// A text option as the INFO file will hold it, refused when a private-profile read would not give
// it back.
void CheckInfoText(const std::optional<std::string>& value, const std::string& option)
{
    if (!value)
        return;
    const std::string problem = builder::InfoValueProblem(*value);
    if (!problem.empty())
        throw UsageError(option + " " + problem + ": " + Quoted(*value));
}

// The current time as a stamp: every publication gets another one, and the agent reads it as a
// positive 32-bit number.
int32_t DefaultStamp()
{
    const auto now = static_cast<int64_t>(std::time(nullptr));
    return static_cast<int32_t>(((now % 0x80000000LL) + 0x80000000LL) % 0x80000000LL);
}

int WriteInfo(Options& o)
{
    std::set<std::string> allowed = kWriteInfoOnly;
    allowed.insert({"--update-url", "--update-token", "--confirm-download", "--codepage"});
    OnlyThese(o, "--write-info", allowed);
    if (!o.publish)
        throw UsageError("--write-info needs --publish FILE (see --help)");
    if (!o.versionNew)
        throw UsageError("--write-info needs --version-new N (see --help)");
    if (o.inform) {
        for (const auto& name : kUpdateSettings)
            if (o.seen.count(name))
                throw UsageError(name + " is a setting of an update; it does not go with --inform");
    } else if (o.informWidth || o.informHeight || o.informUrl) {
        throw UsageError("--inform-width, --inform-height and --inform-url need --inform");
    }
    auto& p = o.publication;
    if (o.shutDown) {
        const auto method = builder::ParseShutDownMethod(*o.shutDown);
        if (!method)
            throw UsageError("--shut-down must be message-box, close, quit, terminate or none, not " +
                             Quoted(*o.shutDown));
        p.shutDown = *method;
    }
    if (o.runningProcess && !o.shutDown)
        throw UsageError("--running-process needs --shut-down METHOD (see --help)");
    if (p.shutDown != builder::ShutDownMethod::None && !o.runningProcess)
        throw UsageError("--shut-down " + *o.shutDown + " needs --running-process");
    if (p.restart && !o.runningProcess)
        throw UsageError("--restart needs --running-process: there is no program to start again");
    std::optional<std::string> updateUrl;
    if (o.seen.count("--update-url"))
        updateUrl = o.plan.update.url;
    std::optional<std::string> token;
    if (o.seen.count("--update-token"))
        token = o.plan.update.token;
    CheckInfoText(updateUrl, "--update-url");
    CheckInfoText(o.programName, "--program-name");
    CheckInfoText(o.runningProcess, "--running-process");
    CheckInfoText(o.informUrl, "--inform-url");
    if (updateUrl && updateUrl->empty())
        throw UsageError("--update-url must not be empty");
    if (token && token->empty())
        throw UsageError("--update-token must not be empty");

    p.versionNew = static_cast<int32_t>(ParseNumber("--version-new", *o.versionNew, INT32_MAX));
    if (p.versionNew < 1)
        throw UsageError("--version-new must be at least 1");
    p.stamp = o.stamp ? static_cast<int32_t>(ParseNumber("--stamp", *o.stamp, INT32_MAX)) : DefaultStamp();
    if (o.validVersions) {
        try {
            p.validVersions = builder::NormaliseValidVersions(*o.validVersions);
        } catch (const BuildError& e) {
            throw UsageError(e.what());
        }
        // An installed version that is not below the new one is never offered the publication.
        for (size_t from = 0; from < p.validVersions.size();) {
            const size_t comma = std::min(p.validVersions.find(',', from), p.validVersions.size());
            const std::string item = p.validVersions.substr(from, comma - from);
            if (std::stoll(item) >= p.versionNew)
                throw UsageError("--valid-versions lists " + item + ", which is not below --version-new " +
                                 std::to_string(p.versionNew) + ": it would never be offered");
            from = comma + 1;
        }
    }
    p.confirmDownload = o.plan.roles.confirmDownload;
    const unsigned codePage = TargetCodePage(o);
    const auto encode = [codePage](const std::optional<std::string>& text, const std::string& option,
                                   std::string_view reserved = {}) {
        return text ? builder::ToCodePage(*text, codePage, option, reserved) : std::string();
    };
    p.programName = encode(o.programName, "--program-name");
    p.runningProcess = encode(o.runningProcess, "--running-process");
    if (token)
        token = encode(token, "--update-token", "|");

    // The published file: its name as the agent cuts it (at the last "\"), its size.
    const fs::path file = builder::HostPath(*o.publish);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw BuildError("--publish file not found: " + Quoted(*o.publish));
    const uintmax_t size = fs::file_size(file, ec);
    if (ec)
        throw BuildError("cannot read the size of " + Quoted(*o.publish));
    const std::string name = builder::ToCodePage(builder::HostText(file.filename()), codePage,
                                                 "--publish file name", "\\");
    // The agent drops a downloaded file whose update token differs from its own, so a file
    // without one could never be installed or shown. Both tokens read back with one NUL after
    // them (see ScrambleToken).
    const auto expected = [&] { return *token + std::string(1, '\0'); };
    if (o.inform) {
        const std::string carried = TokenFromText(builder::ReadWholeFile(file, "inform page")).token;
        if (carried.empty() || carried.back() != '\0')
            throw BuildError(Quoted(*o.publish) + " is no inform page with an update token; write it with --inform-page");
        if (token && carried != expected())
            throw BuildError("the inform page " + Quoted(*o.publish) + " carries another update token than --update-token");
        if (!updateUrl)
            throw UsageError("--inform needs --update-url, the folder that holds the page");
        builder::InformPublication page;
        page.fileName = name;
        page.size = size;
        page.sha256 = builder::FileSha256(file);
        if (o.informWidth)
            page.width = static_cast<int32_t>(ParseNumber("--inform-width", *o.informWidth, 32767));
        if (o.informHeight)
            page.height = static_cast<int32_t>(ParseNumber("--inform-height", *o.informHeight, 32767));
        if (page.width < 1 || page.height < 1)
            throw UsageError("--inform-width and --inform-height must be at least 1");
        page.url = encode(o.informUrl, "--inform-url");
        p.inform = page;
    } else {
        const TGFileInfo setup(file.string());
        if (setup.UpdateToken(false).empty())
            throw BuildError(Quoted(*o.publish) + " carries no update token; build it with --update-token");
        if (token && setup.UpdateToken(true) != expected())
            throw BuildError("the setup " + Quoted(*o.publish) + " carries another update token than --update-token");
        if (!updateUrl && setup.UpdateUrl().empty())
            throw UsageError("--update-url is required: " + Quoted(*o.publish) + " carries no update address");
        // The address the setup carries is in its build's code page already.
        if (!updateUrl)
            p.folderUrl = setup.UpdateUrl();
        p.fileName = name;
        p.fileSize = size;
        p.sha256 = builder::FileSha256(file);
    }
    if (updateUrl)
        p.folderUrl = encode(updateUrl, "--update-url");

    const std::string text = builder::BuildInfoFile(p);
    builder::WriteWholeFile(builder::HostPath(*o.writeInfo), text);
    std::cout << "ulvbuild: wrote INFO file " << *o.writeInfo << " (" << (o.inform ? "inform page " : "update ")
              << name << ", " << size << " bytes, version " << p.versionNew << ", stamp " << p.stamp << ")\n";
    return kExitOk;
}

int WriteInformPage(Options& o)
{
    if (o.seen.count("--out"))
        throw UsageError("--inform-page takes the page to write as its value and the body with --body; "
                         "--out does not go with it");
    std::set<std::string> allowed = kInformPageOnly;
    allowed.insert({"--update-token", "--codepage"});
    OnlyThese(o, "--inform-page", allowed);
    if (!o.body)
        throw UsageError("--inform-page needs --body FILE (see --help)");
    if (!o.seen.count("--update-token") || o.plan.update.token.empty())
        throw UsageError("--inform-page needs --update-token TEXT, the token of the installed setup");
    bool utf8 = true;
    if (o.bodyEncoding) {
        if (SameText(*o.bodyEncoding, "native"))
            utf8 = false;
        else if (!SameText(*o.bodyEncoding, "utf-8") && !SameText(*o.bodyEncoding, "utf8"))
            throw UsageError("--body-encoding must be utf-8 or native, not " + Quoted(*o.bodyEncoding));
    }
    const unsigned codePage = TargetCodePage(o);
    std::string body = builder::ReadWholeFile(builder::HostPath(*o.body), "inform page body");
    if (utf8) {
        if (body.rfind("\xEF\xBB\xBF", 0) == 0)
            body.erase(0, 3);
        body = builder::ToCodePage(body, codePage, "--body " + *o.body);
    }
    const std::string token = builder::ToCodePage(o.plan.update.token, codePage, "--update-token", "|");
    const std::string page = builder::BuildInformPage(body, token, o.scrambledPage);
    builder::WriteWholeFile(builder::HostPath(*o.informPage), page);
    std::cout << "ulvbuild: wrote inform page " << *o.informPage << " (" << page.size() << " bytes)\n";
    return kExitOk;
}

int Run(const std::vector<std::string>& args)
{
    try {
        Options options = ParseArguments(args);
        if (options.help) {
            std::cout << kHelp;
            return kExitOk;
        }
        if (options.writeInfo && options.informPage)
            throw UsageError("--write-info and --inform-page write one file each; run ulvbuild twice");
        if (options.writeInfo)
            return WriteInfo(options);
        if (options.informPage)
            return WriteInformPage(options);
        for (const auto& name : options.seen) {
            if (kWriteInfoOnly.count(name))
                throw UsageError(name + " needs --write-info (see --help)");
            if (kInformPageOnly.count(name))
                throw UsageError(name + " needs --inform-page (see --help)");
        }
        const builder::ContainerPlan plan = MakePlan(options);
        const builder::BuildSummary summary = builder::WriteContainerFile(plan, builder::HostPath(*options.out));
        std::cout << "ulvbuild: wrote " << *options.out << " (" << summary.outputSize << " bytes, "
                  << plan.files.size() << " files in " << summary.fileRecords << " records";
        if (plan.diskSize > 0) {
            std::cout << ", " << summary.disks << " disk files:";
            for (const auto& file : builder::OutputFiles(plan, builder::HostPath(*options.out), summary.disks))
                std::cout << ' ' << builder::HostText(file.filename());
        }
        std::cout << ")\n";
        return kExitOk;
    } catch (const UsageError& e) {
        std::cerr << "ulvbuild: " << e.what() << '\n';
        return kExitUsage;
    } catch (const BuildError& e) {
        std::cerr << "ulvbuild: " << e.what() << '\n';
        return kExitFailure;
    } catch (const std::exception& e) {
        std::cerr << "ulvbuild: " << e.what() << '\n';
        return kExitFailure;
    }
}

}  // namespace

#ifdef _WIN32
// The narrow arguments of a Windows process are in its ANSI code page, which may lack the very
// characters a name holds; the builder takes the wide ones and carries them as UTF-8, as on Linux.
int main()
{
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (wide == nullptr) {
        std::cerr << "ulvbuild: cannot read the command line\n";
        return kExitFailure;
    }
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, nullptr, 0, nullptr, nullptr);
        if (length <= 0) {
            LocalFree(wide);
            std::cerr << "ulvbuild: argument " << i << " is not valid Unicode text\n";
            return kExitUsage;
        }
        std::string arg(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, arg.data(), length, nullptr, nullptr);
        arg.pop_back();  // the terminating NUL
        args.push_back(arg);
    }
    LocalFree(wide);
    return Run(args);
}
#else
int main(int argc, char** argv)
{
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
