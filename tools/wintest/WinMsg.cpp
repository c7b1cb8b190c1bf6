// ulvwinmsg: a test helper that finds windows by class and talks to them, as a controlling
// program or a monitor would.
//   ulvwinmsg find CLASS [TIMEOUT_MS]           print the window handle once a window exists
//   ulvwinmsg gone CLASS [TIMEOUT_MS]           succeed once no such window exists
//   ulvwinmsg post CLASS MSG [WPARAM [LPARAM]]  post a message
//   ulvwinmsg send CLASS MSG [WPARAM [LPARAM]]  send a message and print its result
//   ulvwinmsg flood CLASS MSG WPARAM LPARAM N     post the message N times as fast as the queue
//       takes them; prints how many were posted
//   ulvwinmsg info CLASS                        describe the window and its children:
//       window L T R B VISIBLE STYLE EXSTYLE     workarea L T R B     caption TEXT
//       child CLASS L T W H VISIBLE STYLE EXSTYLE   (client coordinates, in creation order;
//       VISIBLE is the control's own visible style, whatever its parent shows)
//   ulvwinmsg monitor CLASS MS [zero]           register as a monitor of the window (its
//       registration message 1124 with this helper's window and message, or with a zero window
//       handle when "zero" is given), collect notifications for MS milliseconds and print each
//       as "notify CODE VALUE"; "self HWND" names this helper's window
//   ulvwinmsg listen MS                         the same without registering anywhere: prints
//       "self HWND MSG" first, for a "/WM_MSG=HWND:MSG" switch, then the notifications
// Exit code 0 on success, 1 when the window was not found (in time), 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long long Number(const char* text)
{
    return std::strtoll(text, nullptr, 0);
}

HWND WaitForWindow(const char* className, DWORD timeoutMs, bool wantGone)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const HWND window = FindWindowA(className, nullptr);
        if ((window != nullptr) != wantGone)
            return wantGone ? reinterpret_cast<HWND>(1) : window;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK PrintChild(HWND child, LPARAM parent)
{
    // Only direct children: the controls of the window itself.
    if (GetParent(child) != reinterpret_cast<HWND>(parent))
        return TRUE;
    char className[256] = {};
    GetClassNameA(child, className, sizeof className);
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&r), 2);
    std::printf("child %s %ld %ld %ld %ld %d 0x%08lx 0x%08lx\n", className, r.left, r.top, r.right - r.left,
                r.bottom - r.top, (GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE) ? 1 : 0,
                static_cast<unsigned long>(GetWindowLongPtrA(child, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrA(child, GWL_EXSTYLE)));
    return TRUE;
}

int Info(HWND window)
{
    RECT r{}, area{};
    GetWindowRect(window, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    std::printf("window %ld %ld %ld %ld %d 0x%08lx 0x%08lx\n", r.left, r.top, r.right, r.bottom,
                IsWindowVisible(window) ? 1 : 0, static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
    std::printf("workarea %ld %ld %ld %ld\n", area.left, area.top, area.right, area.bottom);
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    std::printf("caption %s\n", caption);
    EnumChildWindows(window, PrintChild, reinterpret_cast<LPARAM>(window));
    return 0;
}

UINT g_notifyMessage = 0;

LRESULT CALLBACK MonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_notifyMessage && g_notifyMessage != 0) {
        std::printf("notify %lld %lld\n", static_cast<long long>(wParam), static_cast<long long>(lParam));
        std::fflush(stdout);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateMonitorWindow()
{
    g_notifyMessage = RegisterWindowMessageA("UlvTestMonitorMessage");
    WNDCLASSA wc{};
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UlvTestMonitor";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "UlvTestMonitor", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void CollectNotifications(HWND self, DWORD durationMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(10);
    }
    DestroyWindow(self);
}

int Monitor(HWND target, DWORD durationMs, bool zeroWindow)
{
    const HWND self = CreateMonitorWindow();
    std::printf("self %lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(self)));
    PostMessageA(target, WM_USER + 100, zeroWindow ? 0 : reinterpret_cast<WPARAM>(self), g_notifyMessage);
    CollectNotifications(self, durationMs);
    return 0;
}

// A monitor that registers nowhere itself: its window and message go on a command line.
int Listen(DWORD durationMs)
{
    const HWND self = CreateMonitorWindow();
    std::printf("self %lld %u\n", static_cast<long long>(reinterpret_cast<INT_PTR>(self)), g_notifyMessage);
    std::fflush(stdout);
    CollectNotifications(self, durationMs);
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: ulvwinmsg find|gone CLASS [TIMEOUT_MS] | post|send CLASS MSG [WPARAM [LPARAM]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const std::string verb = argv[1];
    if (verb == "listen")
        return Listen(static_cast<DWORD>(Number(argv[2])));
    const char* className = argv[2];
    if (verb == "find" || verb == "gone") {
        const DWORD timeout = argc > 3 ? static_cast<DWORD>(Number(argv[3])) : 0;
        const HWND window = WaitForWindow(className, timeout, verb == "gone");
        if (!window)
            return 1;
        if (verb == "find")
            std::printf("%lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
        return 0;
    }
    if (verb == "info" || verb == "monitor") {
        const HWND window = FindWindowA(className, nullptr);
        if (!window)
            return 1;
        if (verb == "info")
            return Info(window);
        if (argc < 4)
            return Usage();
        return Monitor(window, static_cast<DWORD>(Number(argv[3])), argc > 4 && std::string(argv[4]) == "zero");
    }
    if (verb == "flood" && argc >= 7) {
        const HWND window = FindWindowA(className, nullptr);
        if (!window)
            return 1;
        const long long count = Number(argv[6]);
        long long posted = 0;
        for (long long i = 0; i < count; ++i)
            posted += PostMessageA(window, static_cast<UINT>(Number(argv[3])), static_cast<WPARAM>(Number(argv[4])),
                                   static_cast<LPARAM>(Number(argv[5])))
                          ? 1
                          : 0;
        std::printf("%lld\n", posted);
        return posted == count ? 0 : 1;
    }
    if ((verb == "post" || verb == "send") && argc >= 4) {
        const HWND window = FindWindowA(className, nullptr);
        if (!window)
            return 1;
        const UINT message = static_cast<UINT>(Number(argv[3]));
        const WPARAM wParam = argc > 4 ? static_cast<WPARAM>(Number(argv[4])) : 0;
        const LPARAM lParam = argc > 5 ? static_cast<LPARAM>(Number(argv[5])) : 0;
        if (verb == "post")
            return PostMessageA(window, message, wParam, lParam) ? 0 : 1;
        std::printf("%lld\n", static_cast<long long>(SendMessageA(window, message, wParam, lParam)));
        return 0;
    }
    return Usage();
}
