#pragma once
// The files a publisher uploads beside a new setup: the INFO file, which the auto-update agent
// downloads at every check and reads through the Windows private-profile functions, and the
// inform page, the text an inform publication shows instead of an update.
//
// The INFO file is 8-bit text in the code page of the systems the agent runs on, with Windows
// line ends, one "key=value" line per setting. The texts handed in here are in that code page
// already (see CodePage.h); this unit only checks that each one survives a private-profile
// read unchanged, and lays the file out with the sections and keys the agent reads.
//
// Nothing here touches <windows.h>: the builder runs natively as well as on Windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace builder {

// How the agent ends the running product before it installs; the INFO file holds the exact text
// the agent compares with (ShutDownMethodText).
enum class ShutDownMethod { MessageBox, Close, Quit, Terminate, None };

std::string ShutDownMethodText(ShutDownMethod method);
// The method of a short name ("message-box", "close", "quit", "terminate", "none") or of its exact
// INFO text, letter case ignored; nothing for any other text.
std::optional<ShutDownMethod> ParseShutDownMethod(std::string_view text);

// The inform page of an inform publication, as the "AutoInform" section describes it.
struct InformPublication {
    std::string fileName;       // NameOfInformFile: fetched from the update folder
    uint64_t size = 0;          // SizeOfInformFile
    int32_t width = 360;        // AutoInformW, outer width of the dialog in pixels
    int32_t height = 360;       // AutoInformH
    std::string url;            // DownloadURL_INFORM: opened by the dialog's button; may be empty
    std::string sha256 = {};    // SHA256OfInformFile: the page's digest, empty to leave it out
};

// One publication: a new setup, or (with `inform`) an inform page.
struct Publication {
    std::string folderUrl;      // DownloadURL_UPDATE: the folder holding the update or inform file
    std::string fileName;       // NameOfUpdateFile (update only): a bare file name
    uint64_t fileSize = 0;      // SizeOfUpdateFile (update only)
    std::string sha256;         // SHA256OfUpdateFile (update only): the setup's digest, empty to leave it out
    int32_t versionNew = 0;     // VersionNew: at least 1
    int32_t stamp = 0;          // Stamp: a new stamp makes the agent offer the publication again
    std::string validVersions;  // ValidVersions: comma-separated decimal versions, empty for all
    std::string programName;    // ProgramName: replaces PROG_NAME in the agent's update texts

    // The flags of the update step.
    bool confirmDownload = false;
    bool confirmDownloadForce = false;
    bool confirmInstall = false;
    bool confirmInstallForce = false;
    bool background = false;
    bool restart = false;
    bool informFinish = false;
    bool removeStartUpShortcut = false;
    bool removeCheckShortcut = false;
    ShutDownMethod shutDown = ShutDownMethod::None;
    std::string runningProcess;  // RunningProcess: the product's executable, path macros allowed

    std::optional<InformPublication> inform;
};

// Why `value` would not come back unchanged from a private-profile read, or empty when it would:
// a line end or NUL would end the line, blanks around it are dropped, and a pair of quotes
// around it is removed.
std::string InfoValueProblem(std::string_view value);

// `list` ("3, 4,5") as the agent compares it: every item a decimal version from 1 to 2147483647
// in its plain form, joined by "," ("3,4,5"). Throws BuildError naming --valid-versions.
std::string NormaliseValidVersions(const std::string& list);

// The INFO file of `publication`. Throws BuildError for a value the agent would read otherwise or
// not at all, and for settings that contradict each other (an inform publication with settings of
// the update step, a restart without a program, a valid version the new one does not exceed).
std::string BuildInfoFile(const Publication& publication);

// An inform page as the agent downloads it: "Inform|" + `token` scrambled as in a container +
// "|||" + `body`; with `scrambled` the whole text in its "Scrambled=01" form (a random key
// character, each byte XOR a value of its position and the key). The token must not be empty
// (an empty update token never matches the agent's) nor hold "|".
std::string BuildInformPage(const std::string& body, const std::string& token, bool scrambled);

// `text` in single quotes for a one-line message, control characters as \xNN.
std::string Quoted(std::string_view text);

}  // namespace builder
