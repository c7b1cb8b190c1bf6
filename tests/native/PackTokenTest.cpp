// Tokens as the builder scrambles them and the stub reads them back, and the invalid inputs that
// must never compare equal except by chance.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "TestImages.h"
#include "builder/ContainerBuilder.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "util/Utils.h"

namespace {

namespace fs = std::filesystem;

std::string Scramble(const std::string& token, std::mt19937& generator)
{
    return ScrambleToken(token, [&] { return static_cast<uint32_t>(generator()); });
}

bool IsRandomNumberText(const std::string& text)
{
    int64_t value = -1;
    return !text.empty() && text.size() <= 5 && TryParseInt64(text, value) && value >= 0 && value <= 99998;
}

TEST(PackToken, EveryScrambleReadsBackAsTheTokenAndItsNul)
{
    std::mt19937 generator(12345);
    const std::string tokens[] = {"T", "Product-Token-2026", std::string("\x01\xFF|x", 4), std::string(200, 'z')};
    for (const std::string& token : tokens) {
        std::set<std::string> texts;
        for (int i = 0; i < 200; ++i) {
            const std::string text = Scramble(token, generator);
            texts.insert(text);
            ASSERT_EQ(DescrambleToken(text), token + std::string(1, '\0')) << text;
            // Only the characters of the raised hexadecimal digits appear.
            for (const char c : text)
                ASSERT_TRUE((c >= 98 && c <= 107) || (c >= 115 && c <= 120)) << static_cast<int>(c);
        }
        EXPECT_GT(texts.size(), 150u) << "scrambles should differ";
    }
}

TEST(PackToken, InvalidInputsGiveRandomNumbers)
{
    std::mt19937 generator(7);
    std::string badCheck = Scramble("TOKEN", generator);
    // The check byte is the second-last byte: two characters before the last two.
    badCheck[badCheck.size() - 3] = badCheck[badCheck.size() - 3] == 'b' ? 'c' : 'b';
    const std::string inputs[] = {"", "bbbbbbbb" /* a 4-byte block */, badCheck, "x"};
    for (const std::string& input : inputs) {
        std::set<std::string> results;
        for (int i = 0; i < 20; ++i) {
            const std::string result = DescrambleToken(input);
            EXPECT_TRUE(IsRandomNumberText(result)) << result;
            results.insert(result);
        }
        EXPECT_GT(results.size(), 1u) << "an invalid token must not give the same text every time";
    }
}

TEST(PackToken, CountsBeyondTheBlockGiveAnEmptyToken)
{
    // A valid check byte over a block whose P and Q leave no room: key 0, P = Q = 200.
    std::vector<uint8_t> block = {0, 200, 200, 'a', 'b', 0, 0};
    uint8_t sum = 0;
    for (size_t i = 0; i < block.size(); ++i)
        if (i != block.size() - 2)
            sum = static_cast<uint8_t>(sum + block[i]);
    block[block.size() - 2] = sum;
    std::string text;
    for (const uint8_t byte : block) {
        const char* hex = "0123456789ABCDEF";
        text += static_cast<char>(hex[byte >> 4] + 50);
        text += static_cast<char>(hex[byte & 15] + 50);
    }
    EXPECT_EQ(DescrambleToken(text), "");
}

TEST(PackToken, TokenFromPageText)
{
    std::mt19937 generator(99);
    const std::string scrambled = Scramble("T", generator);
    const struct {
        std::string text, token, rest;
    } cases[] = {
        {"x|" + scrambled + "|a|b|body", std::string("T", 2), "body"},
        {"|" + scrambled + "||||more|", std::string("T", 2), "|more|"},
        {"x|" + scrambled + "|a|b|", std::string("T", 2), ""},
    };
    for (const auto& c : cases) {
        const PageToken page = TokenFromText(c.text);
        EXPECT_EQ(page.token, c.token);
        EXPECT_EQ(page.rest, c.rest);
    }
    // The scrambled page form is unscrambled first.
    const PageToken page = TokenFromText(ScrambleText("x|" + scrambled + "|a|b|<B>News</B>", true, false));
    EXPECT_EQ(page.rest, "<B>News</B>");
    EXPECT_EQ(page.token, std::string("T", 2));
    // Without the fourth "|" there is no page, and without any "|" the token is a random number.
    EXPECT_EQ(TokenFromText("x|" + scrambled + "|a").rest, "");
    const PageToken none = TokenFromText("no bars at all");
    EXPECT_EQ(none.rest, "");
    EXPECT_TRUE(IsRandomNumberText(none.token));
}

TEST(PackToken, UpdateTokenOfDownloadedFiles)
{
    const fs::path dir = fs::temp_directory_path() / ("ulv_token_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string stub = FakeStubImage(512);
    const auto build = [&](const std::string& name, const std::string& token) {
        builder::ContainerPlan plan;
        plan.stubBytes = stub;
        plan.update.token = token;
        builder::WriteContainerFile(plan, dir / name);
        return (dir / name).string();
    };
    const TGFileInfo own(build("own.exe", "SECRET"));
    const std::string same = build("same.exe", "SECRET");
    const std::string other = build("other.exe", "OTHER");
    EXPECT_TRUE(UpdateTokenMatches(own, same, TokenKindSetup));
    EXPECT_FALSE(UpdateTokenMatches(own, other, TokenKindSetup));
    EXPECT_FALSE(UpdateTokenMatches(own, same, 1));

    std::mt19937 generator(3);
    std::ofstream(dir / "page.txt", std::ios::binary) << "0|" << Scramble("SECRET", generator) << "|x|y|Hello";
    std::ofstream(dir / "bad.txt", std::ios::binary) << "0|" << Scramble("OTHER", generator) << "|x|y|Hello";
    EXPECT_TRUE(UpdateTokenMatches(own, (dir / "page.txt").string(), TokenKindInformPage));
    EXPECT_FALSE(UpdateTokenMatches(own, (dir / "bad.txt").string(), TokenKindInformPage));
    EXPECT_FALSE(UpdateTokenMatches(own, (dir / "missing.txt").string(), TokenKindInformPage));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
