#include "autoupdate/StubInformDlg.h"

#include <richedit.h>

#include "autoupdate/DownloadFileAU.h"
#include "autoupdate/StubAUState.h"
#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlob.h"
#include "pack/PackToken.h"
#include "pack/StubRun.h"
#include "util/Files.h"
#include "util/Handles.h"
#include "util/PathText.h"
#include "util/SystemLibrary.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char DialogClass[] = "URichEditBox";
constexpr char RichEditLibrary[] = "RICHED32.DLL";
constexpr char RichEditClass[] = "RICHEDIT";

// Everything of one dialog; it lives in RunInformDialog's frame and its window finds it through
// the window data, so that a dialog opened while another shows keeps each one's own state.
struct InformDialog {
    std::string address;
    HWND window = nullptr;
    HWND text = nullptr;
    HWND button = nullptr;
    bool closed = false;
};

void OpenAddress(const std::string& address)
{
    // A failed open is not reported: the user sees that nothing opened.
    ShellRun(address, "", SW_SHOW);
}

void PlaceControls(const InformDialog& dialog)
{
    RECT client{};
    GetClientRect(dialog.window, &client);
    const InformLayout layout = InformLayoutOf(client.right, client.bottom, !dialog.address.empty());
    MoveWindow(dialog.text, layout.textLeft, layout.textTop, layout.textWidth, layout.textHeight, TRUE);
    if (dialog.button != nullptr)
        MoveWindow(dialog.button, layout.buttonLeft, layout.buttonTop, layout.buttonWidth, layout.buttonHeight,
                   TRUE);
}

