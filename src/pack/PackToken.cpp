#include "pack/PackToken.h"

#include <cstdint>
#include <vector>

#include "pack/PackX.h"
#include "util/BinFile.h"
#include "util/Utils.h"

namespace {

constexpr int kDigitShift = 50;  // each hexadecimal digit is stored raised by 50

std::vector<uint8_t> BlockOf(const std::string& scrambled)
{
    std::string digits = scrambled;
    for (char& c : digits)
        c = static_cast<char>(static_cast<unsigned char>(c) - kDigitShift);
    // An empty text still gives one byte; a last single digit forms a piece of its own.
    std::vector<uint8_t> block;
    size_t i = 0;
    do {
        block.push_back(static_cast<uint8_t>(HexToInt(digits.substr(i, 2))));
        i += 2;
    } while (i < digits.size());
    return block;
}

std::string ReadWholeFile(const std::string& fileName)
{
    BinFile file(fileName);
    const int64_t size = file.Size();
    if (size <= 0)
        return "";
    std::string text(static_cast<size_t>(size), '\0');
    return file.ReadAt(0, text.data(), text.size()) ? text : std::string();
}

}  // namespace

std::string DescrambleToken(const std::string& scrambled)
{
    const std::string invalid = RandomNumberText(0, 99998);
    std::vector<uint8_t> block = BlockOf(scrambled);
    const size_t n = block.size();
    if (n <= 4)
        return invalid;
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        if (i != n - 2)
            sum = static_cast<uint8_t>(sum + block[i]);
    if (sum != block[n - 2])
        return invalid;

    const uint8_t key = static_cast<uint8_t>(block[0] ^ block[n - 1]);
    for (size_t i = 1; i + 1 < n; ++i)
        block[i] ^= key;

    // n - P - Q - 4 bytes from position P + 4 (counted from 1): the token and the byte after it.
    const int64_t p = block[1];
    const int64_t q = block[2];
    const int64_t count = static_cast<int64_t>(n) - p - q - 4;
    std::string token;
    for (int64_t i = p + 3; i < p + 3 + count && i < static_cast<int64_t>(n); ++i)
        token += static_cast<char>(block[static_cast<size_t>(i)]);
    return token;
}

PageToken TokenFromText(const std::string& text)
{
    const std::string plain = ScrambleText(text, false, false);
    // Fields 0 to 3 end at the first four "|"; a missing separator empties that field and all
    // that follow.
    std::string fields[4];
    size_t from = 0;
    bool complete = true;
    for (std::string& field : fields) {
        const size_t bar = complete ? plain.find('|', from) : std::string::npos;
        if (bar == std::string::npos) {
            complete = false;
            continue;
        }
        field = plain.substr(from, bar - from);
        from = bar + 1;
    }
    PageToken result;
    result.token = DescrambleToken(fields[1]);
    result.rest = complete ? plain.substr(from) : "";
    return result;
}

bool DownloadTokensMatch(const TGFileInfo& own, const TGFileInfo& downloaded)
{
    return own.DownloadToken(true) == downloaded.DownloadToken(true);
}

bool UpdateTokenMatches(const TGFileInfo& own, const std::string& fileName, int kind)
{
    if (kind == TokenKindSetup)
        return TGFileInfo(fileName).UpdateToken(true) == own.UpdateToken(true);
    if (kind == TokenKindInformPage)
        return TokenFromText(ReadWholeFile(fileName)).token == own.UpdateToken(true);
    return false;
}

std::string ScrambleToken(const std::string& token, const std::function<uint32_t()>& random)
{
    const auto next = [&] { return static_cast<uint8_t>(random() & 0xFF); };
    uint8_t a = next();
    uint8_t b = next();
    if (a == b)
        b = static_cast<uint8_t>(a ^ 0x5A);  // a zero key would leave the token readable
    const uint8_t key = static_cast<uint8_t>(a ^ b);
    const uint8_t p = static_cast<uint8_t>(next() % 16);
    const uint8_t q = static_cast<uint8_t>(1 + next() % 16);

    std::vector<uint8_t> plain;  // P, Q, filler, token, NUL, filler
    plain.push_back(p);
    plain.push_back(q);
    for (int i = 0; i < p; ++i)
        plain.push_back(next());
    plain.insert(plain.end(), token.begin(), token.end());
    plain.push_back(0);
    for (int i = 1; i < q; ++i)
        plain.push_back(next());

    std::vector<uint8_t> block;
    block.push_back(a);
    for (const uint8_t c : plain)
        block.push_back(static_cast<uint8_t>(c ^ key));
    uint8_t sum = static_cast<uint8_t>(a + b);
    for (size_t i = 1; i < block.size(); ++i)
        sum = static_cast<uint8_t>(sum + block[i]);
    block.push_back(sum);
    block.push_back(b);

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t byte : block) {
        text += static_cast<char>(kHex[byte >> 4] + kDigitShift);
        text += static_cast<char>(kHex[byte & 0x0F] + kDigitShift);
    }
    return text;
}
