#pragma once
// The two diagnostic trails, both silent for the user and never failing the program:
// - trace lines, handed piece by piece to a developer's debug viewer (a top-level window of class
//   ".UDebug.") through the registered message ".U_DebugMsg." and a global atom; without a
//   viewer they vanish;
// - the agent's log file, next to the agent, when its container asks for it.
#include <string>

// The trace output: text goes into a 128-byte buffer that is handed to the viewer whenever it
// fills and whenever a line ends, so a long line arrives in several pieces.
void TraceWrite(const std::string& text);
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