void Paint(const InformDialog& dialog)
{
    PAINTSTRUCT ps{};
    const HDC dc = BeginPaint(dialog.window, &ps);
    RECT client{};
    GetClientRect(dialog.window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    if (!dialog.address.empty()) {
        const InformLayout layout = InformLayoutOf(client.right, client.bottom, true);
        const UniqueGdiObject pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DDKSHADOW)));
        const HGDIOBJ old = SelectObject(dc, pen.Get());
        MoveToEx(dc, 0, layout.lineY, nullptr);
        LineTo(dc, client.right, layout.lineY);
        SelectObject(dc, old);
        RECT band{0, layout.bandTop, client.right, client.bottom};
        FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
    }
    EndPaint(dialog.window, &ps);
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* created = static_cast<InformDialog*>(create->lpCreateParams);
        created->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* dialog = reinterpret_cast<InformDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (dialog != nullptr) {
        switch (message) {
        case WM_DESTROY:
            dialog->closed = true;
            return 1;
        case WM_SIZE:
            PlaceControls(*dialog);
            return 0;
        case WM_PAINT:
            Paint(*dialog);
            return 0;
        case WM_COMMAND:
            if (dialog->button != nullptr && reinterpret_cast<HWND>(lParam) == dialog->button) {
                OpenAddress(dialog->address);
                PostMessageA(window, WM_CLOSE, 0, 0);
            }
            break;
        default:
            break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HFONT CreateFace(int height, int charset, const std::string& face)
{
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                       static_cast<DWORD>(static_cast<BYTE>(charset)), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, FF_SWISS, face.c_str());
}

void RunInformDialog(HWND parent, const std::string& caption, const std::string& buttonCaption, int charset,
                     int fontSize, const std::string& fontName, bool rightToLeft, int height, int width,
                     const std::string& address, const std::string& body)
{
    InformDialog dialog;
    dialog.address = address;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    LoadSystemLibrary(RichEditLibrary);  // provides "RICHEDIT"; stays loaded with the process
    const UniqueGdiObject buttonFont(CreateFace(-PointsToPixels(fontSize), charset, fontName));
    const UniqueGdiObject textFont(CreateFace(15, charset, InformTextFace(fontName)));
    const ScopedWindowClass registration(instance, DialogClass, DialogProc);

    const WindowPlace place = CentredPlace(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    dialog.window = CreateWindowExA(WS_EX_DLGMODALFRAME, DialogClass, caption.c_str(),
                                    WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, place.left, place.top,
                                    width, height, parent, nullptr, instance, &dialog);
    if (dialog.window == nullptr)
        return;
    DWORD textStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN;
    DWORD textExStyle = 0;
    if (rightToLeft) {
        textStyle |= ES_RIGHT;
        textExStyle |= WS_EX_RTLREADING;
    }
    RECT client{};
    GetClientRect(dialog.window, &client);
    const InformLayout layout = InformLayoutOf(client.right, client.bottom, !address.empty());
    dialog.text = CreateWindowExA(textExStyle, RichEditClass, "", textStyle, layout.textLeft, layout.textTop,
                                  layout.textWidth, layout.textHeight, dialog.window, nullptr, instance, nullptr);
    if (dialog.text != nullptr) {
        SendMessageA(dialog.text, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
        SendMessageA(dialog.text, WM_SETFONT, reinterpret_cast<WPARAM>(textFont.Get()), TRUE);
        SendMessageA(dialog.text, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_WINDOW)));
        SendMessageA(dialog.text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(body.c_str()));
    }
    if (!address.empty()) {
        dialog.button = CreateWindowExA(0, "Button", buttonCaption.c_str(), WS_CHILD | WS_VISIBLE, layout.buttonLeft,
                                        layout.buttonTop, layout.buttonWidth, layout.buttonHeight, dialog.window,
                                        nullptr, instance, nullptr);
        if (dialog.button != nullptr) {
            SendMessageA(dialog.button, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.Get()), TRUE);
            SetWindowLongPtrA(dialog.button, GWLP_USERDATA, 1);
            SetFocus(dialog.button);
            SetActiveWindow(dialog.window);
            SendMessageA(dialog.button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        }
    }
    // This dialog's own loop: it ends when this window is destroyed, whatever other windows do.
    MSG msg{};
    while (!dialog.closed) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the agent's own loop must still see it
            DestroyWindow(dialog.window);
            break;
        }
        if (got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

bool ShowInform(HWND parent, const std::string& caption, const std::string& buttonCaption, int charset,
                int fontSize, const std::string& fontName, bool rightToLeft, int height, int width,
                const std::string& address, const std::string& body)
{
    const std::string trimmed = Trim(address);
    if (body.empty() && !trimmed.empty()) {
        OpenAddress(trimmed);
        return true;
    }
    if (body.empty())
        return false;
    RunInformDialog(parent, caption, buttonCaption, charset, fontSize, fontName, rightToLeft, height, width, trimmed,
                    body);
    return true;
}

bool PerformAutoInform()
{
    LogLine("PerformAutoInform() - START ");
    bool result = false;
    TraceLine(" ==== PerformAutoInform-1 ====");
    if (!DownloadURL_UPDATE().empty() && !NameOfInformFile().empty()) {
        TraceLine(" ==== PerformAutoInform-2 ====");
        SetAgentState(2);
        NotifyMonitor(41, 1);
        std::string error;
        const bool ok = DownloadFileAU(DownloadURL_UPDATE(), NameOfInformFile(), KindInformFile, error);
        NotifyMonitor(41, 2);
        if (ok) {
            TraceLine(" ==== PerformAutoInform-3 ====");
            const std::string page = ReadFilePart(ExeFolder(true) + FileNamePart(NameOfInformFile()), 0, 0);
            const std::string body = TokenFromText(page).rest;
            result = ShowInform(StubWindow(), AutoUpdateText("s34", "New Version"), AutoUpdateText("s35", "Download"),
                                MsgBoxCharSet(), MsgBoxFontSize(), MsgBoxFontName(), false, AutoInformH(),
                                AutoInformW(), DownloadURL_INFORM(), body);
            if (result)
                WriteVersionOriginal(VersionNew());
            TraceLine(" ==== PerformAutoInform-4 ====");
        }
    }
    LogLine("PerformAutoInform() - END " + BoolText(result));
    return result;
}
