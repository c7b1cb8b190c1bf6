#pragma once
// Tokens: texts the builder stores scrambled in the container header and in published pages.
// A downloaded file is trusted only when its token equals the running program's. Tokens are
// compared as exact byte strings.
#include <cstdint>
#include <functional>
#include <string>

class TGFileInfo;

// The token of a scrambled text; for an invalid input a random decimal number text (0..99998),
// so that an invalid token equals another one only by chance.
std::string DescrambleToken(const std::string& scrambled);

struct PageToken {
    std::string token;  // descrambled field 1
    std::string rest;   // everything after the fourth "|": the page itself
};
// The token and the page of a downloaded information page ("Scrambled=01" texts are unscrambled
// first): fields split at "|" from the left, field 1 the scrambled token.
PageToken TokenFromText(const std::string& text);

// The two containers' download tokens, descrambled, are equal.
bool DownloadTokensMatch(const TGFileInfo& own, const TGFileInfo& downloaded);

// Kinds of downloaded file whose token UpdateTokenMatches checks.
enum : int { TokenKindSetup = 2, TokenKindInformPage = 3 };
// The downloaded file's token equals the program's descrambled update token: for a setup (kind
// 2) the token of its container, for an information page (kind 3) the token of its text. False
// for any other kind.
bool UpdateTokenMatches(const TGFileInfo& own, const std::string& fileName, int kind);

// The scrambled form of `token` that DescrambleToken reads back as `token` followed by one NUL
// byte: the reader takes the byte after the token too, so the builder makes it a fixed NUL in
// every scramble, or two builds of one product would never match. The key and filler bytes come
// from `random` (its low 8 bits are used).
std::string ScrambleToken(const std::string& token, const std::function<uint32_t()>& random);
