#include "ui/MarkupText.h"

#include <algorithm>

#include "util/USUB.h"
#include "util/Utils.h"

// --- markup ------------------------------------------------------------------------------------

namespace {

// The text being converted, its upper-cased twin (where the tags are looked for) and the
// stretches found so far. Every removal moves the stretches behind it, so that they always count
// in the text as it is now, and so in the final plain text too.
class MarkupParser {
public:
    explicit MarkupParser(std::string text) : text_(std::move(text)), upper_(UpperCase(text_)) {}

    size_t Find(const char* tag, size_t from) const { return upper_.find(tag, from); }

    void Remove(size_t pos, size_t length)
    {
        text_.erase(pos, length);
        upper_.erase(pos, length);
        for (BoldStretch& s : bold_) {
            s.start = Shifted(s.start, pos, length);
            s.end = Shifted(s.end, pos, length);
        }
    }

    void AddStretch(size_t start, size_t end)
    {
        if (end > start)
            bold_.push_back({static_cast<int>(start), static_cast<int>(end)});
    }

    PlainMarkup Result()
    {
        std::erase_if(bold_, [](const BoldStretch& s) { return s.end <= s.start; });
        return {std::move(text_), std::move(bold_)};
    }

private:
    static int Shifted(int at, size_t pos, size_t length)
    {
        const auto p = static_cast<int>(pos);
        const auto n = static_cast<int>(length);
        if (at <= p)
            return at;
        return at >= p + n ? at - n : p;
    }

    std::string text_;
    std::string upper_;
    std::vector<BoldStretch> bold_;
};

}  // namespace

PlainMarkup ConvertMarkup(const std::string& markup)
{
    std::string text = ExpandEscapes(markup);
    // The mode-0 heading is written "<<b>": the first "<" goes, so that the text starts bold.
    if (StartsWith("<<B>", text, true))
        text.erase(0, 1);
    MarkupParser parser(std::move(text));
    for (size_t open = parser.Find("<B>", 0); open != std::string::npos; open = parser.Find("<B>", 0)) {
        parser.Remove(open, 3);
        const size_t close = parser.Find("</B>", open);
        if (close != std::string::npos) {
            parser.Remove(close, 4);
            parser.AddStretch(open, close);
        }
    }
    // Removing a closing tag can join its neighbours into another one ("<</B>/B>"): repeat until
    // none is left, so that no tag ever reaches the screen.
    for (size_t close = parser.Find("</B>", 0); close != std::string::npos; close = parser.Find("</B>", 0))
        parser.Remove(close, 4);
    return parser.Result();
}

// --- measuring ---------------------------------------------------------------------------------

int MarkupLineHeight(int fontHeight, int externalLeading, const std::string& faceName)
{
    return fontHeight + externalLeading + (SameTrimmedText(faceName, "MS PGothic") ? 1 : 0);
}

int TabbedLineWidth(const std::string& line, const TextWidthFunction& widthOf, int tabStop)
{
    if (tabStop <= 0 || line.find('\t') == std::string::npos)
        return widthOf(line);
    int x = 0;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        const std::string piece = line.substr(from, tab == std::string::npos ? std::string::npos : tab - from);
        if (!piece.empty())
            x += widthOf(piece);
        if (tab == std::string::npos)
            return x;
        x = (x / tabStop + 1) * tabStop;
        from = tab + 1;
    }
}

TextExtent MeasureMarkupText(const std::string& plainText, const TextWidthFunction& widthOf, int lineHeight)
{
    const std::string text = plainText.empty() ? std::string(" ") : plainText;
    TextExtent extent;
    size_t from = 0;
    for (;;) {
        const size_t brk = text.find("\r\n", from);
        const bool last = brk == std::string::npos;
        const std::string piece = text.substr(from, last ? std::string::npos : brk - from);
        // An empty piece stands for an empty line only when more text follows it; after the
        // last line break it is no line at all.
        if (!piece.empty() || !last) {
            const int w = std::max(widthOf(piece), 0);
            extent.width = std::max(extent.width, w + 10);
            extent.height += (w / MaxTextWidth + 1) * lineHeight;
        }
        if (last)
            break;
        from = brk + 2;
    }
    extent.width = std::min(extent.width, MaxTextWidth);
    return extent;
}

