#pragma once
// The text side of the agent log: where the file lies and how a line reads.
#include <cstdint>
#include <string>

// The agent's folder, its file name with "X_" put in front unless it already starts so (case
// counts), the extension replaced by ".log": 'Agent.exe' and 'X_Agent.exe' share 'X_Agent.log'.
std::string AgentLogFileNameFor(const std::string& exePath);
// "<stamp> <thread id right-aligned in 5><prefix><message>\r\n".
std::string FormatLogLine(const std::string& timeStamp, uint32_t threadId, const std::string& prefix,
                          const std::string& message);
