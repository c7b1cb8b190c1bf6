#include "ui/UMsgBox.h"

#include <richedit.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "ui/MarkupText.h"
#include "util/Handles.h"
#include "util/SystemLibrary.h"
#include "util/USUB.h"
#include "util/UtilsWin.h"

namespace {

constexpr char BoxClassName[] = "UMsgBox";
constexpr char RichEditLibrary[] = "RICHED32.DLL";
constexpr char RichEditClass[] = "RICHEDIT";      // version 1 of the control, counting a line break as two
constexpr UINT_PTR TimeoutTimer = 1;
constexpr int TextControlId = 100;
constexpr int FirstButtonId = 200;
constexpr COLORREF BandColour = RGB(0, 78, 152);

// --- module state: the font of the next box --------------------------------------------------

struct FontSettings {
    std::string face = "Tahoma";
    int size = 8;
    int charset = DEFAULT_CHARSET;
};

FontSettings& BoxFont()
{
    static FontSettings font;
    return font;
}

// --- one box on screen ---------------------------------------------------------------------------

// Everything of the box being shown. It lives in MsgBoxShow's frame; the window finds it through
// its window data. A box opened from a handler while another one shows gets a Box of its own.
struct Box {
    HWND window = nullptr;
    HWND text = nullptr;
    HFONT font = nullptr;
    HICON icon = nullptr;
    std::vector<HWND> buttons;          // first to last, left to right
    std::vector<std::string> captions;
    HWND savedActive = nullptr;         // disabled while the box shows
    int result = 0;
    int timeoutMs = 0;
    SIZE requested{};                   // the text control's last request for its content
    bool closeDisabled = false;
    bool closing = false;               // a choice is made: later ones (a late timer tick) are ignored
    bool done = false;                  // the window is destroyed: the box's loop ends
};

Box* BoxOf(HWND window)
{
    return reinterpret_cast<Box*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

HFONT CreateBoxFont()
{
    const FontSettings& f = BoxFont();
    return CreateFontA(-PointsToPixels(f.size), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       static_cast<DWORD>(static_cast<BYTE>(f.charset)), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, f.face.c_str());
}

HICON BoxIcon(uint32_t flags)
{
    switch (flags & 0xF0) {
    case 0x10:
        return LoadIconA(nullptr, IDI_HAND);
    case 0x20:
        return LoadIconA(nullptr, IDI_QUESTION);
    case 0x30:
        return LoadIconA(nullptr, IDI_EXCLAMATION);
    case 0x40:
        return LoadIconA(nullptr, IDI_ASTERISK);
    default:
        return LoadIconA(GetModuleHandleA(nullptr), "MainIcon");
    }
}

SIZE WindowSize(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

void ResizeWindow(HWND window, int width, int height)
{
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- choosing and closing --------------------------------------------------------------------------

void Choose(Box& box, int code)
{
    if (std::exchange(box.closing, true))
        return;
    box.result = code;
    PostMessageA(box.window, WM_CLOSE, 0, 0);
}

int ButtonCode(HWND button)
{
    return static_cast<int>(GetWindowLongPtrA(button, GWLP_USERDATA));
}

void ChooseButton(Box& box, HWND button)
{
    if (std::find(box.buttons.begin(), box.buttons.end(), button) != box.buttons.end())
        Choose(box, ButtonCode(button));
}

void TimeoutElapsed(Box& box)
{
    KillTimer(box.window, TimeoutTimer);
    Choose(box, box.buttons.empty() ? 0 : ButtonCode(box.buttons.front()));
}

// The window that was active before the box gets its input back; activated only on a regular
// close, not when the box goes down with its owner.
void RestoreActiveWindow(Box& box, bool activate)
{
    const HWND saved = std::exchange(box.savedActive, nullptr);
    if (saved == nullptr || !IsWindow(saved))
        return;
    EnableWindow(saved, TRUE);
    if (activate) {
        SetActiveWindow(saved);
        SetFocus(saved);
    }
}

void CloseBox(Box& box)
{
    RestoreActiveWindow(box, true);
    if (box.timeoutMs > 0)
        KillTimer(box.window, TimeoutTimer);
    DestroyWindow(box.window);
}

void NoteResizeRequest(Box& box, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->code != EN_REQUESTRESIZE)
        return;
    const auto* request = reinterpret_cast<const REQRESIZE*>(lParam);
    box.requested = {request->rc.right - request->rc.left, request->rc.bottom - request->rc.top};
}

// --- painting ----------------------------------------------------------------------------------------

void FillArea(HDC dc, int left, int top, int right, int bottom, HBRUSH brush)
{
    const RECT r{left, top, right, bottom};
    FillRect(dc, &r, brush);
}

void PaintBox(const Box& box)
{
    PAINTSTRUCT ps{};
    const HDC dc = BeginPaint(box.window, &ps);
    const ScopeExit end([&] { EndPaint(box.window, &ps); });
    RECT client{};
    GetClientRect(box.window, &client);
    const int w = client.right;
    const int h = client.bottom;
    FillArea(dc, 0, 0, w, h, GetSysColorBrush(COLOR_WINDOW));
    FillArea(dc, 0, h - 37, w, h - 36, GetSysColorBrush(COLOR_3DSHADOW));
    FillArea(dc, 0, h - 36, w, h - 35, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FillArea(dc, 0, h - 35, w, h, GetSysColorBrush(COLOR_BTNFACE));
    const UniqueGdiObject band(CreateSolidBrush(BandColour));
    FillArea(dc, 0, 0, IconBandWidth, h - 37, static_cast<HBRUSH>(band.Get()));
    if (box.icon)
        DrawIcon(dc, 11, 20, box.icon);
}

// --- the window procedure --------------------------------------------------------------------------

LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* box = static_cast<Box*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        box->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(box));
    }
    Box* box = BoxOf(window);
    if (box == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    // A disk asked for by the box must not start the shell's AutoPlay when it is inserted.
    if (message != 0 && message == AutoPlayCancelMessage())
        return 1;
    switch (message) {
    case WM_CREATE:
        if (box->timeoutMs > 0)
            SetTimer(window, TimeoutTimer, static_cast<UINT>(box->timeoutMs), nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;   // WM_PAINT covers every pixel
    case WM_PAINT:
        PaintBox(*box);
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            ChooseButton(*box, reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_NOTIFY:
        NoteResizeRequest(*box, lParam);
        return 0;
    case WM_TIMER:
        if (wParam == TimeoutTimer)
            TimeoutElapsed(*box);
        return 0;
    case WM_SYSCOMMAND:
        // Greying the menu entry alone would leave Alt+F4 and a posted command working.
        if ((wParam & 0xFFF0) == SC_CLOSE && box->closeDisabled)
            return 0;
        break;
    case WM_CLOSE:
        CloseBox(*box);
        return 0;
    case WM_DESTROY:
        RestoreActiveWindow(*box, false);
        box->done = true;
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// --- keyboard --------------------------------------------------------------------------------------

int FocusedButton(const Box& box)
{
    const auto it = std::find(box.buttons.begin(), box.buttons.end(), GetFocus());
    return it == box.buttons.end() ? -1 : static_cast<int>(it - box.buttons.begin());
}

void MoveFocus(const Box& box, int step)
{
    const int count = static_cast<int>(box.buttons.size());
    if (count == 0)
        return;
    const int at = FocusedButton(box);
    const int next = at < 0 ? (step > 0 ? 0 : count - 1) : DefaultButtonIndex(at + step, count);
    SetFocus(box.buttons[static_cast<size_t>(next)]);
}

bool BelongsToBox(const Box& box, HWND window)
{
    return window != nullptr && (window == box.window || IsChild(box.window, window));
}

// The box's keys, seen before translation and dispatch; true when the message was used up.
// Keys typed into other windows of the thread are left to them.
bool FilterKeyboard(Box& box, const MSG& msg)
{
    if (box.done || !BelongsToBox(box, msg.hwnd))
        return false;
    int chosen = -1;
    if (msg.message == WM_SYSCHAR) {
        chosen = AltCharChoice(box.captions, static_cast<char>(msg.wParam));
    } else if (msg.message == WM_KEYDOWN) {
        switch (msg.wParam) {
        case VK_LEFT:
        case VK_UP:
            MoveFocus(box, -1);
            return true;
        case VK_TAB:   // Shift+Tab as well: forward, as the box always did
        case VK_RIGHT:
        case VK_DOWN:
            MoveFocus(box, 1);
            return true;
        case VK_RETURN:
            chosen = FocusedButton(box);
            break;
        default:
            if (msg.wParam >= 'A' && msg.wParam <= 'Z')
                chosen = LetterChoice(box.captions, static_cast<char>(msg.wParam));
            break;
        }
    }
    if (chosen < 0)
        return false;
    Choose(box, ButtonCode(box.buttons[static_cast<size_t>(chosen)]));
    return true;
}

// --- building the box ------------------------------------------------------------------------------

struct Measured {
    TextExtent extent;
    int lineHeight = 0;
};

Measured MeasureText(HWND control, HFONT font, const std::string& text)
{
    const HDC dc = GetDC(control);
    const ScopeExit release([&] { ReleaseDC(control, dc); });
    const HGDIOBJ previous = SelectObject(dc, font);
    const ScopeExit restore([&] { SelectObject(dc, previous); });
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    const int lineHeight = MarkupLineHeight(tm.tmHeight, tm.tmExternalLeading, BoxFont().face);
    const auto pieceWidth = [dc](const std::string& piece) {
        SIZE size{};
        GetTextExtentPoint32A(dc, piece.data(), static_cast<int>(piece.size()), &size);
        return static_cast<int>(size.cx);
    };
    // The control's default tab stops stand half an inch apart.
    const int tabStop = PointsToPixels(36);
    const auto lineWidth = [&](const std::string& line) { return TabbedLineWidth(line, pieceWidth, tabStop); };
    return {MeasureMarkupText(text, lineWidth, lineHeight), lineHeight};
}

void SetBold(HWND control, const BoldStretch& stretch)
{
    CHARRANGE range{stretch.start, stretch.end};
    SendMessageA(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMATA format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT;
    format.dwEffects = CFE_BOLD;
    SendMessageA(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

// Bold glyphs are wider than the measured normal ones: widen the control step by step until the
// text fits into the measured height again, or give it the widest width it asked for.
void WidenForBold(Box& box, const TextExtent& measured, int fittingHeight)
{
    int candidate = measured.width;
    for (int i = 0; i <= 20; ++i) {
        ResizeWindow(box.text, measured.width + 10 * i, measured.height);
        SendMessageA(box.text, EM_REQUESTRESIZE, 0, 0);
        if (box.requested.cy <= fittingHeight)
            return;
        candidate = std::max(candidate, static_cast<int>(box.requested.cx));
    }
    ResizeWindow(box.text, candidate + 10, measured.height);
}

void CreateTextControl(Box& box, uint32_t flags, const std::string& markup, HINSTANCE instance)
{
    const DWORD style =
        WS_CHILD | WS_VISIBLE | ES_READONLY | ES_MULTILINE | ((flags & FlagRightAligned) ? ES_RIGHT : 0);
    const DWORD exStyle = (flags & FlagRightToLeft) ? WS_EX_RTLREADING : 0;
    const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(TextControlId));
    box.text = CreateWindowExA(exStyle, RichEditClass, "", style, 0, 0, 10, 10, box.window, id, instance, nullptr);
    // Without the rich-edit library the message must still be readable: a plain edit control
    // shows the text without its bold stretches.
    if (box.text == nullptr)
        box.text = CreateWindowExA(exStyle, "EDIT", "", style, 0, 0, 10, 10, box.window, id, instance, nullptr);
    SendMessageA(box.text, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
    SendMessageA(box.text, WM_SETFONT, reinterpret_cast<WPARAM>(box.font), FALSE);
    SendMessageA(box.text, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_WINDOW)));

    const PlainMarkup plain = ConvertMarkup(markup);
    SetWindowTextA(box.text, plain.text.c_str());
    for (const BoldStretch& stretch : plain.bold)
        SetBold(box.text, stretch);
    CHARRANGE start{0, 0};
    SendMessageA(box.text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));

    const Measured measured = MeasureText(box.text, box.font, plain.text);
    ResizeWindow(box.text, measured.extent.width + 10, measured.extent.height);
    if (!plain.bold.empty())
        WidenForBold(box, measured.extent, FittingRequestHeight(plain.text, measured.extent, measured.lineHeight));
}

void PlaceBox(const Box& box, const std::string& markup)
{
    const SIZE text = WindowSize(box.text);
    const SystemFrame frame{GetSystemMetrics(SM_CXSIZEFRAME), GetSystemMetrics(SM_CYSIZEFRAME),
                            GetSystemMetrics(SM_CYCAPTION)};
    const BoxSize size = MarkupBoxSize(text.cx, text.cy, frame);
    int left = 0;
    int top = 0;
    CentreInWorkArea(size.width, size.height, left, top);
    // The developer's entry dialog sits in the middle of the screen; this question must not hide it.
    if (DeveloperMode() && markup.find("Do you want to store the new Entry in") != std::string::npos) {
        left += 150;
        top += 150;
    }
    SetWindowPos(box.window, nullptr, left, top, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(box.window, &client);
    const Rect place = TextControlPlace(client.right, client.bottom, text.cx, text.cy);
    SetWindowPos(box.text, nullptr, place.left, place.top, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CreateButtons(Box& box, uint32_t flags, const std::string& btnText, HINSTANCE instance)
{
    const std::vector<ButtonSpec> specs = MarkupButtons(flags, btnText);
    const int count = static_cast<int>(specs.size());
    const int defaultIndex = DefaultButtonIndex(DefaultButtonIndexOfFlags(flags), count);
    RECT client{};
    GetClientRect(box.window, &client);
    for (int i = 0; i < count; ++i) {
        const ButtonSpec& wanted = specs[static_cast<size_t>(i)];
        const Rect r = ButtonPlace(client.right, client.bottom, count, i);
        const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == defaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        const HWND button =
            CreateWindowExA(0, "BUTTON", wanted.caption.c_str(), style, r.left, r.top, r.width, r.height, box.window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstButtonId + i)), instance, nullptr);
        if (button == nullptr)
            continue;
        SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(box.font), FALSE);
        SetWindowLongPtrA(button, GWLP_USERDATA, static_cast<LONG_PTR>(wanted.code));
        box.buttons.push_back(button);
        box.captions.push_back(wanted.caption);
    }
    if (defaultIndex >= 0 && defaultIndex < static_cast<int>(box.buttons.size()))
        SetFocus(box.buttons[static_cast<size_t>(defaultIndex)]);
}

// Takes every message of the thread until the box is gone. A quit message is kept and posted
// again afterwards: it belongs to the loop that owns the thread, which must still end.
void RunBoxLoop(Box& box)
{
    bool quit = false;
    WPARAM exitCode = 0;
    MSG msg{};
    while (!box.done) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            quit = true;
            exitCode = msg.wParam;
            continue;
        }
        if (FilterKeyboard(box, msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (quit)
        PostQuitMessage(static_cast<int>(exitCode));
}

std::string DefaultTitle(const std::string& title, int item)
{
    return title.empty() ? SUB::Item(DefaultTitles, item, "") : title;
}

}  // namespace

void SetMsgBoxFont(const std::string& face, int size, int charset)
{
    FontSettings& font = BoxFont();
    font.face = face;
    if (size != 0)
        font.size = size;
    font.charset = charset;
}

int MsgBoxShow(HWND owner, const std::string& text, const std::string& title, const std::string& btnText,
               uint32_t flags, int timeoutMs)
{
    // The first box loads the library for the rest of the run; each box holds a reference of its own.
    static const HMODULE keptForTheRun = LoadSystemLibrary(RichEditLibrary);
    static_cast<void>(keptForTheRun);
    const UniqueModule richEdit(LoadSystemLibrary(RichEditLibrary));
    const HINSTANCE instance = GetModuleHandleA(nullptr);

    Box box;
    box.savedActive = GetActiveWindow();
    if (box.savedActive)
        EnableWindow(box.savedActive, FALSE);
    box.result = 0;
    box.timeoutMs = timeoutMs;
    const UniqueGdiObject font(CreateBoxFont());
    box.font = static_cast<HFONT>(font.Get());
    box.icon = BoxIcon(flags);
    const ScopedWindowClass boxClass(instance, BoxClassName, BoxProc);

    CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, BoxClassName, title.c_str(), WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                    -100, -100, 10, 10, owner, nullptr, instance, &box);
    // Whatever ends the loop, the window goes before its class and its font.
    const ScopeExit destroy([&] {
        if (box.window && !box.done)
            DestroyWindow(box.window);
    });
    if (box.window == nullptr || box.done) {
        RestoreActiveWindow(box, true);
        return box.result;
    }
    if (flags & FlagNoClose) {
        box.closeDisabled = true;
        EnableMenuItem(GetSystemMenu(box.window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
        flags &= ~FlagNoClose;
    }
    CreateTextControl(box, flags, text, instance);
    PlaceBox(box, text);
    ShowWindow(box.window, SW_SHOW);
    CreateButtons(box, flags, btnText, instance);
    UpdateWindow(box.window);
    RunBoxLoop(box);
    return box.result;
}

int ShowMarkupMessage(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText,
                      int charset, uint32_t flags, int timeoutMs)
{
    const MarkupRequest request = PrepareMarkupRequest(mode, text, title, charset, flags);
    HWND owner = request.ownerIsMode ? reinterpret_cast<HWND>(mode) : GetActiveWindow();
    // A stale handle would keep the box from being created at all; the active window stands in.
    if (request.ownerIsMode && !IsWindow(owner))
        owner = GetActiveWindow();
    const int result =
        MsgBoxShow(owner, request.text, title, btnText.empty() ? DefaultButtonTexts : btnText, request.flags, timeoutMs);
    WaitPumping(0, 100);
    return result;
}

void ShowError(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText, int charset)
{
    ShowMarkupMessage(mode, text, DefaultTitle(title, 0), btnText, charset, 0x10, 0);
}

void ShowAttention(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText,
                   int charset, int timeoutMs)
{
    ShowMarkupMessage(mode, text, DefaultTitle(title, 1), btnText, charset, 0x30, timeoutMs);
}

bool AskYesNo(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText,
              int charset, int timeoutMs)
{
    return ShowMarkupMessage(mode, text, DefaultTitle(title, 2), btnText, charset, 0x24, timeoutMs) == IDYES;
}

bool AskOkCancel(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText,
                 int charset)
{
    return ShowMarkupMessage(mode, text, DefaultTitle(title, 2), btnText, charset, 0x21, 0) == IDOK;
}
