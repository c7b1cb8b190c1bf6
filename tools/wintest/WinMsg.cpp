// ulvwinmsg: a test helper that finds windows by class and talks to them, as a controlling
// program or a monitor would.
//   ulvwinmsg find CLASS [TIMEOUT_MS]           print the window handle once a window exists
//   ulvwinmsg gone CLASS [TIMEOUT_MS]           succeed once no such window exists
//   ulvwinmsg post CLASS MSG [WPARAM [LPARAM]]  post a message
//   ulvwinmsg send CLASS MSG [WPARAM [LPARAM]]  send a message and print its result
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
