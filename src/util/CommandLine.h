#pragma once
// The text rules of the command-line switches, applied to the process command line exactly as
// the system reports it (never to a pre-split argument list). Portable: the Win32 edge
// (UtilsWin.h) feeds them GetCommandLineA and the module path.
#include <cstdint>
#include <string>

// The command line without the program's own name, trimmed.
std::string CommandTailOf(const std::string& commandLine, const std::string& exePath);
// Value of a switch such as "/WAIT=" found anywhere in the tail, ignoring case: a quoted value
// runs to the next double quote, otherwise to the next blank or "/"; "TRUE" when the switch ends
// the line; empty when the switch is absent.
std::string SwitchValueIn(const std::string& tail, const std::string& sw);
bool SwitchPresentIn(const std::string& tail, const std::string& sw);
// `SwitchValueIn` as a decimal number; `def` when absent, "TRUE" or not a number.
int64_t SwitchIntIn(const std::string& tail, const std::string& sw, int64_t def);
// Value of `keyText` (delimiter + key, such as "/OriginExe") read as a list item of the whole line;
// quotes around it removed; `def` when missing.
std::string CommandLineValueIn(const std::string& commandLine, const std::string& keyText,
                               const std::string& def);
