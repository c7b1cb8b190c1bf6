#pragma once
// The SHA-256 of a file the builder publishes or pins, by the platform's own cryptography
// (OpenSSL's libcrypto on Linux, CNG on Windows): the agent and the web installer compute the same
// digest of what they download and refuse a file whose digest differs.
#include <filesystem>
#include <string>

namespace builder {

// 64 lower-case hexadecimal digits. Throws BuildError when the file cannot be read.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace builder
