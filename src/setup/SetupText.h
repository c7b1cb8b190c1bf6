#pragma once
// The text and decision rules of the setup launch, without any system call: the engine's command
// line, the space figures and the temporary-drive notice, the choice of another drive for the
// work folder, and the launcher's own exit codes. The Win32 side (StubSetup.cpp) gathers the
// facts (free space, thread id, paths) and hands them in.
#include <array>
#include <cstdint>
#include <string>

#include "util/PathText.h"

// Exit codes of the launcher for a setup that could not be run. A launch that started the engine
// ends with the engine's own code instead; one that had nothing to start, or that the user
// declined at the temporary-drive notice, ends with 0. The values have bit 29 set, the bit the
// system leaves to applications, so no system status and no ordinary engine code looks like them;
// their low bytes (241 to 244) stay distinct also where only 8 bits of an exit code survive.
inline constexpr uint32_t ExitCodeBadChecksum = 0x205500F1;     // the container failed its checksum
inline constexpr uint32_t ExitCodeIncompleteSetup = 0x205500F2; // damaged or missing disk file, failed write, cancelled prompt
inline constexpr uint32_t ExitCodeUnpackError = 0x205500F3;     // a payload record did not inflate (or another error)
inline constexpr uint32_t ExitCodeEngineNotStarted = 0x205500F4;// the engine's process could not be created
inline constexpr uint32_t ExitCodeDownloadFailed = 0x205500F5;  // no connection, or the setup file did not arrive whole
inline constexpr uint32_t ExitCodeForeignSetup = 0x205500F6;    // the setup file is an error page or another product's

// The prefix of the global atom the engine deletes when it has completed, and of the window class
// of its dialog; both end in the launch's token suffix.
inline constexpr char TokenAtomPrefix[] = "AutoUpdateAtomTokenByUlvane";
inline constexpr char EngineDialogClassPrefix[] = ".SDialog_Class_Name.";

// The most bytes a web installer takes in for its setup file: none beyond the published size when
// the file is pinned by a hash (any other size fails the hash anyway), no limit (0) otherwise, as a
// setup republished under the same name may have grown.
uint64_t PinnedDownloadLimit(const std::string& sha256, const std::string& sizeText);

// "_" and the decimal id of the thread that runs the launch.
std::string TokenSuffix(uint32_t threadId);

// A byte count as megabytes with "." as decimal point: 1 decimal above 10 MB, 2 from 1 to 10 MB,
// 3 below 1 MB; a negative count counts as 0 ('0.000').
std::string FormatMegabytes(double bytes);

// `text` without the first occurrence of `sw` (exact letter case) and its value: from the
// switch's "/" up to, not including, the next "/", or to the end. A value holding a "/" is cut
// only up to it.
std::string RemoveSwitch(const std::string& text, const std::string& sw);

struct EngineCommandInput {
    std::string workFolder;      // where the payload was unpacked
    std::string mainFile;        // the main file text: 'Engine.exe' or 'Engine.exe* /a'
    std::string extraSwitches;   // the launcher's own arguments, handed on
    std::string tokenSuffix;     // TokenSuffix()
    std::string ownPath;         // full path of the running stub, for "/OriginExe="
    bool updateContainer = false;// the container is an auto-update agent's
};

// The engine's program name: the main file text up to its "*", trimmed.
std::string EngineProgramName(const std::string& mainFile);
// The engine's command line: the quoted program path (work folder, backslash, program name), the
// extra switches (with those after the main file's "*" appended), " /TH_ID=" and the suffix,
// " /OriginExe=" with the quoted own path unless the text already holds one, " /AutoUpdateProg"
// for an update container; finally without the "/SpanCdLvl=" and "/SpanDiskFName1=" switches,
// which only concern the launcher's temporary copy. The program path is quoted because the
// temporary folder may hold blanks, and an unquoted path would make the system try to start
// 'C:\Documents.exe' and the like first.
std::string EngineCommandLine(const EngineCommandInput& in, LeadByteTest isLead = NoLeadBytes);

// The texts of the temporary-drive notice, in the container's language.
struct TempDriveTexts {
    std::string s2;   // "extract files to your Temp Drive (<DRIVE>)"
    std::string s3;   // "Limited Free Space on your Temp Drive! (<DRIVE>)"
    std::string s4;   // the space required, "<SPACE_REQ>"
    std::string s5;   // the space available, "<SPACE_AVAIL>"
    std::string s6;   // "Continue with Setup?"
};

// True when `required` bytes fit into `available`; equal counts as too little.
bool HasRoom(double required, double available);
// The drive of a folder as shown to the user: its first character upper-cased and ":"; empty for
// an empty folder.
std::string DriveOfFolder(const std::string& folder);
// The notice for a work folder on a drive with `available` free bytes: empty when nothing is to
// be asked (no room problem and no notice wanted); else "s3" when the space is too little, "s2"
// when the notice is merely wanted, followed by "s4", "s5" and "s6", with every "<DRIVE>",
// "<SPACE_REQ>" and "<SPACE_AVAIL>" filled in.
std::string TempDriveMessage(bool showTempDriveInfo, double required, double available, const std::string& workFolder,
                             const TempDriveTexts& texts);

// The drives probed for another work folder, in order of preference on equal free space.
inline constexpr std::array<char, 3> AlternativeDrives{'C', 'D', 'E'};
// The drive with the most free space among C, D and E (a drive whose probe failed has 0 and never
// wins; equal space keeps the earlier letter), or '\0' when that is the temporary folder's own
// drive `currentDrive` or no drive has any space.
char ChooseAlternativeDrive(char currentDrive, const std::array<double, 3>& freeBytes);
// The temporary root on `drive`: "X:\TEMP", or "X:\TEMP\TEMP" when "X:\TEMP" already exists.
std::string AlternativeTempRoot(char drive, bool tempFolderExists);

// --- the Internet setup ----------------------------------------------------------------------
// The agent copy of a stub image: the image cut at the end of data it records when that lies
// inside it (whatever follows, such as a signature, would otherwise push the trailer away from the
// file's end, and the copy would be no agent), then its fifth byte from the end (the trailer's
// agent byte) set to 1. An image of 5 bytes or fewer stays as it is.
std::string AgentCopyImage(std::string image);
// The download question: "<SIZE>" replaced by the megabytes of `downloadSize` (the container's
// decimal text; 0 when it is no number).
std::string DownloadQuestion(const std::string& question, const std::string& downloadSize);
// The message when the connection test failed: the "no connection" text, then the test's own
// detail after two line breaks when there is one.
std::string NoConnectionMessage(const std::string& noConnection, const std::string& detail);
