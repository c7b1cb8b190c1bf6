#pragma once
// The stub reads every name and text as 8-bit text of the code page of the system it runs on.
// The builder takes its texts from the host as UTF-8 (on Linux file names, options and the
// language file are UTF-8 already; on Windows the wide forms are carried as UTF-8 until they are
// written) and writes them in the target code page chosen for the setup.
//
// Conversion is exact: a character goes in only when the code page maps it back to the same
// character, never through a "best fit" look-alike, and never as a sequence the code page would
// compose or decompose. Linux converts with the C library's iconv, Windows with
// WideCharToMultiByte (WC_NO_BEST_FIT_CHARS and the used-default check); both give the same
// bytes for the same text, since each character is converted and checked on its own.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace builder {

inline constexpr unsigned kDefaultCodePage = 1252;

// The code pages the builder writes: the Windows ANSI code pages 874, 932, 936, 949, 950 and
// 1250 to 1258, in increasing order.
const std::vector<unsigned>& SupportedCodePages();
bool IsSupportedCodePage(unsigned codePage);
// Whether characters of `codePage` take up to two bytes (932, 936, 949, 950).
bool IsDoubleByteCodePage(unsigned codePage);

// The ANSI code page that Windows uses for a font character set, as the "Charset" key of a
// language entry gives it (0 ANSI and 1 DEFAULT give 1252); 0 for a set without one.
unsigned CodePageOfCharset(int64_t charset);

// The code page of a language entry's "Charset" value read as the stub reads it: trimmed, a
// decimal number, 0 (and so 1252) when empty or not a number.
unsigned CodePageOfCharsetText(const std::string& value);

// `utf8` written in `codePage`. Throws BuildError, its text starting with `what`, when the text is
// not UTF-8, holds a C1 control character (U+0080 to U+009F, which the code pages treat
// differently on the two hosts), holds a character the code page cannot hold exactly, or holds a
// double-byte character whose second byte is one of `reserved` (the stub cuts names at "\" and
// lists at "|" byte by byte). Pure ASCII text comes back unchanged.
std::string ToCodePage(std::string_view utf8, unsigned codePage, const std::string& what,
                       std::string_view reserved = {});

// Whether `text` is UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); otherwise
// `badOffset` receives the offset of the first byte that is not.
bool IsUtf8(std::string_view text, size_t* badOffset = nullptr);

// A host path as UTF-8 text, and the host path of a UTF-8 text (identical bytes on Linux; on
// Windows the wide name).
std::string HostText(const std::filesystem::path& path);
std::filesystem::path HostPath(const std::string& utf8);

}  // namespace builder
