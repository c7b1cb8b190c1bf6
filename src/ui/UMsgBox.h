#pragma once
// The markup message box: one home-made modal box through which every message reaches the user.
// Its text is a MarkupText (line breaks, tabs and bold stretches, see ui/MarkupText.h), its font
// follows the selected language (right-to-left for Hebrew and Arabic), its captions come from a
// replaceable BtnText list and it can answer itself after a timeout. One box at a time runs on
// the user-interface thread; its loop keeps dispatching every message of that thread.
#include <windows.h>

#include <cstdint>
#include <string>

// The font of every later box: the face and the character set are always taken, the size in
// points only when it is not 0. Until the first call: "Tahoma", 8 points, character set 1.
void SetMsgBoxFont(const std::string& face, int size, int charset);

// Shows one box owned by `owner` and returns the code of the chosen button: OK 1, Cancel 2,
// Abort 3, Retry 4, Ignore 5, Yes 6, No 7; 0 when it was closed without a button. `flags`
// follow the system's message-box flags: button set (0x0F), icon (0xF0), default button
// (0xF00 >> 8), 0x80000 right-aligned, 0x100000 right-to-left, 0x10000000 no Close command.
// A timeout above 0 presses the first button after that many milliseconds. A quit message
// that arrives while the box is open is posted again once the box has closed.
int MsgBoxShow(HWND owner, const std::string& text, const std::string& title, const std::string& btnText,
               uint32_t flags, int timeoutMs);

// The entry points of the rest of the system. `mode`: 0 the title repeated as a bold heading
// above the text, 1 plain, 2 plain with the Close command disabled, above 2 the handle of the
// owner window (otherwise the active window owns the box). An empty title gives the operation's
// default ("Error", "Attention", "Confirm"), an empty `btnText` the default captions
// "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|". Character sets 177 and 178 lay the text out
// right-aligned and right to left. After the box a pause of 100 ms dispatches messages, so that
// the windows below repaint.
void ShowError(INT_PTR mode, const std::string& text, const std::string& title = "", const std::string& btnText = "",
               int charset = 1);
void ShowAttention(INT_PTR mode, const std::string& text, const std::string& title = "",
                   const std::string& btnText = "", int charset = 1, int timeoutMs = 0);
// True when Yes was chosen (also when a timeout pressed it).
bool AskYesNo(INT_PTR mode, const std::string& text, const std::string& title = "", const std::string& btnText = "",
              int charset = 1, int timeoutMs = 0);
// True when OK was chosen.
bool AskOkCancel(INT_PTR mode, const std::string& text, const std::string& title = "",
                 const std::string& btnText = "", int charset = 1);
// The common path of the four above; returns the result code.
int ShowMarkupMessage(INT_PTR mode, const std::string& text, const std::string& title, const std::string& btnText,
                      int charset, uint32_t flags, int timeoutMs);
