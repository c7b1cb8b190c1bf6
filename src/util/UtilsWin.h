#pragma once
// The Win32 edge of the general helpers: the own file, the process command line, version,
// clock and the message-dispatching waits. Failures give the documented defaults.
#include <cstdint>
#include <string>

std::string ExePath();                                // full path of the running executable
std::string ExeFolder(bool trailingBackslash);
std::string TempFolder(bool trailingBackslash);
std::string CommandTail();                            // the command line without the program name
std::string SwitchValue(const std::string& sw);
bool SwitchPresent(const std::string& sw);
int64_t SwitchInt(const std::string& sw, int64_t def);
std::string CommandLineValue(const std::string& spec, const std::string& def);
// "major.minor.release.build" of a file's version resource (empty name: own file); empty when
// the file has none.
std::string FileVersionText(const std::string& fileName);
// Local date-time now, as days since 30 December 1899 with the time of day as the fraction.
double NowDateTime();
char LocaleDateSeparator();
char LocaleTimeSeparator();
// One trailing backslash removed (paths of 3 characters or more), then one added when asked.
std::string SetTrailingBackslash(const std::string& path, bool add);

// Corner that centres a width x height rectangle in the desktop work area.
void CentreInWorkArea(int width, int height, int& left, int& top);
// The number of the "QueryCancelAutoPlay" message: registered (and kept) when `registerIt`,
// forgotten (0) otherwise. AutoPlayCancelMessage() reads the kept number.
unsigned AutoPlayCancelMessage(bool registerIt);
unsigned AutoPlayCancelMessage();

int64_t MillisecondClock();                           // monotonic, from the performance counter
// Dispatches every waiting message of this thread, then sleeps `milliseconds`.
void PumpMessages(uint32_t milliseconds);
// Keeps dispatching messages for `duration` ms in steps of `step` ms (0: automatic).
void WaitPumping(int64_t step, int64_t duration);
