// What a download shows and how its result is judged: the rate and progress texts of a running
// transfer, and the test that tells a server's error page from the file that was asked for.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inet/CommUtils.h"

namespace {

struct Block {
    int32_t bytes;
    uint32_t tick;
    const char* rate;  // what RateText gives for this block
};

constexpr uint32_t Wrap = 0xFFFFFFFFu;  // ticks just below the wrap-around: Wrap - n + 1 = 2^32 - n

TEST(CommUtils, RateTextOverTheLastFiveBlocks)
{
    const struct {
        const char* what;
        std::vector<Block> blocks;
    } cases[] = {
        {"window of five, refreshed only after 500 ms",
         {
             // The first block leaves the window before the first rate: its bytes never count.
             {999999, 10000, ""},
             {55134, 10250, ""},
             {55135, 10500, ""},
             {55134, 10750, ""},
             // 220538 bytes in 1000 ms: 215.369... KB/s.
             {55135, 11000, "215.37"},
             {1, 11300, "215.37"},
             {1, 11500, "215.37"},
             // Ticks 10750..11501 (751 ms), bytes 55135 + 1 + 1 + 713887 = 769024: 1000 KB/s.
             {713887, 11501, "1000.00"},
         }},
        {"tick count wrapping around",
         {
             {7, Wrap - 2999, ""},
             {1024, Wrap - 2499, ""},
             {1024, Wrap - 1999, ""},
             {1024, Wrap - 1499, ""},
             // 4096 bytes in 2000 ms.
             {1024, Wrap - 999, "2.00"},
             {1024, Wrap - 799, "2.00"},
             // 1100 ms after the last refresh, across the wrap; 21504 bytes in 2100 ms.
             {18432, 100, "10.00"},
         }},
        {"fast transfer in fixed notation",
         {
             {104857600, 1000, ""},
             {104857600, 2000, ""},
             {104857600, 3000, ""},
             {104857600, 4000, ""},
             {104857600, 5000, "102400.00"},
         }},
        {"no time passed over the window",
         {
             {4096, 7000, ""},
             {4096, 7000, ""},
             {4096, 7000, ""},
             {4096, 7000, ""},
             {4096, 7000, ""},
             {4096, 7000, ""},
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TBytesRate rate(false, false);
        // The second round runs on the same object after a reset: nothing of the first remains.
        for (int round = 0; round < 2; ++round) {
            if (round == 1)
                rate.Reset();
            for (size_t i = 0; i < c.blocks.size(); ++i)
                EXPECT_EQ(rate.RateText(c.blocks[i].bytes, c.blocks[i].tick), c.blocks[i].rate)
                    << "round " << round << ", block " << i + 1;
        }
    }
}

TEST(CommUtils, ProgressTextInBytesKilobytesOrMegabytes)
{
    const struct {
        bool kb, mb;
        int64_t total, done;
        const char* text;
    } cases[] = {
        {false, false, 5000, 1000, "1000/5000 Bytes"},
        {true, false, 204800, 1536, "1.5/200.0 KB"},
        {false, true, 12582912, 3565158, "3.4/12.0 MB"},
        {true, true, 12582912, 3565158, "3.4/12.0 MB"},
        {false, false, 3000000000, 2500000000, "2500000000/3000000000 Bytes"},
    };
    // Five blocks of the first rate case: 215.37 KB/s on the fifth.
    const Block blocks[] = {{999999, 10000, ""}, {55134, 10250, ""}, {55135, 10500, ""}, {55134, 10750, ""},
                            {55135, 11000, "215.37"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TBytesRate rate(c.kb, c.mb);
        for (const auto& b : blocks) {
            const std::string expected = *b.rate ? std::string(c.text) + "   -   " + b.rate + " KB/Sec" : c.text;
            EXPECT_EQ(rate.ProgressText(c.total, c.done, b.bytes, b.tick), expected) << b.tick;
        }
    }
}

TEST(CommUtils, ErrorPagesAreRecognisedInTheFirst1000Characters)
{
    const std::string filler(982, 'x');
    const struct {
        const char* what;
        std::string text;
        bool errorPage;
    } cases[] = {
        {"titled page", "<html><head><title>Not Found</title></head>", true},
        {"404 in the title", "<TITLE>Error 404</TITLE>", true},
        {"letter case ignored", "<Title>File 404</tItLe>", true},
        {"title attribute", "<title lang=en>404</title>", true},
        {"INI file", "[General]\r\nVersion=2\r\n", false},
        {"404 after the title, no head", "<html><title>Oops</title><body>404</body></html>", false},
        {"title without 404", "<title>Moved</title>", false},
        {"404 before the title only counts first", "404 <title>404</title>", false},
        {"head before html", "<head><html><title>x</title>", false},
        {"title never closed", "<HTML><HEAD><TITLE>Unclosed", false},
        {"no head", "<HTML><TITLE>x</TITLE>", false},
        {"404 without a title", "HTTP 404\r\n</TITLE>", false},
        {"closing title ends at character 1000", "<TITLE>" + filler + "404</TITLE>", true},
        {"closing title one past", "<TITLE>" + filler + "y404</TITLE>", false},
        {"404 past character 1000", "<TITLE>" + std::string(1000, 'x') + "404</TITLE>", false},
        {"page past character 1000", std::string(1000, ' ') + "<html><head><title>x</title>", false},
        {"empty", "", false},
        {"executable", std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0", 16) + "404 PE\0\0L\x01", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsErrorPageText(c.text), c.errorPage) << c.what;
}

TEST(CommUtils, ErrorPageMessageOrFallback)
{
    const std::string page =
        "<B>404 File Not Found...</B><P><P>URL:  http://host/dl/setup.exe."
        "<P><P>Please make sure the file is available and access is allowed to this file.";
    const std::string hint = "<P><P>If you are using an IIS webserver you must define appropriate MIME-Types.";
    const struct {
        bool errorPage;
        const char* text;
        const char* fallback;
        bool serverHint;
        std::string message;
    } cases[] = {
        {true, "<title>404</title>", "", false, page},
        {true, "<title>404</title>", "", true, page},
        {true, "Server: Microsoft-IIS/6.0", "", true, page + hint},
        {true, "server: microsoft-iis/6.0", "Bad Secret Token!", true, page + hint},
        {true, "Server: Microsoft-IIS/6.0", "", false, page},
        {false, "Server: Microsoft-IIS/6.0", "Bad Secret Token!", true, "Bad Secret Token!"},
        {false, "<title>404</title>", "", true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorPageMessage(c.errorPage, c.text, "http://host/dl/setup.exe", c.fallback, c.serverHint),
                  c.message)
            << c.text << " hint " << c.serverHint;
}

}  // namespace
