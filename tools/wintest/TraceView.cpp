// ulvtraceview: a debug viewer for the stub's trace lines.
//   ulvtraceview [OUTFILE]
// Registers the window class ".UDebug.", receives the registered message ".U_DebugMsg." and reads
// each piece of trace text from the global atom it carries. Every piece is appended to OUTFILE
// (when given) and its length, one per line, to OUTFILE.pieces, so tests can check the text and
// how it was cut. Run without a file, it shows the text in its window for a person to read.
#include <windows.h>

#include <string>

#include "util/Handles.h"

namespace {

UINT g_traceMessage = 0;
HWND g_edit = nullptr;
std::string g_outFile;

void Append(const std::string& path, const std::string& text)
{
    UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Receive(ATOM atom)
{
    char text[256] = {};
    const UINT n = GlobalGetAtomNameA(atom, text, sizeof text);
    const std::string piece(text, n);
    if (!g_outFile.empty()) {
        Append(g_outFile, piece);
        Append(g_outFile + ".pieces", std::to_string(piece.size()) + "\n");
    }
    if (g_edit) {
        const int end = GetWindowTextLengthA(g_edit);
        SendMessageA(g_edit, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageA(g_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
    }
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_traceMessage && g_traceMessage != 0) {
        if (wParam == 1)
            Receive(static_cast<ATOM>(lParam));
        return 0;
    }
    switch (message) {
    case WM_SIZE:
        if (g_edit)
            MoveWindow(g_edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    std::string args = commandLine ? commandLine : "";
    while (!args.empty() && (args.front() == ' ' || args.front() == '"'))
        args.erase(0, 1);
    while (!args.empty() && (args.back() == ' ' || args.back() == '"'))
        args.pop_back();
    g_outFile = args;

    g_traceMessage = RegisterWindowMessageA(".U_DebugMsg.");
    WNDCLASSA wc{};
    wc.lpfnWndProc = ViewerProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = ".UDebug.";
    if (!RegisterClassA(&wc))
        return 1;
    const HWND window = CreateWindowExA(0, ".UDebug.", "Ulvane trace viewer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 800, 500, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    if (g_outFile.empty()) {
        g_edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 0,
                                 800, 500, window, nullptr, instance, nullptr);
        ShowWindow(window, show);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
