#pragma once
// The agent's process-wide state that its check, downloads and steps share: what it is doing,
// whether the user asked for the running check, and the test mode read from the registry.
#include <cstdint>
#include <string>

// 0 idle, 1 checking, 2 downloading, 3 installing.
int32_t AgentState();
void SetAgentState(int32_t state);
// 0 none, 2 the user asked for a check, 1 that check runs in this tick.
int32_t RequestedCheck();
void SetRequestedCheck(int32_t requested);
// Test mode from the registry: re-read when forced or more than 30 s after the previous call;
// returns whether it is on.
bool CheckTestMode(bool force);
bool TestMode();
std::string TestModeURL();
