// The builder's conversion of UTF-8 names and texts to the target code page. The same tables run
// natively (iconv) and under Wine (WideCharToMultiByte), so they also show that both hosts write
// the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "builder/CodePage.h"
#include "builder/ContainerBuilder.h"

namespace {

using namespace builder;

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 15];
        out += ' ';
    }
    return out;
}

TEST(CodePage, TextsAreWrittenInEachTargetCodePage)
{
    struct Case {
        const char* utf8;
        unsigned codePage;
        const char* bytes;
    };
    const Case cases[] = {
        {"Engine.exe", 1252, "Engine.exe"},
        {"sub\\plain | text", 932, "sub\\plain | text"},  // ASCII stays as it is, even in 932
        {"café.txt", 1252, "caf\xE9.txt"},
        {"Übersicht.pdf", 1252, "\xDC" "bersicht.pdf"},
        {"5 €", 1252, "5 \x80"},
        {"Łódź", 1250, "\xA3\xF3" "d\x9F"},
        {"Распаковка файлов", 1251, "\xD0\xE0\xF1\xEF\xE0\xEA\xEE\xE2\xEA\xE0 \xF4\xE0\xE9\xEB\xEE\xE2"},
        {"Ελλάδα", 1253, "\xC5\xEB\xEB\xDC\xE4\xE1"},
        {"Güneş", 1254, "G\xFCne\xFE"},
        {"שלום", 1255, "\xF9\xEC\xE5\xED"},
        {"مرحبا", 1256, "\xE3\xD1\xCD\xC8\xC7"},
        {"Ąžuolas", 1257, "\xC0\xFEuolas"},
        {"Đà", 1258, "\xD0\xE0"},
        {"ไทย", 874, "\xE4\xB7\xC2"},
        {"日本.txt", 932, "\x93\xFA\x96\x7B.txt"},
        {"中文", 936, "\xD6\xD0\xCE\xC4"},
        {"한국", 949, "\xC7\xD1\xB1\xB9"},
        {"中文", 950, "\xA4\xA4\xA4\xE5"},
        // A double-byte character with a "\" second byte is fine where nothing is reserved.
        {"表", 932, "\x95\x5C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.utf8) + " in " + std::to_string(c.codePage));
        const std::string bytes = ToCodePage(c.utf8, c.codePage, "text");
        EXPECT_EQ(Hex(bytes), Hex(c.bytes));
    }
}

TEST(CodePage, TextsTheCodePageCannotHoldExactlyAreRefusedNamingThem)
{
    struct Case {
        const char* utf8;
        unsigned codePage;
        const char* reserved;
        const char* message;
    };
    const Case cases[] = {
        {"日本.txt", 1252, "", "name: the character '日' (U+65E5) cannot be written in code page 1252"},
        {"café", 1251, "", "the character 'é' (U+00E9) cannot be written in code page 1251"},
        {"Жук", 1252, "", "the character 'Ж' (U+0416) cannot be written in code page 1252"},
        {"café", 932, "", "'é' (U+00E9) cannot be written in code page 932"},
        // Only as a look-alike ("\" in 932) or as a decomposed pair (1258): no exact form.
        {"¥100", 932, "", "'¥' (U+00A5) cannot be written in code page 932"},
        {"ế", 1258, "", "'ế' (U+1EBF) cannot be written in code page 1258"},
        {"😀", 1252, "", "(U+1F600) cannot be written in code page 1252"},
        {"表.txt", 932, "\\|", "'表' (U+8868) is written in code page 932 as 0x95 0x5C, and the stub would take its second byte for '\\'"},
        {"a－b", 932, "|", "'－' (U+FF0D) is written in code page 932 as 0x81 0x7C, and the stub would take its second byte for '|'"},
        {"caf\xE9", 1252, "", "name: the byte 0xE9 at offset 3 is not UTF-8 text"},
        {"\xC0\xAF", 1252, "", "the byte 0xC0 at offset 0 is not UTF-8 text"},      // overlong "/"
        {"x\xED\xA0\x80", 1252, "", "the byte 0xED at offset 1 is not UTF-8 text"},  // a surrogate
        {"\xC3", 1252, "", "the byte 0xC3 at offset 0 is not UTF-8 text"},           // cut short
        {"a\xC2\x85" "b", 1252, "", "the control character U+0085 is not allowed"},
        {"plain", 1200, "", "name: code page 1200 is not one the builder writes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            ToCodePage(c.utf8, c.codePage, "name", c.reserved);
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(CodePage, CharsetsSelectTheirWindowsCodePage)
{
    struct Case {
        const char* charset;
        unsigned codePage;
    };
    const Case cases[] = {
        {"0", 1252},   {"1", 1252},   {"238", 1250}, {"204", 1251}, {"161", 1253}, {"162", 1254},
        {"177", 1255}, {"178", 1256}, {"186", 1257}, {"163", 1258}, {"222", 874},  {"128", 932},
        {"134", 936},  {"129", 949},  {"136", 950},
        // Read as the stub reads it: trimmed, decimal, 0 when it is not a number.
        {" 204 ", 1251}, {"", 1252}, {"Cyrillic", 1252}, {"0xCC", 1252},
        // Sets without an ANSI code page of their own.
        {"2", 0}, {"77", 0}, {"255", 0}, {"-1", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CodePageOfCharsetText(c.charset), c.codePage) << "'" << c.charset << "'";
        if (c.codePage != 0) {
            EXPECT_TRUE(IsSupportedCodePage(c.codePage));
        }
    }
}

}  // namespace
