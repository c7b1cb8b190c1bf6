#pragma once
// The container checksum: a 32-bit word sum over a disk file that must match the trailer's
// Checksum field before the file's payload is unpacked. The value 1234 is special on both sides:
// stored, it accepts any file; computed, it is the answer for files over 50 MB, which are never
// compared.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr uint32_t ChecksumAcceptAny = 1234;
constexpr int64_t ChecksumSizeLimit = 52428800;  // 50 MB

// Reads up to n bytes at a position; returns the count read (fewer at the end of the data).
using ChecksumReader = std::function<size_t(int64_t position, uint8_t* buffer, size_t n)>;

// The word sum from `start` in blocks of 4096 bytes, for `counted` bytes (the end of the data
// minus the trailer minus `start`): words count while more than 4 counted bytes remain after
// them, and each full block read while that holds adds 1234.
uint32_t ChecksumOfRegion(const ChecksumReader& read, int64_t start, int64_t counted);

// The checksum of a container file whose trailer is `trailerLength` bytes long. An executable
// whose EndOfData low word is set is summed from offset 512 (leaving out the field itself) up to
// that end; any other file from 0 up to its size. 1234 for files over 50 MB; 0 for a file that
// cannot be opened.
uint32_t ContainerChecksum(const std::string& fileName, uint32_t trailerLength);

// A disk file passes when its checksum equals the stored one, or either is 1234.
bool ChecksumAccepted(uint32_t computed, uint32_t stored);
