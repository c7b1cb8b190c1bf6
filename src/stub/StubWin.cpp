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
UniqueGdiObject g_statusFont;
bool g_quit = false;

bool RightToLeftCharset()
{
    const int charset = OwnFileInfo().LangCharset();
    return charset == 177 || charset == 178;
}

void CreateChildren(HWND window)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    const bool rtl = RightToLeftCharset();
    const HWND status = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, rtl ? 122 : 70, 20, 340, 18, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance, nullptr);
    g_statusFont.Reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma"));
    if (status && g_statusFont)
        SendMessageA(status, WM_SETFONT, reinterpret_cast<WPARAM>(g_statusFont.Get()), FALSE);
    const HWND progress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 70, 38, 392, 13, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)), instance, nullptr);
    const HWND activity = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, rtl ? 70 : 416, 20, 46, 13, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kActivityId)), instance, nullptr);
    SetStubWindowFace({window, status, progress, activity});
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
        SetMonitor(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
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
    SetStubWindowFace({});
    SetDownloadAbortFlag(true);
    ReleaseWinINet();
    NotifyMonitor(43, 0);
}
