// ulvmsgbox: shows one markup message box as its command line asks and prints what came back.
//   ulvmsgbox [OPTIONS] ENTRY
// ENTRY: error | attention | yesno | okcancel (the entry points), markup (ShowMarkupMessage),
// show (MsgBoxShow itself, owned by the active window).
// OPTIONS:
//   --mode N|owner     the mode (default 1); "owner" passes the handle of the --owner window
//   --text T --title T --buttons LIST --charset N (default 1) --flags N (markup, show)
//   --timeout MS       (attention, yesno, markup, show)
//   --font FACE SIZE CHARSET   SetMsgBoxFont before the box
//   --owner            first shows an active top-level window of class "UlvProbeOwner"
//   --autoplay         registers the "QueryCancelAutoPlay" message first
//   --quit CODE        posts a quit message (exit code CODE) to the thread before the box
//   --check-quit       after the box, plays the caller's loop for 2 s and reports whether a quit
//                      message arrives (implied by --quit)
//   --inspect MS       from a timer that the box's loop dispatches, the first tick after MS ms
//                      that finds the box prints "closegreyed 0|1": the state of the box's
//                      system-menu Close entry, which only the box's own process can read
// Output, one "key value" line each: "result N" (the code, or TRUE/FALSE for yesno and okcancel,
// "none" for error and attention), "elapsed MS", and with --owner "owner_enabled 0|1", with
// --quit or --check-quit "quit 0" or "quit 1 CODE" (whether a quit message arrived after the box).
// Exit code 0, or 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ui/UMsgBox.h"
#include "util/UtilsWin.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: ulvmsgbox [--mode N|owner] [--text T] [--title T] [--buttons LIST] [--charset N] "
                         "[--flags N] [--timeout MS] [--font FACE SIZE CHARSET] [--owner] [--autoplay] "
                         "[--quit CODE] [--check-quit] [--inspect MS] error|attention|yesno|okcancel|markup|show\n");
    return 2;
}

long long Number(const std::string& text)
{
    return std::strtoll(text.c_str(), nullptr, 0);
}

HWND CreateOwnerWindow()
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = "UlvProbeOwner";
    RegisterClassExA(&wc);
    const HWND window = CreateWindowExA(0, "UlvProbeOwner", "Probe owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                                       300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    return window;
}

// Ticks until the box's window is there (building it can take longer than the first interval).
void CALLBACK InspectBox(HWND, UINT, UINT_PTR id, DWORD)
{
    const HWND box = FindWindowA("UMsgBox", nullptr);
    if (box == nullptr)
        return;
    KillTimer(nullptr, id);
    const UINT state = GetMenuState(GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1))
        std::printf("closegreyed ?\n");
    else
        std::printf("closegreyed %d\n", (state & MF_GRAYED) ? 1 : 0);
    std::fflush(stdout);
}

// Plays the caller's own message loop for a while: true (and the code) when its quit arrives.
bool QuitArrives(int& code)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 2000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                code = static_cast<int>(msg.wParam);
                return true;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> opt{{"mode", "1"}, {"text", ""}, {"title", ""}, {"buttons", ""},
                                           {"charset", "1"}, {"flags", "0"}, {"timeout", "0"}};
    std::string entry;
    bool owner = false, autoplay = false, quit = false, checkQuit = false, font = false;
    std::string face;
    int size = 0, fontCharset = 0, quitCode = 0, inspectMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--owner") {
            owner = true;
        } else if (a == "--autoplay") {
            autoplay = true;
        } else if (a == "--font" && i + 3 < argc) {
            font = true;
            face = argv[++i];
            size = static_cast<int>(Number(argv[++i]));
            fontCharset = static_cast<int>(Number(argv[++i]));
        } else if (a == "--check-quit") {
            checkQuit = true;
        } else if (a == "--quit" && i + 1 < argc) {
            quit = checkQuit = true;
            quitCode = static_cast<int>(Number(argv[++i]));
        } else if (a == "--inspect" && i + 1 < argc) {
            inspectMs = static_cast<int>(Number(argv[++i]));
        } else if (a.rfind("--", 0) == 0 && opt.count(a.substr(2)) && i + 1 < argc) {
            opt[a.substr(2)] = argv[++i];
        } else if (entry.empty() && a.rfind("--", 0) != 0) {
            entry = a;
        } else {
            return Usage();
        }
    }
    if (entry.empty())
        return Usage();

    const HWND ownerWindow = owner ? CreateOwnerWindow() : nullptr;
    if (autoplay)
        AutoPlayCancelMessage(true);
    if (font)
        SetMsgBoxFont(face, size, fontCharset);
    const INT_PTR mode = opt["mode"] == "owner" ? reinterpret_cast<INT_PTR>(ownerWindow)
                                                : static_cast<INT_PTR>(Number(opt["mode"]));
    const std::string& text = opt["text"];
    const std::string& title = opt["title"];
    const std::string& buttons = opt["buttons"];
    const int charset = static_cast<int>(Number(opt["charset"]));
    const auto flags = static_cast<uint32_t>(Number(opt["flags"]));
    const int timeout = static_cast<int>(Number(opt["timeout"]));
    if (inspectMs > 0)
        SetTimer(nullptr, 0, static_cast<UINT>(inspectMs), InspectBox);
    if (quit)
        PostQuitMessage(quitCode);

    const int64_t start = MillisecondClock();
    std::string result;
    if (entry == "error") {
        ShowError(mode, text, title, buttons, charset);
        result = "none";
    } else if (entry == "attention") {
        ShowAttention(mode, text, title, buttons, charset, timeout);
        result = "none";
    } else if (entry == "yesno") {
        result = AskYesNo(mode, text, title, buttons, charset, timeout) ? "TRUE" : "FALSE";
    } else if (entry == "okcancel") {
        result = AskOkCancel(mode, text, title, buttons, charset) ? "TRUE" : "FALSE";
    } else if (entry == "markup") {
        result = std::to_string(ShowMarkupMessage(mode, text, title, buttons, charset, flags, timeout));
    } else if (entry == "show") {
        result = std::to_string(MsgBoxShow(GetActiveWindow(), text, title, buttons, flags, timeout));
    } else {
        return Usage();
    }
    const int64_t elapsed = MillisecondClock() - start;
    std::printf("result %s\nelapsed %lld\n", result.c_str(), static_cast<long long>(elapsed));
    if (ownerWindow)
        std::printf("owner_enabled %d\n", IsWindowEnabled(ownerWindow) ? 1 : 0);
    if (checkQuit) {
        int code = 0;
        if (QuitArrives(code))
            std::printf("quit 1 %d\n", code);
        else
            std::printf("quit 0\n");
    }
    std::fflush(stdout);
    if (ownerWindow)
        DestroyWindow(ownerWindow);
    return 0;
}
