#include "builder/CodePage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "builder/ContainerBuilder.h"
#include "util/Utils.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace builder {

namespace fs = std::filesystem;

namespace {

std::string CodePointText(char32_t c)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::string ByteText(unsigned char byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// One UTF-8 sequence at `pos`: its code point and length, or nothing when it is not UTF-8.
std::optional<std::pair<char32_t, size_t>> DecodeOne(std::string_view text, size_t pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80)
        return std::make_pair(char32_t{lead}, size_t{1});
    size_t length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        lowest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + length > text.size())
        return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    return std::make_pair(value, length);
}

// Converts single characters to one code page and back, on the host's own conversion service.
// Each character is converted alone, from a reset state, so that no converter composes or
// decomposes across characters: the result is the same on every host.
class CharacterEncoder {
public:
    explicit CharacterEncoder(unsigned codePage) : codePage_(codePage)
    {
#ifdef _WIN32
        if (!IsValidCodePage(codePage))
            throw BuildError("code page " + std::to_string(codePage) + " is not installed on this system");
#else
        const std::string name = "CP" + std::to_string(codePage);
        to_ = iconv_open(name.c_str(), "UTF-32LE");
        from_ = iconv_open("UTF-32LE", name.c_str());
        if (to_ == Invalid() || from_ == Invalid()) {
            Close();
            throw BuildError("the C library's iconv has no code page " + std::to_string(codePage));
        }
#endif
    }
    ~CharacterEncoder() { Close(); }
    CharacterEncoder(const CharacterEncoder&) = delete;
    CharacterEncoder& operator=(const CharacterEncoder&) = delete;

    // The bytes of `c`, or nothing when the code page cannot hold it exactly.
    std::optional<std::string> Encode(char32_t c)
    {
        const std::optional<std::string> bytes = Forward(c);
        if (!bytes || bytes->empty())
            return std::nullopt;
        if (bytes->size() > (IsDoubleByteCodePage(codePage_) ? 2u : 1u))
            return std::nullopt;
        if (Backward(*bytes) != std::optional<char32_t>(c))
            return std::nullopt;
        return bytes;
    }

private:
#ifdef _WIN32
    std::optional<std::string> Forward(char32_t c)
    {
        wchar_t wide[2];
        int units = 1;
        if (c < 0x10000) {
            wide[0] = static_cast<wchar_t>(c);
        } else {
            wide[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            units = 2;
        }
        char out[8];
        BOOL usedDefault = FALSE;
        const int length = WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide, units, out,
                                               static_cast<int>(sizeof out), nullptr, &usedDefault);
        if (length <= 0 || usedDefault)
            return std::nullopt;
        return std::string(out, static_cast<size_t>(length));
    }

    std::optional<char32_t> Backward(const std::string& bytes)
    {
        wchar_t wide[4];
        const int units = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(bytes.size()), wide, 4);
        if (units == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF))
            return static_cast<char32_t>(wide[0]);
        if (units == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF)
            return static_cast<char32_t>(0x10000 + ((wide[0] - 0xD800) << 10) + (wide[1] - 0xDC00));
        return std::nullopt;
    }

    void Close() {}
#else
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

    // Runs `cd` over `input` from its initial state and flushes what it holds back.
    static std::optional<std::string> Run(iconv_t cd, const std::string& input)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string in = input;
        char out[32];
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out;
        size_t outLeft = sizeof out;
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
            return std::nullopt;
        if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return std::nullopt;
        return std::string(out, static_cast<size_t>(outPtr - out));
    }

    std::optional<std::string> Forward(char32_t c)
    {
        std::string in(4, '\0');
        for (int i = 0; i < 4; ++i)
            in[static_cast<size_t>(i)] = static_cast<char>((c >> (8 * i)) & 0xFF);
        return Run(to_, in);
    }

    std::optional<char32_t> Backward(const std::string& bytes)
    {
        const std::optional<std::string> back = Run(from_, bytes);
        if (!back || back->size() != 4)
            return std::nullopt;
        char32_t value = 0;
        for (size_t i = 0; i < 4; ++i)
            value |= static_cast<char32_t>(static_cast<unsigned char>((*back)[i])) << (8 * i);
        return value;
    }

    void Close()
    {
        if (to_ != Invalid())
            iconv_close(to_);
        if (from_ != Invalid())
            iconv_close(from_);
        to_ = from_ = Invalid();
    }

    iconv_t to_ = Invalid();
    iconv_t from_ = Invalid();
