// ulvboxdrive: finds the markup message box (a top-level window of class "UMsgBox") of another
// process, describes it and plays its user.
//   ulvboxdrive info [TIMEOUT_MS]    wait for a box (default 30000 ms) and describe it
//   ulvboxdrive gone [TIMEOUT_MS]    succeed once no box is left
//   ulvboxdrive click INDEX          press button INDEX (0 = leftmost) with BM_CLICK
//   ulvboxdrive key VK               post a key-down of virtual key VK to the box's focused window
//   ulvboxdrive syschar CHAR         post Alt+CHAR (a system character) to the box's focused window
//   ulvboxdrive close                post the Close command (the caption's close button) to the box
//   ulvboxdrive quit CODE            post a quit message with exit code CODE to the box's thread
//   ulvboxdrive autoplay             send "QueryCancelAutoPlay" to the box and print "autoplay RESULT"
//   ulvboxdrive measure FACE SIZE CHARSET TEXT [WEIGHT]
//                                    "width W" and "lineheight H" of TEXT in that font (as the
//                                    box makes it; weight 400 unless given, 700 is bold)
// "info" prints one line each, the fields separated by single blanks, texts last and escaped
// (backslash, CR, LF and tab as \\, \r, \n, \t):
//   window L T R B        screen rectangle          client W H
//   clientorigin X Y      the client area's top left corner on the screen
//   metrics SIZEFRAME_X SIZEFRAME_Y CAPTION_HEIGHT
//   caption TEXT          owner CLASS ENABLED (or "owner none")
//   child INDEX CLASS L T W H STYLE EXSTYLE CODE DEFAULT FOCUSED TEXT   (client coordinates)
//   textstyle right|left RTL      the text control's alignment and right-to-left reading
//   plain TEXT            the text control's text       bold S-E ...   its bold character ranges
//                         ([S, E) counted from 0, a line break as two, never bold itself)
//   end
// Exit code 0 on success, 1 when no box was found (in time), 2 on bad arguments.
#include <windows.h>

#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/Handles.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

// The window class driven: the message box's, or the one named by ULV_BOX_CLASS (the inform
// dialog's "URichEditBox", for instance).
const char* BoxClassName()
{
    const char* named = std::getenv("ULV_BOX_CLASS");
    return named != nullptr && *named != '\0' ? named : "UMsgBox";
}

long long Number(const char* text)
{
    return std::strtoll(text, nullptr, 0);
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A box is found as soon as its window exists, still 10 by 10 at (-100, -100) and without its
// controls: it counts once it is at least as wide as every box and its children have stopped
// coming for a while.
HWND WaitForBox(DWORD timeoutMs, bool wantGone)
{
    const DWORD start = GetTickCount();
    HWND seen = nullptr;
    int children = -1, steady = 0;
    for (;;) {
        const HWND box = FindWindowA(BoxClassName(), nullptr);
        if (wantGone && box == nullptr)
            return GetDesktopWindow();
        if (!wantGone && box != nullptr) {
            RECT r{};
            GetWindowRect(box, &r);
            int count = 0;
            for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                ++count;
            const bool same = box == seen && count == children;
            steady = same && r.right - r.left >= 360 ? steady + 1 : 0;
            seen = box;
            children = count;
            if (steady >= 4)
                return box;
        }
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    const int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, static_cast<size_t>(std::max(n, 0)));
}

// The text of a window of another process: WM_GETTEXT is carried across processes.
std::string TextOf(HWND window)
{
    const auto length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, '\0');
    const auto n = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::clamp<LRESULT>(n, 0, static_cast<LRESULT>(text.size()))));
    return text;
}

