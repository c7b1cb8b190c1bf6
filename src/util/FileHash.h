#pragma once
// SHA-256 of a file through the system's own cryptography (CNG, "bcrypt.dll", bound on first use
// from the system folder). Where the library is missing, no hash can be computed, and a file with
// a published hash is then refused rather than trusted.
#include <string>

// The file's SHA-256 as 64 lower-case hexadecimal digits; empty when the file cannot be read or
// the system cannot hash.
std::string FileSha256(const std::string& path);
