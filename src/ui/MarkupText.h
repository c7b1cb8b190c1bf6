#pragma once
// The rules of the markup message box that need no window: turning a MarkupText into the plain
// text and bold stretches the rich-edit control shows, measuring that text, the box's layout
// arithmetic, the button sets, the keyboard choices and the text and flags that the entry points
// hand to the box. Portable: no <windows.h>; the Win32 edge (UMsgBox) feeds it pixel widths and
// system metrics and carries out what it computes.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// --- markup ------------------------------------------------------------------------------------

// A bold stretch of the plain text: characters [start, end), counted from 0, a line break
// ("\r\n") counting as two characters, as the rich-edit control of version 1 counts them.
struct BoldStretch {
    int start = 0;
    int end = 0;
    bool operator==(const BoldStretch&) const = default;
};

struct PlainMarkup {
    std::string text;                  // line breaks as "\r\n", tabs as "\t", no tags left
    std::vector<BoldStretch> bold;     // in the order the tags were found; never empty stretches
};

// "\\n", "<P>" become line breaks, "\\t", "<T>" tabs; a text beginning with "<<b>" loses its
// first character; each "<B>" opens a bold stretch that ends at the first "</B>" after it (a
// "<B>" without one bolds nothing); every "</B>" left over is removed. Tags ignore letter case.
PlainMarkup ConvertMarkup(const std::string& markup);

// --- measuring ---------------------------------------------------------------------------------

constexpr int MaxTextWidth = 600;       // wider lines wrap; the text control is never measured wider

// The pixel width of one line of text (no line breaks in it) in the box's font.
using TextWidthFunction = std::function<int(const std::string& line)>;

// The height of one line of the box's font: its height plus its external leading, one pixel more
// for "MS PGothic" (face compared trimmed, ignoring case), whose glyphs reach below that.
int MarkupLineHeight(int fontHeight, int externalLeading, const std::string& faceName);

// A line's width with its tabs advanced to the next multiple of `tabStop` pixels (as the text
// control lays them out); `widthOf` measures the pieces between tabs. A tab stop of 0 or less
// leaves tabs to `widthOf`.
int TabbedLineWidth(const std::string& line, const TextWidthFunction& widthOf, int tabStop);

struct TextExtent {
    int width = 0;
    int height = 0;
    bool operator==(const TextExtent&) const = default;
};

// Width and height of the plain text: each line (split at "\r\n") widens the text to its width
// plus 10 and adds (width / 600 + 1) line heights, wrapped lines counted; a final empty line
// after the last break counts nothing; an empty text is measured as one blank; at most 600 wide.
TextExtent MeasureMarkupText(const std::string& plainText, const TextWidthFunction& widthOf, int lineHeight);

// The height the text control asks for when the measured text fits its measured width: the
// measured height, and one line more for a text that ends with a line break, which the control
// keeps as an empty last line while measuring counts it nothing. Above it, bold glyphs made a
// line wrap.
int FittingRequestHeight(const std::string& plainText, const TextExtent& measured, int lineHeight);

// --- layout ------------------------------------------------------------------------------------

constexpr int IconBandWidth = 54;       // the coloured band with the icon on the left
constexpr int ButtonStripHeight = 36;   // the button strip below the separating lines
constexpr int ButtonWidth = 70;
constexpr int ButtonHeight = 23;
constexpr int MinBoxWidth = 360;

struct SystemFrame {
    int sizeFrameX = 0;   // the system's sizing-frame width and height
    int sizeFrameY = 0;
    int captionHeight = 0;
};

struct BoxSize {
    int marginX = 0;
    int marginY = 0;
    int width = 0;
    int height = 0;
};

// The box's outer size for a text control of window size w x h.
BoxSize MarkupBoxSize(int textWidth, int textHeight, const SystemFrame& frame);

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// The text control inside a client area of W x H: centred in the room right of the band and above
// the strip, keeping its width, reaching down to just above the button strip.
Rect TextControlPlace(int clientWidth, int clientHeight, int textWidth, int textHeight);

// Button `index` of `count`: edge to edge, the last one's left edge at W - 80, top at H - 29.
Rect ButtonPlace(int clientWidth, int clientHeight, int count, int index);

// --- buttons and keyboard ----------------------------------------------------------------------

// The default captions, items 0 to 6: OK, Cancel, Yes, No, Abort, Retry, Ignore.
inline constexpr const char* DefaultButtonTexts = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";
// The default titles of the entry points: item 0 "Error", item 1 "Attention", item 2 "Confirm".
inline constexpr const char* DefaultTitles = "|Error|Attention|Confirm|";

struct ButtonSpec {
    std::string caption;
    int code = 0;
    bool operator==(const ButtonSpec&) const = default;
};

// The buttons of the set in the low four bits of `flags`, first to last, their captions from
// the BtnText list (empty when the list lacks the item); no buttons for sets 6 to 15.
std::vector<ButtonSpec> MarkupButtons(uint32_t flags, const std::string& btnText);

// The default button: `index` taken modulo `count`, a negative index counting from the end;
// -1 without buttons.
int DefaultButtonIndex(int index, int count);
// The default-button index the flags hold (bits 8 to 11).
int DefaultButtonIndexOfFlags(uint32_t flags);

// Alt plus `typed`: compared from the last button to the first, a caption of two or more
// characters whose second character is `typed` or its upper-case form; the first button wins
// among several. -1 when none matches.
int AltCharChoice(const std::vector<std::string>& captions, char typed);

// The plain letter key `letter` (A to Z): compared from the first button to the last, the
// character after the caption's first "&" (its first character when it has none) equal to the
// letter ignoring case; the last of several matches wins. -1 when none matches.
int LetterChoice(const std::vector<std::string>& captions, char letter);

// --- the entry points' request -----------------------------------------------------------------

constexpr uint32_t FlagRightAligned = 0x80000;
constexpr uint32_t FlagRightToLeft = 0x100000;
constexpr uint32_t FlagNoClose = 0x10000000;

struct MarkupRequest {
    std::string text;
    uint32_t flags = 0;
    bool ownerIsMode = false;   // the mode is the owner window's handle (mode above 2)
};

// What ShowMarkupMessage hands to the box: character sets 177 and 178 add right alignment and
// right-to-left reading; mode 0 puts the title (upper-cased when it occurs in
// "|Error|Attention|Confirm|") above the text as a bold heading; mode 2 disables the close
// command; a mode above 2 is the owner window.
MarkupRequest PrepareMarkupRequest(int64_t mode, const std::string& text, const std::string& title, int charset,
                                   uint32_t flags);
