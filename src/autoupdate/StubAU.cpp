#include <windows.h>

#include "autoupdate/StubAU.h"

#include "util/UDebug.h"
#include "util/Utils.h"

namespace {

int32_t g_timerCount = -3;
int32_t g_countdown = -1;
int32_t g_state = 0;
bool g_busy = false;
bool g_forcedCheck = false;
int32_t g_requestedCheck = 0;
bool g_justDownloadInfo = false;
bool g_testMode = false;

// Raised on entry, cleared on every way out, so that a tick dispatched from inside a wait of the
// running tick returns at once.
class BusyGuard {
public:
    BusyGuard() { g_busy = true; }
    ~BusyGuard() { g_busy = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

}  // namespace

int32_t AgentTimerCount() { return g_timerCount; }
void SetAgentTimerCount(int64_t count) { g_timerCount = static_cast<int32_t>(count); }
int32_t AgentCountdown() { return g_countdown; }
void SetAgentCountdown(int32_t countdown) { g_countdown = countdown; }
int32_t AgentState() { return g_state; }

bool CheckTestMode(bool /*force*/)
{
    // The registry-driven test mode arrives with the update check; until then it stays off.
    return g_testMode;
}

void AgentTick()
{
    if (g_busy)
        return;
    BusyGuard busy;
    if (g_justDownloadInfo) {
        TraceLine("-------------- JustDownloadInfoFile ---------------");
        g_justDownloadInfo = false;
        return;
    }
    g_state = 0;
    if (g_requestedCheck == 2)
        g_requestedCheck = 1;
    if (g_requestedCheck == 1)
        g_timerCount = 0;
    // A countdown of n ends the agent on the (n+1)-th tick.
    if (g_countdown == 0)
        PostQuitMessage(0);
    if (g_countdown >= 0)
        --g_countdown;
    ++g_timerCount;
    TracePid(" AutoUpdateTimerCount=" + IntToStr(g_timerCount));
    // The update check itself (INFO download, eligibility, update or inform step) comes here.
}

int32_t AgentCommandResult(int32_t code, int32_t value)
{
    switch (code) {
    case 7:
        return g_state;
    case 30:
        g_countdown = value;
        return 0;
    case 31:
        g_forcedCheck = true;
        if (g_timerCount < 1)
            g_timerCount = 1;
        if (value == 2)
            g_requestedCheck = 2;
        return 0;
    case 32:
        g_justDownloadInfo = true;
        return 0;
    default:
        return 0;
    }
}
