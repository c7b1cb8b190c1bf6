#pragma once
// The text form of the SHA-256 values a publisher puts beside a download (the INFO file's hash
// keys, the web installer's download list): 64 hexadecimal digits. A publication that names a
// hash pins the exact file; one that names none is trusted on its token alone, as before.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t Sha256Bytes = 32;

// `bytes` as lower-case hexadecimal digits, two per byte.
std::string HexDigits(const uint8_t* bytes, size_t count);

// A published hash as the agent compares it: trimmed (codes 0 to 32), in lower case. Empty for an
// empty text (no hash published); "!" for a text that is not 64 hexadecimal digits, which no
// computed hash equals, so that a damaged key refuses the file instead of waving it through.
std::string PublishedSha256(std::string_view text);

// Whether a file whose computed hash is `actual` (lower-case digits, empty when it could not be
// computed) may be used under the published `text`: always when nothing is published, otherwise
// only when both are the same valid hash.
bool Sha256Accepts(std::string_view text, std::string_view actual);
