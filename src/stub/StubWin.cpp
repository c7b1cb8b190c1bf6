#include "stub/StubWin.h"

#include <commctrl.h>

#include "autoupdate/StubAU.h"
#include "inet/InetHTTP.h"
#include "pack/PackX.h"
#include "setup/StubSetup.h"
#include "stub/Stub.h"
#include "ui/UMsgBox.h"
#include "util/Files.h"
#include "util/Handles.h"
#include "util/UDebug.h"
#include "util/UtilsWin.h"

namespace {

constexpr int kWidth = 492;
constexpr int kHeight = 110;
constexpr UINT_PTR kTimerId = 1;
constexpr int kStatusId = 100;
constexpr int kProgressId = 101;
constexpr int kActivityId = 102;

HWND g_window = nullptr;
HWND g_status = nullptr;
HWND g_progress = nullptr;
HWND g_activity = nullptr;
UniqueGdiObject g_statusFont;
bool g_quit = false;
HWND g_monitorWindow = nullptr;
UINT g_monitorMessage = 0;
int g_activityPosition = 0;

bool RightToLeftCharset()
{
    const int charset = OwnFileInfo().LangCharset();
    return charset == 177 || charset == 178;
}

void CreateChildren(HWND window)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    const bool rtl = RightToLeftCharset();
    g_status = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, rtl ? 122 : 70, 20, 340, 18, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance, nullptr);
    g_statusFont.Reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma"));
    if (g_status && g_statusFont)
        SendMessageA(g_status, WM_SETFONT, reinterpret_cast<WPARAM>(g_statusFont.Get()), FALSE);
    g_progress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 70, 38, 392, 13, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)), instance, nullptr);
    g_activity = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, rtl ? 70 : 416, 20, 46, 13, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kActivityId)), instance, nullptr);
    SetTimer(window, kTimerId, 1000, nullptr);
}

void Paint(HWND window)
{
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (const HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MainIcon"))
        DrawIcon(dc, 18, 20, icon);
    EndPaint(window, &ps);
}

}  // namespace

HWND StubWindow()
{
    return g_window;
}

HWND StubStatusLabel()
{
    return g_status;
}

HWND StubProgressBar()
{
    return g_progress;
}

HWND StubActivityBar()
{
    return g_activity;
}

void StubProgress(int kind, int64_t maximum, int64_t position, int64_t step)
{
    if (kind == 0) {
        SendMessageA(g_progress, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageA(g_progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        SendMessageA(g_progress, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
        SendMessageA(g_activity, PBM_SETRANGE32, 0, 5);
        SendMessageA(g_activity, PBM_SETPOS, 0, 0);
        SendMessageA(g_activity, PBM_SETSTEP, 1, 0);
        g_activityPosition = 0;
    } else if (kind == 1) {
        SendMessageA(g_progress, PBM_STEPIT, 0, 0);
        g_activityPosition = (g_activityPosition + 1) % 6;
        SendMessageA(g_activity, PBM_SETPOS, static_cast<WPARAM>(g_activityPosition), 0);
    }
}

void NotifyMonitor(WPARAM code, LPARAM value)
{
    if (g_monitorWindow && g_monitorMessage)
        PostMessageA(g_monitorWindow, g_monitorMessage, code, value);
}

int32_t AgentCommand(int32_t code, int32_t value)
{
    return AgentCommandResult(code, value);
}

bool CloseMainWindow()
{
    LogLine(".. CloseMainWindow() - Start");
    bool result = true;
    if (!DownloadAbortFlag()) {
        SetDownloadAbortFlag(true);
        result = false;
    }
    LogLine(".. CloseMainWindow() - End");
    return result;
}

void DestroyMainWindow()
{
    LogLine(".. DestroyMainWindow() - Start");
    SetDownloadAbortFlag(true);
    DeleteFolderTree(SetupWorkFolder(), false);
    PostQuitMessage(0);
    g_quit = true;
    LogLine(".. DestroyMainWindow() - End");
}

LRESULT CALLBACK StubWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateChildren(window);
        break;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_TIMER:
        if (ThisIs_AutoUpdateProg()) {
            AgentTick();
        } else {
            KillTimer(window, kTimerId);
            StartSetup();
        }
        return 0;
    case WM_CLOSE:
        if (!CloseMainWindow())
            return 0;
        break;
    case WM_DESTROY:
        TraceLine("- wm_Destroy -");
        DestroyMainWindow();
        break;
    case WM_QUIT:
        TraceLine("- wm_Quit -");
        DestroyMainWindow();
        break;
    case wm_ShutDown:
        SetAgentCountdown(static_cast<int32_t>(wParam));
        break;
    case wm_LocalMsg:
        g_monitorWindow = reinterpret_cast<HWND>(wParam);
        g_monitorMessage = static_cast<UINT>(lParam);
        NotifyMonitor(50, reinterpret_cast<LPARAM>(window));
        NotifyMonitor(51, wm_AgentMsg);
        break;
    case wm_AgentMsg:
        return AgentCommand(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
    default:
        if (message != 0 && message == AutoPlayCancelMessage())
            return 1;  // refuse the automatic start of a disk inserted while we wait for it
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void StubWin::WinMain()
{
    const int64_t sleep = SwitchInt("/SleepX=", -1);
    if (sleep >= 0)
        SetAgentTimerCount(-sleep);

    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = StubWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "MainIcon");
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = StubClassName().c_str();
    RegisterClassA(&wc);

    int left = 0, top = 0;
    CentreInWorkArea(kWidth, kHeight, left, top);
    const std::string caption = OwnFileInfo().LangString("s0", "Ulvane Installation Suite");
    g_quit = false;
    g_window = CreateWindowExA(0, StubClassName().c_str(), caption.c_str(), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                               left, top, kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    // Every message box of the run speaks the container language's font.
    SetMsgBoxFont(OwnFileInfo().LangFontName(), OwnFileInfo().LangFontSize(), OwnFileInfo().LangCharset());
    if (g_window) {
        ShowWindow(g_window, SW_HIDE);
        MSG msg;
        while (!g_quit && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        KillTimer(g_window, kTimerId);
    }
    g_window = nullptr;
    SetDownloadAbortFlag(true);
    ReleaseWinINet();
    NotifyMonitor(43, 0);
}
