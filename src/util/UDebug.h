#pragma once
// The two diagnostic trails: trace lines on the standard output (for a developer's viewer) and
// the agent's log file. Neither ever fails or blocks the program.
#include <string>

// Writes one trace line (the text and a line end).
void TraceLine(const std::string& text);
// Writes one trace line that starts with the process id in decimal.
void TracePid(const std::string& text);

// Switches the agent log file on or off (off at start).
void SetAgentLogSwitch(bool on);
// Appends one line to the agent log file when the switch is on; nothing otherwise.
void LogLine(const std::string& message);
// Replaces the line prefix (three blanks at start; " X " in the transient agent copy).
void SetLogPrefix(const std::string& prefix);
// Full path of the agent log file, computed on first use.
std::string LogFileName();
