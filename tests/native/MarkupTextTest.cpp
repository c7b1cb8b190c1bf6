// The window-free rules of the markup message box: markup conversion, measuring, layout, button
// sets, keyboard choices and the entry points' text and flags.
#include "ui/MarkupText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Stretches = std::vector<BoldStretch>;

TEST(MarkupConversion, TagsBecomePlainTextAndBoldStretches)
{
    const struct {
        std::string markup, text;
        Stretches bold;
    } cases[] = {
        {"a<B>b</B>c", "abc", {{1, 2}}},
        {"a</B>b<B>c", "abc", {}},                              // closing before opening: nothing bold
        {"a<b>b", "ab", {}},                                    // never closed
        {"a<b>bc</b>d<B>e</b>", "abcde", {{1, 3}, {4, 5}}},     // letter case ignored
        {"<<b>Error</b><P><P>text<P>", "Error\r\n\r\ntext\r\n", {{0, 5}}},
        {"<<B>x</B>", "x", {{0, 1}}},
        {"<<x>", "<<x>", {}},
        {"a<P>b\\\\nc<p>d", "a\r\nb\r\nc\r\nd", {}},            // both break forms
        {"a<T>b\\\\tc", "a\tb\tc", {}},
        {"a\\nb", "a\\nb", {}},                                 // a single backslash is no escape
        {"x<P><B>bold</B> y", "x\r\nbold y", {{3, 7}}},         // a line break counts two
        {"<B></B>x", "x", {}},                                  // an empty stretch is dropped
        {"x</B>y<B>z</B>", "xyz", {{2, 3}}},                    // counted after the stray tag is gone
        {"<</B>/B>ok", "ok", {}},                               // no tag survives
        {"<SIZE> MB", "<SIZE> MB", {}},                         // other words stay
        {"", "", {}},
    };
    for (const auto& c : cases) {
        const PlainMarkup plain = ConvertMarkup(c.markup);
        EXPECT_EQ(plain.text, c.text) << c.markup;
        EXPECT_EQ(plain.bold, c.bold) << c.markup;
    }
}

TEST(MarkupConversion, StretchesStayInsideTheText)
{
    for (const std::string markup : {"<B>a<B>b</B>c</B>", "<b><b></b></b>", "</B><B>a</B></B><B>", "<B>a<P></B>"}) {
        const PlainMarkup plain = ConvertMarkup(markup);
        for (const BoldStretch& s : plain.bold) {
            EXPECT_LT(s.start, s.end) << markup;
            EXPECT_LE(s.end, static_cast<int>(plain.text.size())) << markup;
        }
    }
    EXPECT_EQ(ConvertMarkup("<B>a<P></B>").bold, (Stretches{{0, 3}}));
}

// --- measuring ---------------------------------------------------------------------------------

// Ten pixels a character, 700 for a line of "W"s.
int FakeWidth(const std::string& line)
{
    return line.find('W') != std::string::npos ? 700 : static_cast<int>(line.size()) * 10;
}

