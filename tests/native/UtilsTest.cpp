// Text, number, date-stamp and scrambler helpers of util/Utils.
#include "util/Utils.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// Deterministic random byte strings (all 256 codes) for the round-trip checks.
std::string RandomBytes(std::mt19937& gen, size_t minLength, size_t maxLength)
{
    std::uniform_int_distribution<size_t> length(minLength, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(length(gen), '\0');
    for (char& c : s)
        c = static_cast<char>(byte(gen));
    return s;
}

bool IsUpperHex(const std::string& s)
{
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

// 5 January 2024 13:45:10 as days since 30 December 1899.
const double Jan5th2024 = 45296.0 + (13 * 3600 + 45 * 60 + 10) / 86400.0;

}  // namespace

// --- search and compare ---------------------------------------------------------------------

TEST(UtilsText, TextBeforeAndAfterSplitAtTheFirstSeparator)
{
    struct Case {
        std::string text, sep, before, after;
    };
    const Case cases[] = {
        {"a=b=c", "=", "a", "b=c"},
        {"=x", "=", "", "x"},
        {"x=", "=", "x", ""},
        {"key::value", "::", "key", "value"},
        {"abc", "=", "DEF", "DEF"},  // absent: the default
        {"abc", "", "DEF", "DEF"},   // an empty separator never occurs
        {"", "=", "DEF", "DEF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " / " + c.sep);
        EXPECT_EQ(TextBefore(c.text, c.sep, "DEF"), c.before);
        EXPECT_EQ(TextAfter(c.text, c.sep, "DEF"), c.after);
    }
}

TEST(UtilsText, PosCIAndPosFrom)
{
    struct Case {
        std::string sub, text;
        int start;
        bool ignoreCase;
        int pos;
    };
    const Case cases[] = {
        {"a", "abca", 0, false, 1},
        {"a", "abca", -5, false, 1},        // a start below 1 searches everything
        {"a", "abca", 2, false, 4},         // position counted in the whole text
        {"a", "abca", 4, false, 4},         // the start itself is searched
        {"a", "abca", 5, false, 0},         // text shorter than the start
        {"a", "abca", INT_MAX, false, 0},
        {"A", "abca", 2, false, 0},
        {"A", "abca", 2, true, 4},
        {"CA", "abca", 1, true, 3},
        {"bcaX", "abca", 1, false, 0},      // runs past the end
        {"", "abca", 1, false, 0},          // the empty substring is never found
        {"\xE4", "\xC4\xE4", 1, true, 2},   // only a-z change case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sub + " in " + c.text + " from " + std::to_string(c.start));
        EXPECT_EQ(PosFrom(c.sub, c.text, c.start, c.ignoreCase), c.pos);
        if (c.start <= 1 && c.ignoreCase) {
            EXPECT_EQ(PosCI(c.sub, c.text), c.pos);
        }
    }
    EXPECT_EQ(PosCI("b", "ABC"), 2);
    EXPECT_EQ(PosCI("", "ABC"), 0);
    EXPECT_EQ(PosCI("abcd", "abc"), 0);
    EXPECT_EQ(PosCI("\xE4", "\xC4"), 0);
}

TEST(UtilsText, LastPosAndEndPosCI)
{
    struct Case {
        std::string sub, text;
        int last;
    };
    const Case lastCases[] = {
        {".", "a.b.c", 4}, {"ab", "abab", 3}, {"aa", "aaa", 2}, {"abc", "abc", 1},
        {"x", "abc", 0},   {"", "abc", 0},    {"abcd", "abc", 0}, {"a", "", 0},
    };
    for (const Case& c : lastCases) {
        SCOPED_TRACE(c.sub + " in " + c.text);
        EXPECT_EQ(LastPos(c.sub, c.text), c.last);
    }

    const Case endCases[] = {
        {"EXE", "setup.exe", 1},   // 1: the text ends with it
        {".exe", "a.EXE.bak", 5},  // counted from the end
        {"xyz", "yz", 0},
        {"", "abc", 0},
    };
    for (const Case& c : endCases) {
        SCOPED_TRACE(c.sub + " in " + c.text);
        EXPECT_EQ(EndPosCI(c.sub, c.text), c.last);
    }
}

TEST(UtilsText, StartsWithAndEndsWith)
{
    struct Case {
        std::string affix, text;
        bool ignoreCase, starts, ends;
    };
    const Case cases[] = {
        {"", "abc", false, false, true},  // empty: never a prefix, always a suffix
        {"", "", false, false, true},
        {"ab", "abc", false, true, false},
        {"bc", "abc", false, false, true},
        {"AB", "abc", false, false, false},
        {"AB", "abc", true, true, false},
        {"BC", "abc", true, false, true},
        {"abc", "abc", false, true, true},
        {"xabc", "abc", true, false, false},  // longer than the text
        {"\xE4", "\xC4", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.affix + " / " + c.text + (c.ignoreCase ? " ci" : ""));
        EXPECT_EQ(StartsWith(c.affix, c.text, c.ignoreCase), c.starts);
        EXPECT_EQ(EndsWith(c.affix, c.text, c.ignoreCase), c.ends);
    }
}

// --- replacing, quotes, padding -------------------------------------------------------------

TEST(UtilsText, ReplaceTextReplacesEveryOccurrenceOnce)
{
    struct Case {
        std::string text, search, repl, result;
    };
    const Case cases[] = {
        {"aaa", "a", "aa", "aaaaaa"},  // inserted text is not searched again
        {"abc", "", "x", "abc"},
        {"abc", "d", "x", "abc"},
        {"", "a", "x", ""},
        {"a.b.c", ".", "", "abc"},
        {"aabb", "ab", "", "ab"},      // removing does not join the neighbours into a match
        {"abab", "aba", "X", "Xb"},    // occurrences do not overlap
        {"xyzxyz", "xyz", "z", "zz"},
        {"Aa", "a", "b", "Ab"},        // case-sensitive
        {"a\0b"s, "\0"s, "-", "a-b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " : " + c.search + " -> " + c.repl);
        EXPECT_EQ(ReplaceText(c.text, c.search, c.repl), c.result);
    }

    // A search text holding every byte value still works.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(ReplaceText("<" + all + ">" + all, all, "x"), "<x>x");
}

TEST(UtilsText, ReplaceTextCIIgnoresCaseOfTheSearchOnly)
{
    struct Case {
        std::string text, search, repl, result;
    };
    const Case cases[] = {
        {"Windows WINDOWS", "windows", "X", "X X"},
        {"aBc ABC abc", "b", "-", "a-c A-C a-c"},  // untouched letters keep their case
        {"<installdir>\\x", "<InstallDir>", "C:\\App", "C:\\App\\x"},
        {"aaa", "A", "aa", "aaaaaa"},
        {"\xE4\xC4", "\xE4", "x", "x\xC4"},         // only a-z change case
        {"abc", "", "x", "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " : " + c.search + " -> " + c.repl);
        EXPECT_EQ(ReplaceTextCI(c.text, c.search, c.repl), c.result);
    }
}

TEST(UtilsText, ReplaceCharAndExpandEscapes)
{
    EXPECT_EQ(ReplaceChar("a/b/c", '/', '\\'), "a\\b\\c");
    EXPECT_EQ(ReplaceChar("a\0b\0"s, '\0', '|'), "a|b|");
    EXPECT_EQ(ReplaceChar("x\xFFy", '\xFF', 'z'), "xzy");

    struct Case {
        std::string text, result;
    };
    const Case cases[] = {
        {"a\\\\nb", "a\r\nb"},          // two backslashes and n
        {"a\\\\tb", "a\tb"},
        {"a<p>b<T>c<P>", "a\r\nb\tc\r\n"},
        {"a\\nb", "a\\nb"},             // one backslash is no escape
        {"a\\\\Nb\\\\T", "a\\\\Nb\\\\T"},  // the backslash forms are case-sensitive
        {"<PP>", "<PP>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExpandEscapes(c.text), c.result);
    }
}

TEST(UtilsText, StripQuotes)
{
    struct Case {
        std::string text;
        bool bothEndsAlways, once;
        std::string result;
    };
    const Case cases[] = {
        {"\"", false, false, ""},
        {"\"", true, true, ""},
        {"\"\"\"", false, false, ""},
        {"\"\"\"", false, true, "\""},
        {"\"\"", false, true, ""},
        {"\"a b\"", false, false, "a b"},
        {"\"\"a\"\"", false, false, "a"},
        {"\"\"a\"\"", false, true, "\"a\""},
        {"a\"", false, false, "a\""},     // not quoted at both ends
        {"a\"", true, false, "a"},
        {"\"a", false, false, "\"a"},
        {"\"a", true, false, "a"},
        {"a\"b", true, false, "a\"b"},
        {"ab", true, false, "ab"},
        {"", true, false, ""},
        {"a", true, false, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + (c.bothEndsAlways ? " both" : "") + (c.once ? " once" : ""));
        EXPECT_EQ(StripQuotes(c.text, '"', c.bothEndsAlways, c.once), c.result);
    }
    EXPECT_EQ(StripQuotes("|a|", '|', false, false), "a");
    EXPECT_EQ(StripQuotes("\"a\"", '|', false, false), "\"a\"");

    EXPECT_EQ(TrimAndStripQuotes("  \"C:\\a b\\x.exe\" \t", false), "C:\\a b\\x.exe");
    EXPECT_EQ(TrimAndStripQuotes("\"\"x\"\"", false), "x");
    EXPECT_EQ(TrimAndStripQuotes(" x\" ", false), "x\"");
    EXPECT_EQ(TrimAndStripQuotes(" x\" ", true), "x");
}

TEST(UtilsText, PadLeft)
{
    struct Case {
        std::string text;
        int width;
        char pad;
        std::string result;
    };
    const Case cases[] = {
        {"98765432", -6, ' ', "98765."},  // negative width cuts, marking the cut with "."
        {"abcd", -3, ' ', "ab."},
        {"abc", -3, ' ', "abc"},
        {"a", -4, '0', "000a"},           // and pads like a positive one
        {"42", 5, ' ', "   42"},
        {"42", 2, ' ', "42"},
        {"abcdef", 3, ' ', "abcdef"},     // a positive width never cuts
        {"abcdef", -2, ' ', "abcdef"},
        {"abcdef", -1, ' ', "abcdef"},
        {"abcdef", 0, ' ', "abcdef"},
        {"", 3, 'x', "xxx"},
        {"", -3, 'x', "xxx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " width " + std::to_string(c.width));
        EXPECT_EQ(PadLeft(c.text, c.width, c.pad), c.result);
    }
}

// --- numbers --------------------------------------------------------------------------------

TEST(UtilsNumber, AddThousandsSeparators)
{
    struct Case {
        std::string number, result;
    };
    const Case cases[] = {
        {"7654321", "7,654,321"},
        {"4567.5", "4,567.5"},
        {"999", "999"},
        {"1000", "1,000"},
        {"123456.789", "123,456.789"},  // the fraction is left alone
        {"1234.5678.9", "1,234.5678.9"},
        {"0.0", "0.0"},
        {"-1234567", "-1,234,567"},
        {"-123", "-123"},               // the sign is no digit
        {"-100.0", "-100.0"},
        {".12345", ".12345"},           // no integer part
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(AddThousandsSeparators(c.number), c.result);
    }
}

TEST(UtilsNumber, FormatKBAndMB)
{
    struct Case {
        int64_t bytes;
        std::string kb, mb;
    };
    const Case cases[] = {
        {0, "0.0", "0.0"},
        {1536, "1.5", "0.0"},
        {1023, "1.0", "0.0"},                    // rounded, not cut
        {51, "0.0", "0.0"},
        {1024LL * 1234567, "1,234,567.0", "1,205.6"},
        {5000000000LL, "4,882,812.5", "4,768.4"},
        {INT64_MAX, "9,007,199,254,740,992.0", "8,796,093,022,208.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(FormatKB(c.bytes), c.kb);
        EXPECT_EQ(FormatMB(c.bytes), c.mb);
    }
}

// FixedDecimals works the digits out itself; they must be those of the C library's "%.*f" (exact
// binary value, rounded half to even) for every finite double and every number of places.
TEST(UtilsNumber, FixedDecimalsAsTheCLibraryWritesThem)
{
    const auto library = [](double value, int places) {
        std::vector<char> buf(400);
        const int n = std::snprintf(buf.data(), buf.size(), "%.*f", places, value);
        return std::string(buf.data(), static_cast<size_t>(n));
    };
    struct Case {
        double value;
        int places;
        std::string text;
    };
    const Case cases[] = {
        {0.0, 0, "0"},
        {-0.0, 1, "-0.0"},
        {2.5, 0, "2"},                     // a tie goes to the even neighbour
        {3.5, 0, "4"},
        {0.25, 1, "0.2"},
        {0.35, 1, "0.3"},                  // 0.34999999999999997...
        {1.005, 2, "1.00"},                // 1.00499999999999989...
        {-0.04, 1, "-0.0"},                // the sign stays with a value that rounds to 0
        {0.0009765625, 9, "0.000976562"},  // 2^-10, a tie at the ninth place
        {1e21, 0, "1000000000000000000000"},
        {4.9406564584124654e-324, 9, "0.000000000"},
        {123456789.987654321, 3, "123456789.988"},
        {1.5, -4, "2"},                    // places are held at 0..9
        {1.0 / 3.0, 12, "0.333333333"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FixedDecimals(c.value, c.places), c.text);
    }

    // Random bit patterns (every magnitude, subnormals included), everyday sizes and transfer
    // rates, and exact fractions of 1024 (the KB figures, full of ties).
    std::mt19937_64 gen(20261211);
    std::vector<double> values = {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min()};
    while (values.size() < 3000) {
        const double v = std::bit_cast<double>(gen());
        if (std::isfinite(v))
            values.push_back(v);
    }
    std::uniform_real_distribution<double> everyday(0.0, 1e7);
    for (int i = 0; i < 2000; ++i)
        values.push_back(everyday(gen));
    for (int64_t k = 0; k < 4096; k += 7)
        values.push_back(static_cast<double>(k) / 1024.0 + static_cast<double>(k));
    for (const double v : values)
        for (int places = 0; places <= 9; ++places)
            ASSERT_EQ(FixedDecimals(v, places), library(v, places)) << places;
}

TEST(UtilsNumber, BaseToIntAndHexToInt)
{
    struct Case {
        std::string text;
        int base;
        int64_t value;
    };
    const Case cases[] = {
        {"1F", 16, 31},
        {"1f", 16, 31},
        {" 1F\t", 16, 31},
        {"101", 2, 5},
        {"777", 8, 511},
        {"19", 8, 17},       // digits beyond the base are taken as they are
        {"G", 16, -1},       // outside the digit table: -1
        {"z1", 10, -9},
        {"\xFF", 16, -1},
        {"", 16, 0},
        {"7FFFFFFFFFFFFFFF", 16, INT64_MAX},
        {"8000000000000000", 16, INT64_MIN},
        {"FFFFFFFFFFFFFFFF", 16, -1},   // wraps around
        {"10000000000000000", 16, 0},
        {"99999999999999999999", 10, static_cast<int64_t>(7766279631452241919ULL)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " base " + std::to_string(c.base));
        EXPECT_EQ(BaseToInt(c.text, c.base), c.value);
    }

    struct HexCase {
        std::string text;
        int64_t value;
    };
    const HexCase hexCases[] = {
        {"0x1F", 31}, {"0X1f", 31}, {"1F", 31}, {" 0x1F ", 31}, {"0x", 0}, {"", 0}, {"x1", -15},
    };
    for (const HexCase& c : hexCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HexToInt(c.text), c.value);
    }
}

TEST(UtilsNumber, HexEncode)
{
    struct Case {
        std::string bytes;
        bool blanks, prefix;
        std::string hex;
    };
    const Case cases[] = {
        {"ABCDEFGHI", true, false, "41 42 43 44 45 46 47 48  49 "},  // extra blank after 8 bytes
        {"ABCDEFGHI", false, false, "414243444546474849"},
        {"\x0A\xFF", true, true, "0x0A 0xFF "},
        {"\x0A\xFF", false, true, "0x0A0xFF"},
        {"\0\x7F\x80"s, false, false, "007F80"},
        {"", true, true, ""},
        {"01234567", true, false, "30 31 32 33 34 35 36 37  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(HexEncode(c.bytes, c.blanks, c.prefix), c.hex);
    }
}

TEST(UtilsNumber, HexDecode)
{
    struct Case {
        std::string hex, bytes;
    };
    const Case cases[] = {
        {"414243", "ABC"},
        {"ff007F", "\xFF\0\x7F"s},
        {"", "\0"s},          // the first pair is always converted
        {"4", "\x04"},
        {"414", "A"},         // a last single character is dropped
        {"0x41", "\0A"s},
        {"ZZ", "\xEF"},       // invalid digits count as -1: -1 - 16 = 0xEF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(HexDecode(c.hex), c.bytes);
    }
}

TEST(UtilsNumber, HexRoundTrip)
{
    std::mt19937 gen(12345);
    for (int n = 0; n < 500; ++n) {
        const std::string bytes = RandomBytes(gen, 1, 40);
        const std::string hex = HexEncode(bytes, false, false);
        ASSERT_EQ(hex.size(), 2 * bytes.size());
        ASSERT_TRUE(IsUpperHex(hex));
        ASSERT_EQ(HexDecode(hex), bytes) << hex;
    }
}

TEST(UtilsNumber, MinMaxClamp)
{
    EXPECT_EQ(Min64(INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(Max64(INT64_MIN, INT64_MAX), INT64_MAX);
    EXPECT_EQ(Min64(-1, -2), -2);
    EXPECT_EQ(Max64(-1, -2), -1);

    struct Case {
        int64_t value, low, high, result;
    };
    const Case cases[] = {
        {5, 1, 25, 5},    {0, 1, 25, 1},   {100, 1, 25, 25},
        {INT64_MIN, 1, 25, 1}, {INT64_MAX, 1, 25, 25},
        {5, 10, 1, 1},    // low above high: the high limit is applied last
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Clamp64(c.value, c.low, c.high), c.result);
    }
}

// --- randomness -----------------------------------------------------------------------------

TEST(UtilsRandom, RandomInRangeStaysInTheRange)
{
    struct Case {
        int64_t low, high;
    };
    const Case cases[] = {
        {5, 5}, {0, 1}, {-3, 3}, {33, 122}, {INT64_MIN, INT64_MAX},
        {INT64_MAX - 1, INT64_MAX}, {INT64_MIN, INT64_MIN + 1}, {0, 0xFFFFFFFFFFLL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + ".." + std::to_string(c.high));
        for (int n = 0; n < 200; ++n) {
            const int64_t v = RandomInRange(c.low, c.high);
            ASSERT_GE(v, c.low);
            ASSERT_LE(v, c.high);
        }
    }
    EXPECT_EQ(RandomInRange(10, 3), 10);  // an empty range gives its low end

    const int64_t v = StrToInt64Def(RandomNumberText(-50, 50), 1000);
    EXPECT_GE(v, -50);
    EXPECT_LE(v, 50);
}

TEST(UtilsRandom, RandomInRangeReachesEveryValue)
{
    // Reseeding from a nanosecond clock must still spread the draws: every value of a small
    // range shows up, and a large range does not keep repeating one number.
    std::set<int64_t> small, large;
    for (int n = 0; n < 600; ++n) {
        small.insert(RandomInRange(1, 3));
        large.insert(RandomInRange(0, 1000000000));
    }
    EXPECT_EQ(small, (std::set<int64_t>{1, 2, 3}));
    EXPECT_GT(large.size(), 100u);
}

// --- the text scrambler ---------------------------------------------------------------------

TEST(UtilsScramble, ScrambledFormAndKnownKey)
{
    const std::string scrambled = ScrambleText("hello", true, false);
    ASSERT_EQ(scrambled.size(), 12u + 1u + 5u);
    EXPECT_EQ(scrambled.substr(0, 12), "Scrambled=01");
    const int key = static_cast<unsigned char>(scrambled[12]);
    EXPECT_GE(key, 33);
    EXPECT_LE(key, 122);
    EXPECT_NE(scrambled.substr(13), "hello");

    // Key 'A' (65): 'A' ^ (1 + 65) = 0x03 and 'B' ^ ((2 - 65) mod 256) = 0x42 ^ 0xC1 = 0x83.
    const std::string known = "Scrambled=01A\x03\x83";
    EXPECT_EQ(ScrambleText(known, false, false), "AB");
    EXPECT_EQ(ScrambleText(HexEncode(known, false, false), false, true), "AB");
    // Even positions subtract the key: with key 'z' (122) position 2 uses 2 - 122 = 136.
    EXPECT_EQ(ScrambleText("Scrambled=01z\x7B\x88"s, false, false), "\0\0"s);
}

TEST(UtilsScramble, TextsInTheWrongStatePassThrough)
{
    const std::string scrambled = ScrambleText("secret", true, false);
    EXPECT_EQ(ScrambleText(scrambled, true, false), scrambled);
    EXPECT_EQ(ScrambleText("plain text", false, false), "plain text");
    // With the hex flag the input is decoded first, and a plain result comes back decoded.
    EXPECT_EQ(ScrambleText(HexEncode("plain", false, false), false, true), "plain");
    // Scrambling with the hex flag encodes even a text that was scrambled already.
    EXPECT_EQ(ScrambleText(scrambled, true, true), HexEncode(scrambled, false, false));

    for (bool scramble : {false, true})
        for (bool hex : {false, true})
            EXPECT_EQ(ScrambleText("", scramble, hex), "");
    // The marker without a key character carries nothing.
    EXPECT_EQ(ScrambleText("Scrambled=01", false, false), "");
    EXPECT_EQ(ScrambleText("Scrambled=01K", false, false), "");
}

TEST(UtilsScramble, RoundTripOfRandomTexts)
{
    std::mt19937 gen(4711);
    for (int n = 0; n < 400; ++n) {
        const bool hex = n % 2 == 1;
        const std::string text = RandomBytes(gen, 1, 64);
        const std::string scrambled = ScrambleText(text, true, hex);
        if (hex) {
            ASSERT_TRUE(IsUpperHex(scrambled));
            ASSERT_EQ(scrambled.size(), 2 * (13 + text.size()));
        } else {
            ASSERT_EQ(scrambled.substr(0, 12), "Scrambled=01");
        }
        ASSERT_EQ(ScrambleText(scrambled, false, hex), text) << HexEncode(text, true, false);
    }
}

TEST(UtilsScramble, KeyChangesFromCallToCall)
{
    std::set<std::string> seen;
    for (int n = 0; n < 50; ++n)
        seen.insert(ScrambleText("same text", true, false));
    EXPECT_GT(seen.size(), 1u);
}

// --- date stamps ----------------------------------------------------------------------------

TEST(UtilsDate, Stamps)
{
    struct Case {
        double dateTime;
        std::string date, dateTime24, log;
    };
    const Case cases[] = {
        {Jan5th2024, "05-JAN-2024", "05-JAN-2024 13:45:10", "05/01/24 13:45:10"},
        {0.0, "30-DEC-1899", "30-DEC-1899 00:00:00", "30/12/99 00:00:00"},
        {2.0, "01-JAN-1900", "01-JAN-1900 00:00:00", "01/01/00 00:00:00"},
        {61.5, "01-MAR-1900", "01-MAR-1900 12:00:00", "01/03/00 12:00:00"},  // 1900 is no leap year
        {36585.25, "29-FEB-2000", "29-FEB-2000 06:00:00", "29/02/00 06:00:00"},
        {45291.0 + 86399.0 / 86400.0, "31-DEC-2023", "31-DEC-2023 23:59:59", "31/12/23 23:59:59"},
        {38542.0, "09-JUL-2005", "09-JUL-2005 00:00:00", "09/07/05 00:00:00"},
        {-1.0, "29-DEC-1899", "29-DEC-1899 00:00:00", "29/12/99 00:00:00"},
        {-693593.0, "01-JAN-0001", "01-JAN-0001 00:00:00", "01/01/01 00:00:00"},
        {2958465.5, "31-DEC-9999", "31-DEC-9999 12:00:00", "31/12/99 12:00:00"},
        // Rounded to the millisecond first: a hair before midnight is still the same day,
        // less than half a millisecond before it is the next one.
        {45296.99999999, "05-JAN-2024", "05-JAN-2024 23:59:59", "05/01/24 23:59:59"},
        {45296.999999999, "06-JAN-2024", "06-JAN-2024 00:00:00", "06/01/24 00:00:00"},
        // Values no calendar date belongs to stay within the years 1 to 9999.
        {std::numeric_limits<double>::quiet_NaN(), "30-DEC-1899", "30-DEC-1899 00:00:00",
         "30/12/99 00:00:00"},
        {1e300, "31-DEC-9999", "31-DEC-9999 23:59:59", "31/12/99 23:59:59"},
        {std::numeric_limits<double>::infinity(), "31-DEC-9999", "31-DEC-9999 23:59:59",
         "31/12/99 23:59:59"},
        {-1e300, "01-JAN-0001", "01-JAN-0001 00:00:00", "01/01/01 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dateTime24);
        EXPECT_EQ(DateStamp(c.dateTime), c.date);
        EXPECT_EQ(DateTimeStamp(c.dateTime), c.dateTime24);
        EXPECT_EQ(LogTimeStamp(c.dateTime), c.log);
    }
}

TEST(UtilsDate, MonthNamesAndSeparators)
{
    // The 15th of every month of 2023; day 44941 is 15 January 2023.
    const int monthStart[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const char* const names[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    for (int m = 0; m < 12; ++m)
        EXPECT_EQ(DateStamp(44941.0 + monthStart[m]), "15-" + std::string(names[m]) + "-2023");

    EXPECT_EQ(DateTimeStamp(Jan5th2024, '.'), "05-JAN-2024 13.45.10");
    EXPECT_EQ(LogTimeStamp(Jan5th2024, '.', '-'), "05.01.24 13-45-10");
    // Stored seconds divided by 86400, as callers pass them.
    EXPECT_EQ(DateTimeStamp(3913623910.0 / 86400.0), "05-JAN-2024 13:45:10");
}
