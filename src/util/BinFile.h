#pragma once
// A read-only binary file with 64-bit positions, opened with all sharing allowed so that a
// running program can read its own executable. Portable (C runtime streams); move-only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class BinFile {
public:
    BinFile() = default;
    explicit BinFile(const std::string& path);
    ~BinFile();
    BinFile(BinFile&& other) noexcept;
    BinFile& operator=(BinFile&& other) noexcept;
    BinFile(const BinFile&) = delete;
    BinFile& operator=(const BinFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    // Size in bytes; -1 when the file is not open or cannot be measured.
    int64_t Size();
    // Moves to an absolute position; false when not open or the position is negative.
    bool Seek(int64_t position);
    // Reads up to n bytes at the current position; the count read (0 on failure).
    size_t Read(void* buffer, size_t n);
    // Reads exactly n bytes at `position`; false when fewer are there.
    bool ReadAt(int64_t position, void* buffer, size_t n);
    void Close();

private:
    std::FILE* file_ = nullptr;
};

// True when a file (not a folder) of that name can be opened for reading.
bool FileReadable(const std::string& path);

// Little-endian integers in a byte buffer, read byte by byte.
inline uint32_t GetLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void PutLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
