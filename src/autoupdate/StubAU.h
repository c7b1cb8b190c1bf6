#pragma once
// The transient agent's timer-driven update cycle and its process-wide state.
#include <cstdint>

// Runs on every timer tick of an agent's stub window.
void AgentTick();
// Settles test mode from the registry (force: re-read now); returns whether it is on.
bool CheckTestMode(bool force);

// Ticks are counted from -3; checks are considered only while the count is above 0.
int32_t AgentTimerCount();
void SetAgentTimerCount(int64_t count);
// Ticks left before the agent ends itself; negative: no limit.
int32_t AgentCountdown();
void SetAgentCountdown(int32_t countdown);
// 0 idle, 1 checking, 2 downloading, 3 installing.
int32_t AgentState();

// The agent commands that the stub window receives as wm_AgentMsg; unknown codes answer 0.
int32_t AgentCommandResult(int32_t code, int32_t value);
