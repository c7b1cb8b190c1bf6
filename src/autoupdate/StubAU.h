#pragma once
// The transient agent's update cycle: on every timer tick it decides whether a check is due,
// asks the user first when that is wanted, fetches the INFO file, asks the eligibility chain,
// records the time stamps and hands an applicable publication to the update or inform step. The
// state it shares with the steps is in StubAUState, the downloads in DownloadFileAU.
#include <cstdint>
#include <string>

// Runs on every timer tick of an agent's stub window; a tick that arrives while one runs (from a
// wait inside it) returns at once.
void AgentTick();
// 0 no check, 1 a check is due, 2 the last one that an interval of 0 allows; clears the forced
// check.
int ShotTimeStatus();
// Asks the user before a check; a No sets `status` to 0.
void ConfirmCheck(int& status);
// One check: INFO download, eligibility, stamps, the update or inform step, and for a check the
// user asked for, the answer.
void PerformShot();
// Only fetches the INFO file (agent command 32).
bool JustDownloadInfoFile();

// Starts the plain agent so that it makes a fresh transient copy (with this one's override
// list), then ends this copy; nothing while a positive countdown runs.
void ReStartAutoUpdateExe();

// Ticks are counted from -3; checks are considered only while the count is above 0.
int32_t AgentTimerCount();
void SetAgentTimerCount(int64_t count);
// Ticks left before the agent ends itself; negative: no limit.
int32_t AgentCountdown();
void SetAgentCountdown(int32_t countdown);

// The agent commands that the stub window receives as wm_AgentMsg; unknown codes answer 0.
int32_t AgentCommandResult(int32_t code, int32_t value);
