#include "pack/PackToken.h"

#include <cstdint>
#include <vector>

#include "util/Utils.h"

std::string DescrambleToken(const std::string& scrambled)
{
    const std::string invalid = RandomNumberText(0, 99998);

    // Each character holds one hexadecimal digit raised by 50; two digits make one byte.
    std::string digits = scrambled;
    for (char& c : digits)
        c = static_cast<char>(static_cast<unsigned char>(c) - 50);
    std::vector<uint8_t> block;
    for (size_t i = 0; i < digits.size() || i == 0; i += 2) {
        block.push_back(static_cast<uint8_t>(HexToInt(digits.substr(i, 2))));
        if (digits.empty())
            break;
    }

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

    // The token is n - P - Q - 4 bytes from position P + 4 (counted from 1), the byte after the
    // token region included; the builder keeps that byte fixed.
    const int64_t p = block[1];
    const int64_t q = block[2];
    const int64_t count = static_cast<int64_t>(n) - p - q - 4;
    if (count <= 0)
        return "";
    const int64_t from = p + 3;  // 0-based start
    std::string token;
    for (int64_t i = from; i < from + count && i < static_cast<int64_t>(n); ++i)
        token += static_cast<char>(block[static_cast<size_t>(i)]);
    return token;
}