int FittingRequestHeight(const std::string& plainText, const TextExtent& measured, int lineHeight)
{
    return measured.height + (EndsWith("\r\n", plainText, false) ? lineHeight : 0);
}

// --- layout ------------------------------------------------------------------------------------

BoxSize MarkupBoxSize(int textWidth, int textHeight, const SystemFrame& frame)
{
    BoxSize box;
    box.marginX = textWidth < 200 ? 64 : 32;
    box.marginY = textHeight < 39 ? 45 : 32;
    box.width = std::max(textWidth + IconBandWidth + 2 * box.marginX + 2 * frame.sizeFrameX, MinBoxWidth);
    box.height = textHeight + ButtonStripHeight + 2 * box.marginY + 2 * frame.sizeFrameY + frame.captionHeight;
    return box;
}

Rect TextControlPlace(int clientWidth, int clientHeight, int textWidth, int textHeight)
{
    Rect r;
    r.left = (clientWidth - IconBandWidth - textWidth) / 2 + IconBandWidth;
    r.top = (clientHeight - ButtonStripHeight - textHeight) / 2;
    r.width = textWidth;
    r.height = clientHeight - r.top - 39;
    return r;
}

Rect ButtonPlace(int clientWidth, int clientHeight, int count, int index)
{
    return {clientWidth - 80 - ButtonWidth * (count - 1 - index), clientHeight - 29, ButtonWidth, ButtonHeight};
}

// --- buttons and keyboard ----------------------------------------------------------------------

std::vector<ButtonSpec> MarkupButtons(uint32_t flags, const std::string& btnText)
{
    struct Entry {
        int item;
        int code;
    };
    static const std::vector<Entry> sets[] = {
        {{0, 1}},                           // OK
        {{0, 1}, {1, 2}},                   // OK, Cancel
        {{4, 3}, {5, 4}, {6, 5}},           // Abort, Retry, Ignore
        {{2, 6}, {3, 7}, {1, 2}},           // Yes, No, Cancel
        {{2, 6}, {3, 7}},                   // Yes, No
        {{5, 4}, {1, 2}},                   // Retry, Cancel
    };
    const uint32_t set = flags & 0x0F;
    std::vector<ButtonSpec> buttons;
    if (set < std::size(sets))
        for (const Entry& e : sets[set])
            buttons.push_back({SUB::Item(btnText, e.item, ""), e.code});
    return buttons;
}

int DefaultButtonIndex(int index, int count)
{
    if (count <= 0)
        return -1;
    const int r = index % count;
    return r < 0 ? r + count : r;
}

int DefaultButtonIndexOfFlags(uint32_t flags)
{
    return static_cast<int>((flags & 0xF00) >> 8);
}

int AltCharChoice(const std::vector<std::string>& captions, char typed)
{
    const char upper = UpperCase(std::string(1, typed))[0];
    int chosen = -1;
    for (int i = static_cast<int>(captions.size()) - 1; i >= 0; --i) {
        const std::string& c = captions[static_cast<size_t>(i)];
        if (c.size() >= 2 && (c[1] == typed || c[1] == upper))
            chosen = i;
    }
    return chosen;
}

int LetterChoice(const std::vector<std::string>& captions, char letter)
{
    int chosen = -1;
    for (size_t i = 0; i < captions.size(); ++i) {
        const std::string& c = captions[i];
        const size_t amp = c.find('&');
        const size_t at = amp == std::string::npos ? 0 : amp + 1;
        if (at < c.size() && SameText(c.substr(at, 1), std::string(1, letter)))
            chosen = static_cast<int>(i);
    }
    return chosen;
}

// --- the entry points' request -----------------------------------------------------------------

MarkupRequest PrepareMarkupRequest(int64_t mode, const std::string& text, const std::string& title, int charset,
                                   uint32_t flags)
{
    MarkupRequest request{text, flags, mode > 2};
    if (charset == 177 || charset == 178)
        request.flags |= FlagRightAligned | FlagRightToLeft;
    if (mode == 0) {
        const std::string heading =
            std::string(DefaultTitles).find(title) != std::string::npos ? UpperCase(title) : title;
        request.text = "<<b>" + heading + "</b><P><P>" + text + "<P>";
    }
    if (mode == 2)
        request.flags |= FlagNoClose;
    return request;
}
