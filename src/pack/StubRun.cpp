#include "pack/StubRun.h"

#include <commctrl.h>

#include "pack/PackX.h"
#include "util/UtilsWin.h"

namespace {

std::unique_ptr<TGFileInfo> g_ownFileInfo;
bool g_isAgent = false;
StubWindowFace g_face;
int g_activityPosition = 0;
HWND g_monitorWindow = nullptr;
UINT g_monitorMessage = 0;
int g_exitCode = 0;

}  // namespace

TGFileInfo& OwnFileInfo()
{
    static TGFileInfo none("");
    return g_ownFileInfo ? *g_ownFileInfo : none;
}

void LoadOwnFileInfo(const std::string& path)
{
    if (path.empty()) {
        g_ownFileInfo.reset();
        return;
    }
    g_ownFileInfo = std::make_unique<TGFileInfo>(path);
    g_isAgent = g_ownFileInfo->ThisIs_AutoUpdateProg();
}

bool ThisIs_AutoUpdateProg() { return g_isAgent; }

std::string OwnFileName()
{
    const std::string path = ExePath();
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void SetStubWindowFace(const StubWindowFace& face)
{
    g_face = face;
    g_activityPosition = 0;
}

HWND StubWindow() { return g_face.window; }
HWND StubStatusLabel() { return g_face.statusLabel; }
HWND StubProgressBar() { return g_face.progressBar; }
HWND StubActivityBar() { return g_face.activityBar; }

void StubProgress(int kind, int64_t maximum, int64_t position, int64_t step)
{
    if (kind == 0) {
        SendMessageA(g_face.progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageA(g_face.progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        SendMessageA(g_face.progressBar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
        SendMessageA(g_face.activityBar, PBM_SETRANGE32, 0, 5);
        SendMessageA(g_face.activityBar, PBM_SETPOS, 0, 0);
        SendMessageA(g_face.activityBar, PBM_SETSTEP, 1, 0);
        g_activityPosition = 0;
    } else if (kind == 1) {
        SendMessageA(g_face.progressBar, PBM_STEPIT, 0, 0);
        g_activityPosition = (g_activityPosition + 1) % 6;
        SendMessageA(g_face.activityBar, PBM_SETPOS, static_cast<WPARAM>(g_activityPosition), 0);
    }
}

void SetMonitor(HWND window, UINT message)
{
    g_monitorWindow = window;
    g_monitorMessage = message;
}

void NotifyMonitor(WPARAM code, LPARAM value)
{
    if (g_monitorWindow && g_monitorMessage)
        PostMessageA(g_monitorWindow, g_monitorMessage, code, value);
}

int StubExitCode() { return g_exitCode; }
void SetStubExitCode(int code) { g_exitCode = code; }
