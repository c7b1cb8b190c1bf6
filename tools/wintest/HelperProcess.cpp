// ulvhelperproc: a process with the top-level windows a test asks for, to be found, scored,
// closed, quit and terminated by the process helpers.
//
//   ulvhelperproc --log=FILE [--exit=N] [--lifetime=MS] [--class=NAME] [--load=DLL] WINDOW...
//
// WINDOW is [h|v][u|t][+K]: hidden or visible, untitled or titled, owning K hidden untitled
// windows of its own. Titled windows are called "CLASS window I" (I counts the WINDOW arguments
// from 0). All windows have the class NAME (default "UlvHelperWindow"). --load=DLL first loads
// the library DLL by the name given, with the system's ordinary search (the program's folder
// first), as a program that does not guard its loads would.
//
// Lines appended to FILE:
//   loaded DLL / not loaded DLL                     the outcome of --load
//   window I HWND        a WINDOW argument's window (handle in decimal)
//   owned I HWND         a window owned by window I
//   ready                all windows exist
//   WM_CLOSE W L window=I, WM_APP+n W L window=I    messages received (I = -1: other window)
//   WM_QUIT W L window=I                            the quit message (I = -1: the thread's)
//   lifetime over
// Without arguments, the blank-separated words of the environment variable ULV_HELPER_ARGS are
// taken instead (a product restarted by its updater gets no arguments of the test's).
// A WM_CLOSE ends the program with exit code N (default 0), so does the end of the lifetime; a
// WM_QUIT ends it with the quit message's word parameter. Exit code 2: bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_logPath;
int g_exitCode = 0;
std::vector<HWND> g_windows;   // the WINDOW arguments' windows, in argument order

void Log(const std::string& line)
{
    // Opened for each line, so that the test sees every line as soon as it is written.
    const HANDLE file = CreateFileA(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Handle(HWND window)
{
    return std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
}

int IndexOf(HWND window)
{
    for (size_t i = 0; i < g_windows.size(); ++i)
        if (window && g_windows[i] == window)
            return static_cast<int>(i);
    return -1;
}

std::string Received(const std::string& name, HWND window, WPARAM wParam, LPARAM lParam)
{
    return name + " " + std::to_string(static_cast<unsigned long long>(wParam)) + " " +
           std::to_string(static_cast<long long>(lParam)) + " window=" + std::to_string(IndexOf(window));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        Log(Received("WM_CLOSE", window, wParam, lParam));
        PostQuitMessage(g_exitCode);
        return 0;
    }
    if (message >= WM_APP && message <= 0xBFFF) {
        Log(Received("WM_APP+" + std::to_string(message - WM_APP), window, wParam, lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct WindowSpec {
    bool visible = false;
    bool titled = false;
    long owned = 0;
};

bool ParseWindow(const std::string& text, WindowSpec& shape)
{
    if (text.size() < 2 || (text[0] != 'h' && text[0] != 'v') || (text[1] != 'u' && text[1] != 't'))
        return false;
    shape.visible = text[0] == 'v';
    shape.titled = text[1] == 't';
    if (text.size() == 2)
        return true;
    if (text[2] != '+')
        return false;
    char* end = nullptr;
    shape.owned = std::strtol(text.c_str() + 3, &end, 10);
    return *end == '\0' && shape.owned >= 0;
}

HWND MakeWindow(const std::string& className, const std::string& title, bool visible, HWND owner)
{
    const DWORD style = (owner ? WS_POPUP | WS_CAPTION : WS_OVERLAPPEDWINDOW) | (visible ? WS_VISIBLE : 0);
    return CreateWindowExA(0, className.c_str(), title.c_str(), style, 40, 40, 240, 120, owner, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    std::string className = "UlvHelperWindow";
    UINT lifetime = 0;
    std::string load;
    std::vector<WindowSpec> specs;
    // Started without arguments (as a product that its updater starts again), the arguments come
    // from the environment variable ULV_HELPER_ARGS, separated by blanks.
    std::vector<std::string> args(__argv + 1, __argv + __argc);
    const char* inherited = std::getenv("ULV_HELPER_ARGS");
    if (args.empty() && inherited != nullptr) {
        std::string word;
        for (const char* c = inherited;; ++c) {
            if (*c == ' ' || *c == '\0') {
                if (!word.empty())
                    args.push_back(word);
                word.clear();
                if (*c == '\0')
                    break;
            } else {
                word += *c;
            }
        }
    }
    for (const std::string& arg : args) {
        WindowSpec shape;
        if (arg.rfind("--log=", 0) == 0)
            g_logPath = arg.substr(6);
        else if (arg.rfind("--exit=", 0) == 0)
            g_exitCode = std::atoi(arg.c_str() + 7);
        else if (arg.rfind("--lifetime=", 0) == 0)
            lifetime = static_cast<UINT>(std::strtoul(arg.c_str() + 11, nullptr, 10));
        else if (arg.rfind("--class=", 0) == 0)
            className = arg.substr(8);
        else if (arg.rfind("--load=", 0) == 0)
            load = arg.substr(7);
        else if (ParseWindow(arg, shape))
            specs.push_back(shape);
        else
            return 2;
    }
    if (g_logPath.empty())
        return 2;

    if (!load.empty())
        Log((LoadLibraryA(load.c_str()) ? "loaded " : "not loaded ") + load);

    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className.c_str();
    if (!RegisterClassA(&wc))
        return 3;
    for (size_t i = 0; i < specs.size(); ++i) {
        const std::string title = specs[i].titled ? className + " window " + std::to_string(i) : "";
        const HWND window = MakeWindow(className, title, specs[i].visible, nullptr);
        if (!window)
            return 3;
        g_windows.push_back(window);
        Log("window " + std::to_string(i) + " " + Handle(window));
        for (long k = 0; k < specs[i].owned; ++k) {
            const HWND owned = MakeWindow(className, "", false, window);
            if (!owned)
                return 3;
            // Thousands of owned windows make a long log; only the first few are written.
            if (k < 8)
                Log("owned " + std::to_string(i) + " " + Handle(owned));
        }
    }
    if (lifetime > 0)
        SetTimer(nullptr, 0, lifetime, nullptr);
    Log("ready");

    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            Log(Received("WM_QUIT", msg.hwnd, msg.wParam, msg.lParam));
            return static_cast<int>(msg.wParam);
        }
        if (got < 0)
            return 4;
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
            Log("lifetime over");
            return g_exitCode;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
