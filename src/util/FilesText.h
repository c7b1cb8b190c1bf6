#pragma once
// The text rules behind the file helpers of Files.h: chunk sizes, file base names, the text given
// to the free-space query, the length of a partial read, the self-deletion batch text and the
// device name of a CD drive. No system calls here, so every rule builds and is tested anywhere.
#include <cstdint>
#include <string>

// Texts longer than this are written in chunks of WriteChunkSize bytes.
inline constexpr uint64_t ChunkedWriteThreshold = 1048576;

// The chunk size for writing a text of `length` bytes: about a tenth of it, at least 1024 bytes
// (or the whole text when shorter) and at most 1048576.
uint64_t WriteChunkSize(uint64_t length);

// The file name of `path` (after the last "\" or ":") without its last extension, or without
// every extension with `allExtensions`: 'a.tar.gz' gives 'a.tar', or 'a'.
std::string FileBaseName(const std::string& path, bool allExtensions);

// The text handed to the free-space query for `path`: "/" read as "\", empty for an empty path
// (the current drive), the upper-cased drive root "X:\" with `rootOnly` or for paths shorter than
// 3 characters, else the path cut before its first "\" from the fourth character on
// ('C:\Temp\SETUP_1' gives 'C:\Temp').
std::string FreeSpaceRoot(const std::string& path, bool rootOnly);

// How many bytes a partial read of a file of `size` bytes takes from `offset`, at most `maximum`
// of them (0: up to the end). 0 when there is nothing to read: a negative offset, an offset at or
// past the end, or a maximum below 0.
int64_t ReadPartLength(int64_t size, int64_t maximum, int64_t offset);

// The batch text that deletes `exe` once it can be deleted (looping until then), removes
// `folder` with `removeFolder` and finally deletes the batch file `batch` itself; every line ends
// with CR LF. `quote` ("\"" or empty for short 8.3 names) surrounds each path. A path that the
// command interpreter would split or misread without quotes is quoted even when `quote` is
// empty, and every "%" is doubled so that it stays a plain character in a batch file.
std::string SelfDeleteBatchText(const std::string& batch, const std::string& exe, const std::string& folder,
                                const std::string& quote, bool removeFolder);

// The device name "\\.\X:" of the drive of `path` (upper-cased letter); empty when `path` does not
// start with a drive letter A to Z.
std::string DriveDevicePath(const std::string& path);

// The trace line of an attempt of the CD eject to open its device: "EjectCD-" + step + ": " +
// device + " " + the handle value as an unsigned decimal number.
std::string EjectTraceLine(int step, const std::string& device, uint64_t handle);
