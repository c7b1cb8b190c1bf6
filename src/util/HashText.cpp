#include "util/HashText.h"

namespace {

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string HexDigits(const uint8_t* bytes, size_t count)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string PublishedSha256(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    if (text.empty())
        return std::string();
    if (text.size() != Sha256Bytes * 2)
        return "!";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!IsHexDigit(c))
            return "!";
        out += c >= 'A' && c <= 'F' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return out;
}

bool Sha256Accepts(std::string_view text, std::string_view actual)
{
    const std::string published = PublishedSha256(text);
    if (published.empty())
        return true;
    return published != "!" && published == actual;
}
