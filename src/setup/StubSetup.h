#pragma once
// The setup launcher's road from the first timer tick to the finished setup engine: the work
// folder (and another drive when the temporary drive is too small), the temporary-drive notice,
// unpacking the payload, starting the engine with its command line and token atom, waiting for
// it and its dialog window, taking over its exit code, and cleaning up.
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/Handles.h"

class TGFileInfo;

// The launcher's work folder in the temporary area, "SETUP_" + the time half of the stub file's
// DOS date-time. On first use a leftover folder of that name is removed and the folder created;
// later uses return the kept name.
std::string SetupWorkFolder();
// The name SetupWorkFolder uses, without touching the disk.
std::string SetupWorkFolderName(const std::string& tempFolder, unsigned dosTime);

// Runs on the launcher's first timer tick (the stub window has stopped its timer): launches the
// setup of the own container (or of the first disk file named by "/SpanDiskFName1="), removes
// the work folder and ends the stub's message loop. The process exit code is the engine's, 0
// when nothing was to be started or the user declined, or one of the codes of SetupText.h.
void StartSetup();

// Unpacks the container file's payload into the work folder (or an alternative one when the
// temporary drive lacks room), starts the engine and waits until it and its dialog window are
// gone. `foreground`: the window, the temporary-drive notice and the engine are shown. True when
// the engine completed, that is, deleted the token atom. Sets the stub's exit code.
bool LaunchSetupEngine(const std::string& workFolder, const std::string& containerFile,
                       const std::string& agentFileName, const std::string& extraSwitches, bool foreground);

// Room for the container's payload on the folder's volume (equal counts as too little); a folder
// that does not exist has no room.
bool HasRoomInTempFolder(const std::string& folder, const std::string& containerFile);
// Shows the temporary-drive notice when the container asks for it or space is short; true when
// the launch may go on (no notice, or Yes).
bool ConfirmTempDrive(const std::string& workFolder, const std::string& containerFile, const TGFileInfo& reader);

// Probes the fixed drives C to E once and keeps "X:\TEMP" (or "X:\TEMP\TEMP") of the one with the
// most free space when that is not the temporary folder's drive. True when such a root is kept.
bool ChooseAlternativeTempRoot();
// The alternative work folder (root + "_" + a random number), created on first use; empty while
// no alternative root is kept.
std::string AlternativeWorkFolder();
void DeleteAlternativeWorkFolder();

// Sets the status label's text and its font (face, character set, size in points); right-aligned
// right-to-left reading for the character sets 177 and 178.
void SetStatusText(HWND label, const std::string& text, const std::string& fontName, int charset, int fontSize);
// "ForcePrompt" under HKEY_CURRENT_USER\Software\Dravocel\Ulvane\SpanDisk is "1": every further
// disk is asked for.
bool ForcePromptEnabled();
// Starts the command line as a new process with the given show mode; no handle when it failed.
UniqueKernelHandle StartProcess(const std::string& commandLine, uint16_t showMode);
// Waits, dispatching messages, until the process has ended (checked every 500 ms).
void WaitForProcessEnd(HANDLE process);

// The settings files beside the running stub, named by its own container's INFO file name
// ('Prog.info') and the matching '.original' file ('Prog.original'); empty when the container
// names no INFO file.
std::string InfoFilePath();
std::string OriginalFilePath();

// The Internet setup (the container's InternetSetup flag), run by StartSetup instead of its own
// unpacking: leaves the agent copy when the container asks for it, then fetches the setup file
// (or takes the copy beside the stub when the container allows) and launches it.
void RunInternetSetup(const TGFileInfo& own);
// Writes the stub's own file as an auto-update agent into the setup work folder under
// `agentFileName`: cut at its end of data (so it ends with the container's trailer whatever was
// appended after the build, such as a signature) and with the trailer's agent byte set.
void WriteAgentCopy(const std::string& agentFileName);
// Takes the setup file `fileName` from `location` (a folder beside the stub, or an Internet folder
// from which it is downloaded into the temporary folder after the user agreed and the connection
// test passed), checks that it carries the stub's download token, launches it from `workFolder`
// and deletes it again when it was downloaded. Errors are shown; the exit code says what failed.
void DownloadAndLaunchSetup(const std::string& workFolder, const std::string& location, const std::string& fileName);
