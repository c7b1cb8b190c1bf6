#pragma once
// Other running programs, found by the file they were started from: the agent's own transient
// copy (to post it control messages), the installed product (to close, quit or terminate it
// before an update and wait until it has gone) and the setup engine's dialog window. Every
// operation fails quietly: no process found gives 0, false or no window.
//
// A process matches a program path when, compared ignoring letter case and surrounding blanks,
//   1. its full module path equals the path, or
//   2. its module file name equals the path (so a bare file name matches too), unless the
//      caller asks for full-path matching only, or
//   3. the short (8.3) form of its module path equals the short form of the path; a path
//      without a short form (no such file) matches nothing this way.
// A process that cannot be opened or whose module path cannot be read matches nothing.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Id of a process matching `path`, 0 when none or `path` is empty. With several matches: the
// one last in the system's list, or the first one when `firstInList`.
DWORD FindProcessByPath(const std::string& path, bool fullPathOnly, bool firstInList);
// Surrounding blanks and double quotes of `path` are removed first; bare file names match.
bool IsProcessRunning(const std::string& path);
// The id is in the system's list of process ids.
bool IsProcessIdAlive(DWORD processId);
// Handles window messages in steps of one second until the program (blanks and quotes removed,
// bare names allowed) no longer runs or `limitMs` (0: none) has passed; at least one second.
void WaitWhileProcessRuns(const std::string& path, int64_t limitMs);
// The top-level window of the matching process that counts as its main window: the one owning
// the most other windows of the process, then titled, then visible (see ProcessScore.h). None
// when the process only has hidden untitled windows, or no process matches.
HWND ProcessMainWindow(const std::string& path, bool fullPathOnly);
// Posts (never sends) the message to ProcessMainWindow; true when there was a window.
bool PostProcessMessage(const std::string& path, bool fullPathOnly, UINT message, WPARAM wParam, LPARAM lParam);
// WM_CLOSE and WM_QUIT, each with word parameter 15 and long parameter 255, which the product
// may tell apart from a user's close.
bool CloseProcessWindow(const std::string& path, bool fullPathOnly);
bool QuitProcessWindow(const std::string& path, bool fullPathOnly);
// Terminates the matching process with exit code 0; true when the system did so.
bool TerminateProcessByPath(const std::string& path, bool fullPathOnly);
// Handles messages and sleeps 100 ms at a time while a top-level window of that class and title
// exists (an empty text leaves that side open; both empty: returns at once).
void WaitWhileWindowExists(const std::string& className, const std::string& title);
// The last window in the chain of owners; null when the window has no owner.
HWND RootOwner(HWND window);
// Ids of all processes of the system.
std::vector<DWORD> ListProcessIds();