std::vector<HWND> Children(HWND box)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// The buttons from left to right.
std::vector<HWND> Buttons(HWND box)
{
    std::vector<HWND> buttons;
    for (const HWND child : Children(box))
        if (SameText(ClassOf(child), "Button"))
            buttons.push_back(child);
    std::sort(buttons.begin(), buttons.end(), [](HWND a, HWND b) {
        RECT ra{}, rb{};
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return buttons;
}

HWND TextControl(HWND box)
{
    for (const HWND child : Children(box))
        if (!SameText(ClassOf(child), "Button"))
            return child;
    return nullptr;
}

HWND FocusOf(HWND box)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

RECT ClientRectOf(HWND child, HWND parent)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Which characters of the rich-edit control are bold: each is selected and its format asked for,
// through a buffer in the box's process (EM_GETCHARFORMAT's pointer is not carried across). Line
// breaks carry no glyph and count as not bold.
std::string BoldRanges(HWND text, const std::string& plain)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(text, &pid);
    const UniqueKernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!process)
        return "?";
    void* remote = VirtualAllocEx(process.Get(), nullptr, sizeof(CHARFORMATA), MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr)
        return "?";
    const ScopeExit release([&] { VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE); });
    const size_t length = plain.size();
    std::string ranges;
    long start = -1;
    for (size_t i = 0; i <= length; ++i) {
        bool bold = false;
        if (i < length && plain[i] != '\r' && plain[i] != '\n') {
            SendMessageA(text, EM_SETSEL, i, static_cast<LPARAM>(i + 1));
            CHARFORMATA format{};
            format.cbSize = sizeof format;
            WriteProcessMemory(process.Get(), remote, &format, sizeof format, nullptr);
            SendMessageA(text, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(remote));
            ReadProcessMemory(process.Get(), remote, &format, sizeof format, nullptr);
            bold = (format.dwMask & CFM_BOLD) && (format.dwEffects & CFE_BOLD);
        }
        if (bold && start < 0)
            start = static_cast<long>(i);
        if (!bold && start >= 0) {
            ranges += " " + std::to_string(start) + "-" + std::to_string(i);
            start = -1;
        }
    }
    SendMessageA(text, EM_SETSEL, 0, 0);
    return ranges;
}

int Info(HWND box)
{
    RECT w{}, c{};
    GetWindowRect(box, &w);
    GetClientRect(box, &c);
    std::printf("window %ld %ld %ld %ld\n", w.left, w.top, w.right, w.bottom);
    std::printf("client %ld %ld\n", c.right, c.bottom);
    POINT origin{0, 0};
    ClientToScreen(box, &origin);
    std::printf("clientorigin %ld %ld\n", origin.x, origin.y);
    std::printf("metrics %d %d %d\n", GetSystemMetrics(SM_CXSIZEFRAME), GetSystemMetrics(SM_CYSIZEFRAME),
                GetSystemMetrics(SM_CYCAPTION));
    std::printf("caption %s\n", Escaped(TextOf(box)).c_str());
    if (const HWND owner = GetWindow(box, GW_OWNER))
        std::printf("owner %s %d\n", ClassOf(owner).c_str(), IsWindowEnabled(owner) ? 1 : 0);
    else
        std::printf("owner none\n");
    const HWND focus = FocusOf(box);
    const std::vector<HWND> children = Children(box);
    for (size_t i = 0; i < children.size(); ++i) {
        const HWND child = children[i];
        const RECT r = ClientRectOf(child, box);
        const auto style = static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE));
        const auto exStyle = static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE));
        const bool isButton = SameText(ClassOf(child), "Button");
        std::printf("child %zu %s %ld %ld %ld %ld 0x%lx 0x%lx %lld %d %d %s\n", i, ClassOf(child).c_str(), r.left,
                    r.top, r.right - r.left, r.bottom - r.top, style, exStyle,
                    isButton ? static_cast<long long>(GetWindowLongPtrA(child, GWLP_USERDATA)) : 0LL,
                    isButton && (style & 0x0F) == BS_DEFPUSHBUTTON ? 1 : 0, child == focus ? 1 : 0,
                    Escaped(TextOf(child)).c_str());
    }
    if (const HWND text = TextControl(box)) {
        const auto style = static_cast<unsigned long>(GetWindowLongA(text, GWL_STYLE));
        const auto exStyle = static_cast<unsigned long>(GetWindowLongA(text, GWL_EXSTYLE));
        std::printf("textstyle %s %d\n", (style & ES_RIGHT) ? "right" : "left", (exStyle & WS_EX_RTLREADING) ? 1 : 0);
        const std::string plain = TextOf(text);
        std::printf("plain %s\n", Escaped(plain).c_str());
        std::printf("bold%s\n", BoldRanges(text, plain).c_str());
    }
    std::printf("end\n");
    return 0;
}