TEST(MarkupMeasuring, WidthsAndLineHeights)
{
    const int lh = 13;
    const struct {
        std::string text;
        TextExtent extent;
    } cases[] = {
        {"W", {600, 2 * lh}},                    // 700 wide: capped, counted as wrapped
        {"abc", {40, lh}},
        {"", {20, lh}},                          // measured as one blank
        {"abc\r\n", {40, lh}},                   // the final empty piece counts nothing
        {"abc\r\n\r\nde", {40, 3 * lh}},         // an empty line inside counts one
        {"\r\n", {10, lh}},
        {"abcdefghij\r\nW\r\nx", {600, 4 * lh}},
        {std::string(59, 'a'), {600, lh}},       // 590 + 10
        {std::string(60, 'a'), {600, 2 * lh}},   // 600 / 600 + 1
        {std::string(120, 'a'), {600, 3 * lh}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MeasureMarkupText(c.text, FakeWidth, lh), c.extent) << c.text;
}

TEST(MarkupMeasuring, TheControlKeepsAFinalEmptyLine)
{
    const int lh = 13;
    const struct {
        std::string text;
        int fitting;
    } cases[] = {
        {"ERROR\r\n\r\nx\r\n", 4 * lh},   // the heading's text ends with a break
        {"ERROR\r\n\r\nx", 3 * lh},
        {"W", 2 * lh},
        {"", lh},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FittingRequestHeight(c.text, MeasureMarkupText(c.text, FakeWidth, lh), lh), c.fitting) << c.text;
}

TEST(MarkupMeasuring, LineHeightOfTheFont)
{
    EXPECT_EQ(MarkupLineHeight(13, 0, "Tahoma"), 13);
    EXPECT_EQ(MarkupLineHeight(13, 2, "Tahoma"), 15);
    EXPECT_EQ(MarkupLineHeight(12, 1, "MS PGothic"), 14);
    EXPECT_EQ(MarkupLineHeight(12, 1, "  ms pgothic "), 14);
    EXPECT_EQ(MarkupLineHeight(12, 1, "MS Gothic"), 13);
}

TEST(MarkupMeasuring, TabsAdvanceToTheNextStop)
{
    const auto width = [](const std::string& s) { return static_cast<int>(s.size()) * 10; };
    EXPECT_EQ(TabbedLineWidth("abc", width, 48), 30);
    EXPECT_EQ(TabbedLineWidth("a\tb", width, 48), 58);
    EXPECT_EQ(TabbedLineWidth("\t\t", width, 48), 96);
    EXPECT_EQ(TabbedLineWidth("abcde\tx", width, 48), 106);   // 50 passes the first stop
    EXPECT_EQ(TabbedLineWidth("a\tb", width, 0), 30);         // no stops: as the width function says
}

// --- layout ------------------------------------------------------------------------------------

TEST(MarkupLayout, BoxSizeMarginsAndMinimum)
{
    const SystemFrame frame{4, 4, 19};
    const struct {
        int w, h;
        BoxSize box;
    } cases[] = {
        {40, 13, {64, 45, 360, 13 + 36 + 90 + 8 + 19}},          // short one-line text: at least 360
        {199, 38, {64, 45, 199 + 54 + 128 + 8, 38 + 36 + 90 + 27}},
        {200, 39, {32, 32, 360, 39 + 36 + 64 + 27}},
        {300, 39, {32, 32, 300 + 54 + 64 + 8, 39 + 36 + 64 + 27}},
        {610, 26, {32, 45, 610 + 54 + 64 + 8, 26 + 36 + 90 + 27}},
    };
    for (const auto& c : cases) {
        const BoxSize box = MarkupBoxSize(c.w, c.h, frame);
        EXPECT_EQ(box.marginX, c.box.marginX) << c.w;
        EXPECT_EQ(box.marginY, c.box.marginY) << c.h;
        EXPECT_EQ(box.width, c.box.width) << c.w;
        EXPECT_EQ(box.height, c.box.height) << c.h;
    }
}

TEST(MarkupLayout, TextControlAndButtons)
{
    EXPECT_EQ(TextControlPlace(352, 156, 40, 13), (Rect{54 + 129, 53, 40, 156 - 53 - 39}));
    EXPECT_EQ(TextControlPlace(351, 155, 40, 14), (Rect{54 + 128, 52, 40, 155 - 52 - 39}));
    EXPECT_EQ(TextControlPlace(101, 31, 200, 20), (Rect{54 - 76, -12, 200, 31 + 12 - 39}));   // truncated toward 0
    // Edge to edge, ending at W - 80.
    EXPECT_EQ(ButtonPlace(352, 156, 3, 2), (Rect{272, 127, 70, 23}));
    EXPECT_EQ(ButtonPlace(352, 156, 3, 1), (Rect{202, 127, 70, 23}));
    EXPECT_EQ(ButtonPlace(352, 156, 3, 0), (Rect{132, 127, 70, 23}));
    EXPECT_EQ(ButtonPlace(400, 100, 1, 0), (Rect{320, 71, 70, 23}));
}

// --- buttons and keyboard ----------------------------------------------------------------------

TEST(MarkupButtonSets, CaptionsAndCodes)
{
    const std::string list = DefaultButtonTexts;
    using Set = std::vector<ButtonSpec>;
    const struct {
        uint32_t flags;
        Set buttons;
    } cases[] = {
        {0x00, {{"&OK", 1}}},
        {0x01, {{"&OK", 1}, {"&Cancel", 2}}},
        {0x02, {{"&Abort", 3}, {"&Retry", 4}, {"&Ignore", 5}}},
        {0x03, {{"&Yes", 6}, {"&No", 7}, {"&Cancel", 2}}},
        {0x24, {{"&Yes", 6}, {"&No", 7}}},              // icon bits do not matter
        {0x10000105, {{"&Retry", 4}, {"&Cancel", 2}}},
        {0x06, {}},
        {0x0F, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MarkupButtons(c.flags, list), c.buttons) << c.flags;
    // A short list gives empty captions.
    EXPECT_EQ(MarkupButtons(0x03, "|Ok|Cancel|"), (Set{{"", 6}, {"", 7}, {"Cancel", 2}}));
}

TEST(MarkupButtonSets, DefaultIndexWraps)
{
    const struct {
        int index, count, expected;
    } cases[] = {
        {2, 3, 2},    // set 3, index 2: Cancel
        {3, 2, 1},    // wraps to the second of two
        {0, 1, 0}, {2, 1, 0}, {15, 3, 0},
        {-1, 3, 2}, {-4, 3, 2}, {-2, 2, 0},
        {0, 0, -1}, {1, 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultButtonIndex(c.index, c.count), c.expected) << c.index << " of " << c.count;
    EXPECT_EQ(DefaultButtonIndexOfFlags(0x203), 2);
    EXPECT_EQ(DefaultButtonIndexOfFlags(0x10180124), 1);
    EXPECT_EQ(DefaultButtonIndexOfFlags(0x24), 0);
    EXPECT_EQ(DefaultButtonIndexOfFlags(0xF00), 15);
}

std::vector<std::string> Captions(uint32_t flags, const std::string& list)
{
    std::vector<std::string> captions;
    for (const ButtonSpec& b : MarkupButtons(flags, list))
        captions.push_back(b.caption);
    return captions;
}

TEST(MarkupKeyboard, LettersChooseByTheirAccelerator)
{
    const std::string german = "|&OK|&Abbrechen|&Ja|&Nein|&Abbrechen|&Wiederholen|&Ignorieren|";
    const std::vector<std::string> yesNo = Captions(0x04, german);
    const auto code = [&](int index) { return index < 0 ? 0 : MarkupButtons(0x04, german)[index].code; };
    EXPECT_EQ(code(LetterChoice(yesNo, 'J')), 6);
    EXPECT_EQ(code(LetterChoice(yesNo, 'N')), 7);
    EXPECT_EQ(code(LetterChoice(yesNo, 'Y')), 0);
    const struct {
        std::vector<std::string> captions;
        char letter;
        int expected;
    } cases[] = {
        {{"&Yes", "&No", "&Cancel"}, 'Y', 0},
        {{"&Yes", "&No", "&Cancel"}, 'c', 2},
        {{"Yes", "No"}, 'N', 1},                     // no "&": the first character
        {{"Re&try", "&Cancel"}, 'T', 0},
        {{"Re&try", "&Cancel"}, 'R', -1},
        {{"&Abc", "&Axe", "&Bee"}, 'A', 1},          // the last match wins
        {{"", "&", "x&"}, 'X', -1},
        {{"a&&b"}, '&', 0},                          // only the first "&" counts
    };
    for (const auto& c : cases)
        EXPECT_EQ(LetterChoice(c.captions, c.letter), c.expected) << c.letter;
}

TEST(MarkupKeyboard, AltCharactersMatchTheSecondCharacter)
{
    const struct {
        std::vector<std::string> captions;
        char typed;
        int expected;
    } cases[] = {
        {{"&Yes", "&No", "&Cancel"}, 'y', 0},        // upper-case form of the typed character
        {{"&Yes", "&No", "&Cancel"}, 'N', 1},
        {{"&Yes", "&No", "&Cancel"}, 'a', -1},       // second character only
        {{"&Abort", "&Retry", "&Ignore"}, 'r', 1},
        {{"&Abc", "&Axe", "&Bee"}, 'A', 0},          // the first match wins
        {{"yes", "no"}, 'e', 0},
        {{"yes"}, 'E', -1},                          // the caption's case counts
        {{"X", "", "&"}, 'X', -1},                   // too short
    };
    for (const auto& c : cases)
        EXPECT_EQ(AltCharChoice(c.captions, c.typed), c.expected) << c.typed;
}

// --- the entry points' request -----------------------------------------------------------------

TEST(MarkupRequests, HeadingOfMode0)
{
    const struct {
        std::string title, text;
    } cases[] = {
        {"Error", "<<b>ERROR</b><P><P>Disk full<P>"},
        {"Attention", "<<b>ATTENTION</b><P><P>Disk full<P>"},
        {"Confirm", "<<b>CONFIRM</b><P><P>Disk full<P>"},
        {"Disk error", "<<b>Disk error</b><P><P>Disk full<P>"},
        {"error", "<<b>error</b><P><P>Disk full<P>"},        // letter case counts
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrepareMarkupRequest(0, "Disk full", c.title, 1, 0x10).text, c.text) << c.title;
    const PlainMarkup plain = ConvertMarkup(PrepareMarkupRequest(0, "x", "Error", 1, 0x10).text);
    EXPECT_EQ(plain.text, "ERROR\r\n\r\nx\r\n");
    EXPECT_EQ(plain.bold, (Stretches{{0, 5}}));
}

TEST(MarkupRequests, FlagsAndOwner)
{
    const struct {
        int64_t mode;
        int charset;
        uint32_t flags, expectedFlags;
        bool ownerIsMode, heading;
    } cases[] = {
        {0, 1, 0x24, 0x24, false, true},
        {1, 1, 0x24, 0x24, false, false},
        {2, 1, 0x24, 0x10000024, false, false},
        {3, 1, 0x24, 0x24, true, false},
        {0x10042, 0, 0x21, 0x21, true, false},
        {1, 177, 0x10, 0x180010, false, false},
        {2, 178, 0x10, 0x10180010, false, false},
        {1, 176, 0x10, 0x10, false, false},
    };
    for (const auto& c : cases) {
        const MarkupRequest r = PrepareMarkupRequest(c.mode, "text", "Title", c.charset, c.flags);
        EXPECT_EQ(r.flags, c.expectedFlags) << c.mode << " " << c.charset;
        EXPECT_EQ(r.ownerIsMode, c.ownerIsMode) << c.mode;
        EXPECT_EQ(r.text, c.heading ? "<<b>Title</b><P><P>text<P>" : "text") << c.mode;
    }
}

}  // namespace