#endif
    unsigned codePage_;
};

}  // namespace

const std::vector<unsigned>& SupportedCodePages()
{
    static const std::vector<unsigned> pages = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253,
                                                1254, 1255, 1256, 1257, 1258};
    return pages;
}

bool IsSupportedCodePage(unsigned codePage)
{
    const auto& pages = SupportedCodePages();
    return std::find(pages.begin(), pages.end(), codePage) != pages.end();
}

bool IsDoubleByteCodePage(unsigned codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

unsigned CodePageOfCharset(int64_t charset)
{
    switch (charset) {
    case 0:    // ANSI_CHARSET
    case 1:    // DEFAULT_CHARSET
        return 1252;
    case 238:  // EASTEUROPE_CHARSET
        return 1250;
    case 204:  // RUSSIAN_CHARSET
        return 1251;
    case 161:  // GREEK_CHARSET
        return 1253;
    case 162:  // TURKISH_CHARSET
        return 1254;
    case 177:  // HEBREW_CHARSET
        return 1255;
    case 178:  // ARABIC_CHARSET
        return 1256;
    case 186:  // BALTIC_CHARSET
        return 1257;
    case 163:  // VIETNAMESE_CHARSET
        return 1258;
    case 222:  // THAI_CHARSET
        return 874;
    case 128:  // SHIFTJIS_CHARSET
        return 932;
    case 134:  // GB2312_CHARSET
        return 936;
    case 129:  // HANGUL_CHARSET
        return 949;
    case 136:  // CHINESEBIG5_CHARSET
        return 950;
    default:
        return 0;
    }
}

unsigned CodePageOfCharsetText(const std::string& value)
{
    return CodePageOfCharset(StrToInt64Def(Trim(value), 0));
}

bool IsUtf8(std::string_view text, size_t* badOffset)
{
    for (size_t pos = 0; pos < text.size();) {
        const auto one = DecodeOne(text, pos);
        if (!one) {
            if (badOffset)
                *badOffset = pos;
            return false;
        }
        pos += one->second;
    }
    return true;
}

std::string ToCodePage(std::string_view utf8, unsigned codePage, const std::string& what,
                       std::string_view reserved)
{
    if (!IsSupportedCodePage(codePage))
        throw BuildError(what + ": code page " + std::to_string(codePage) + " is not one the builder writes");
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(utf8);
    std::optional<CharacterEncoder> encoder;
    std::string out;
    for (size_t pos = 0; pos < utf8.size();) {
        const auto one = DecodeOne(utf8, pos);
        if (!one)
            throw BuildError(what + ": the byte " + ByteText(static_cast<unsigned char>(utf8[pos])) +
                             " at offset " + std::to_string(pos) + " is not UTF-8 text");
        const auto [c, length] = *one;
        const std::string shown(utf8.substr(pos, length));
        pos += length;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c <= 0x9F)
            throw BuildError(what + ": the control character " + CodePointText(c) + " is not allowed");
        if (!encoder)
            encoder.emplace(codePage);
        const std::optional<std::string> bytes = encoder->Encode(c);
        if (!bytes)
            throw BuildError(what + ": the character '" + shown + "' (" + CodePointText(c) +
                             ") cannot be written in code page " + std::to_string(codePage));
        if (bytes->size() == 2 && reserved.find((*bytes)[1]) != std::string_view::npos)
            throw BuildError(what + ": the character '" + shown + "' (" + CodePointText(c) +
                             ") is written in code page " + std::to_string(codePage) + " as " +
                             ByteText(static_cast<unsigned char>((*bytes)[0])) + " " +
                             ByteText(static_cast<unsigned char>((*bytes)[1])) +
                             ", and the stub would take its second byte for '" + (*bytes)[1] + "'");
        out += *bytes;
    }
    return out;
}

std::string HostText(const fs::path& path)
{
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

fs::path HostPath(const std::string& utf8)
{
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8);
#endif
}

}  // namespace builder