int Measure(const char* face, int size, int charset, const std::string& text, int weight)
{
    const UniqueGdiObject font(CreateFontA(-PointsToPixels(size), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                           static_cast<DWORD>(static_cast<BYTE>(charset)), OUT_DEFAULT_PRECIS,
                                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face));
    const HDC dc = GetDC(nullptr);
    const ScopeExit release([&] { ReleaseDC(nullptr, dc); });
    const HGDIOBJ previous = SelectObject(dc, font.Get());
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, previous);
    std::printf("width %ld\nlineheight %ld\n", extent.cx, tm.tmHeight + tm.tmExternalLeading);
    return 0;
}

// Keys go where the user's keys would: to the focused window of the box's thread, through its
// queue, so that the box's own loop sees them first.
int PostKey(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND focus = FocusOf(box);
    return PostMessageA(focus ? focus : box, message, wParam, lParam) ? 0 : 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: ulvboxdrive info|gone [TIMEOUT_MS] | click INDEX | key VK | syschar CHAR | close | "
                         "quit CODE | autoplay | measure FACE SIZE CHARSET TEXT [WEIGHT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const std::string verb = argv[1];
    if (verb == "measure")
        return argc == 6 || argc == 7
                   ? Measure(argv[2], static_cast<int>(Number(argv[3])), static_cast<int>(Number(argv[4])), argv[5],
                             argc == 7 ? static_cast<int>(Number(argv[6])) : FW_NORMAL)
                   : Usage();
    if (verb == "info" || verb == "gone") {
        const DWORD timeout = argc > 2 ? static_cast<DWORD>(Number(argv[2])) : 30000;
        const HWND box = WaitForBox(timeout, verb == "gone");
        if (!box)
            return 1;
        return verb == "info" ? Info(box) : 0;
    }
    const HWND box = FindWindowA(BoxClassName(), nullptr);
    if (!box)
        return 1;
    if (verb == "click" && argc == 3) {
        const std::vector<HWND> buttons = Buttons(box);
        const auto index = static_cast<size_t>(Number(argv[2]));
        if (index >= buttons.size())
            return 1;
        return PostMessageA(buttons[index], BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (verb == "key" && argc == 3) {
        const auto vk = static_cast<UINT>(Number(argv[2]));
        const auto scan = static_cast<LPARAM>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
        return PostKey(box, WM_KEYDOWN, vk, 1 | (scan << 16));
    }
    if (verb == "syschar" && argc == 3 && argv[2][0] != '\0')
        return PostKey(box, WM_SYSCHAR, static_cast<unsigned char>(argv[2][0]), 0x20000001);
    if (verb == "close")
        return PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    if (verb == "quit" && argc == 3)
        return PostThreadMessageA(GetWindowThreadProcessId(box, nullptr), WM_QUIT,
                                  static_cast<WPARAM>(Number(argv[2])), 0)
                   ? 0
                   : 1;
    if (verb == "autoplay") {
        const UINT message = RegisterWindowMessageA("QueryCancelAutoPlay");
        std::printf("autoplay %lld\n", static_cast<long long>(SendMessageA(box, message, 0, 0)));
        return 0;
    }
    return Usage();
}
