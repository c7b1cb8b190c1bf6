#include <windows.h>

#include "autoupdate/StubAUState.h"

#include "autoupdate/StubAURules.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char TestModeKey[] = "HKEY_CURRENT_USER\\Software\\Dravocel\\Ulvane\\AutoUpdate";

int32_t g_state = 0;
int32_t g_requestedCheck = 0;
bool g_testMode = false;
std::string g_testModeUrl;
DWORD g_testModeTick = 0;

}  // namespace

int32_t AgentState() { return g_state; }
void SetAgentState(int32_t state) { g_state = state; }
int32_t RequestedCheck() { return g_requestedCheck; }
void SetRequestedCheck(int32_t requested) { g_requestedCheck = requested; }
bool TestMode() { return g_testMode; }
std::string TestModeURL() { return g_testModeUrl; }

bool CheckTestMode(bool force)
{
    const DWORD now = GetTickCount();
    if (force || now - g_testModeTick > 30000) {
        g_testMode = TestModeWanted(ReadRegistryString(TestModeKey, "TestMode", "0"),
                                    ReadRegistryString(TestModeKey, "TestModeDate", ""), DateStamp(NowDateTime()));
        g_testModeUrl = ReadRegistryString(TestModeKey, "TestModeURL", "");
    }
    g_testModeTick = now;
    return g_testMode;
}
