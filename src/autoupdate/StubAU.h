#pragma once
// The transient agent's update cycle: on every timer tick it decides whether a check is due,
// asks the user first when that is wanted, fetches the INFO file, asks the eligibility chain,
// records the time stamps and hands an applicable publication to the update or inform step. Also
// the agent's process-wide state and the downloads of its three kinds of file.
#include <cstdint>
#include <string>

// Download kinds of DownloadFileAU.
enum : uint8_t { KindInfoFile = 1, KindUpdateFile = 2, KindInformFile = 3 };

// Runs on every timer tick of an agent's stub window; a tick that arrives while one runs (from a
// wait inside it) returns at once.
void AgentTick();
// Test mode from the registry: re-read when forced or more than 30 s after the previous call;
// returns whether it is on.
bool CheckTestMode(bool force);
bool TestMode();
std::string TestModeURL();
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
// Fetches `file` (its name part) from `address` (a local or network folder, or an HTTP folder; the
// test-mode folder instead while test mode is on). The INFO file (kind 1) goes to the agent's
// INFO path and must not be a server error page; an update (2) or inform file (3) goes beside the
// agent and must carry the agent's update token, or it is deleted and "Bad Secret Token!" shown.
// True on success; `error` holds the download's error text.
bool DownloadFileAU(const std::string& address, const std::string& file, uint8_t kind, std::string& error);

// Starts the plain agent so that it makes a fresh transient copy (with this one's override
// list), then ends this copy; nothing while a positive countdown runs.
void ReStartAutoUpdateExe();

// Ticks are counted from -3; checks are considered only while the count is above 0.
int32_t AgentTimerCount();
void SetAgentTimerCount(int64_t count);
// Ticks left before the agent ends itself; negative: no limit.
int32_t AgentCountdown();
void SetAgentCountdown(int32_t countdown);
// 0 idle, 1 checking, 2 downloading, 3 installing.
int32_t AgentState();
void SetAgentState(int32_t state);
// 0 none, 2 the user asked for a check, 1 that check runs in this tick.
int32_t RequestedCheck();

// The agent commands that the stub window receives as wm_AgentMsg; unknown codes answer 0.
int32_t AgentCommandResult(int32_t code, int32_t value);
