#pragma once
// The Win32 edge of the general helpers: INI files, registry reads, the own file and the standard
// folders, the process command line, version, user and screen information, clock and the
// message-dispatching waits. Failures give the documented defaults; nothing here throws.
#include <windows.h>

#include <cstdint>
#include <string>

// --- INI files, through the system's private-profile functions -----------------------------
// The system matches section and key ignoring case, drops blanks around the value and one pair
// of enclosing quotes, and delivers at most 10240 characters. An empty section name, a missing
// file, section or key and an empty value all give `def`.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def);
// The value as a signed decimal number; `def` when missing or not a number.
int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t def);
// Creates file, section and key as needed; false when the system refuses the write.
bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t value);

// --- registry ----------------------------------------------------------------------------
// When set, registry keys are opened in the 64-bit view. Off; nothing in the system sets it.
extern bool RegistryView64;
// "HKEY_LOCAL_MACHINE" or "HKLM" and so on, ignoring case; HKEY_CURRENT_USER for any other name.
HKEY RegistryRoot(const std::string& name);
// The root of a textual registry path and, in `subkey`, the rest ('HKLM\SOFTWARE\X' gives
// HKEY_LOCAL_MACHINE and 'SOFTWARE\X'); a path without a root is under HKEY_CURRENT_USER.
HKEY SplitRegistryPath(const std::string& path, std::string& subkey);
// A value as text (a DWORD in unsigned decimal, a string list with "<0>" between its strings);
// `def` when the key or the value is missing or the data is larger than 10241 bytes.
std::string ReadRegistryString(const std::string& keyPath, const std::string& valueName, const std::string& def,
                               bool view64 = RegistryView64);

std::string ExePath();                                // full path of the running executable
std::string ExeFolder(bool trailingBackslash);
std::string WindowsFolder(bool trailingBackslash);
std::string SystemFolder(bool trailingBackslash);
std::string TempFolder(bool trailingBackslash);
std::string CommandTail();                            // the command line without the program name
std::string SwitchValue(const std::string& sw);
bool SwitchPresent(const std::string& sw);
int64_t SwitchInt(const std::string& sw, int64_t def);
std::string CommandLineValue(const std::string& keyText, const std::string& def);
// "major.minor.release.build" of a file's version resource (empty name: own file); empty when
// the file has none.
std::string FileVersionText(const std::string& fileName);
// Local date-time now, as days since 30 December 1899 with the time of day as the fraction.
double NowDateTime();
char LocaleDateSeparator();
char LocaleTimeSeparator();
// One trailing backslash removed (paths of 3 characters or more), then one added when asked.
std::string SetTrailingBackslash(const std::string& path, bool add);
// A lone backslash becomes empty; otherwise one trailing backslash goes (paths of 2 or more).
std::string StripTrailingBackslash(const std::string& path);
// Doubled backslashes reduced to one, except the leading pair of a network name and a final
// pair; with `strip` one trailing backslash goes afterwards.
std::string CollapseBackslashes(const std::string& path, bool strip);

// --- system and user information ------------------------------------------------------------
bool IsWindowsNT();
// "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion" on the NT family,
// "...\Windows\CurrentVersion" otherwise.
std::string WindowsVersionKey();
std::string RegisteredOwnerName();          // UserName() when none is registered
std::string RegisteredOrganizationName();   // empty when none is registered
std::string UserName();                     // empty on failure, as the two below
std::string ComputerName();
std::string UserDomain();
// The window's caption, at most 1023 characters; empty for a null handle.
std::string WindowText(HWND window);
// The system's text for this thread's last error code, without the final full stop.
std::string LastErrorText();
// Pixels for a font of `points` on the screen (vertical resolution read once, then kept).
int PointsToPixels(int points);
// Opens the file with its default action; true when the shell accepted it.
bool ShellRun(const std::string& file, const std::string& parameters, int showCommand);
// The environment variable "DVX" held "994" when first asked; the answer is kept for the run.
bool DeveloperMode();

// Corner that centres a width x height rectangle in the desktop work area.
void CentreInWorkArea(int width, int height, int& left, int& top);
// The number of the "QueryCancelAutoPlay" message: registered (and kept) when `registerIt`,
// forgotten (0) otherwise. AutoPlayCancelMessage() reads the kept number.
unsigned AutoPlayCancelMessage(bool registerIt);
unsigned AutoPlayCancelMessage();

int64_t MillisecondClock();                           // monotonic, from the performance counter
// Dispatches every waiting message of this thread, then sleeps `milliseconds`.
void PumpMessages(uint32_t milliseconds);
// Dispatches every waiting message of this thread and returns at once, without giving up the
// rest of the time slice: for loops that do real work between their checks for messages.
void DispatchPendingMessages();
// DispatchPendingMessages when at least `intervalMs` have passed since it last ran through here
// (one clock for every caller). For loops that run thousands of times a second: asking the
// window system for waiting messages costs about as much as moving a block of data, so asking
// before every block would halve a transfer, while a check every few milliseconds keeps the
// window just as responsive.
void DispatchPendingMessagesEvery(uint32_t intervalMs);
// Keeps dispatching messages for `duration` ms in steps of `step` ms (0: automatic).
void WaitPumping(int64_t step, int64_t duration);
