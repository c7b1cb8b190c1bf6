#pragma once
// File-system helpers shared by the subsystems. File contents are 8-bit texts (any bytes, NUL
// included); sizes and positions are 64-bit; file dates are 32-bit DOS date-time stamps (date in
// the high word, time in the low word, local time). No operation reports an error to the user:
// each gives false, -1 or an empty text instead. The text rules live in FilesText.h.
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/FilesText.h"

// Moves the file pointer of an open file by `distance` from `origin` (0 start, 1 current
// position, 2 end). The new position, or -1 when it cannot be moved there.
int64_t SeekFile(HANDLE file, int origin, int64_t distance);
// `path` names an existing file (not a folder).
bool FileExists(const std::string& path);
// `path` names an existing folder (a trailing backslash is allowed; an empty path is none).
bool FolderExists(const std::string& path);
// The size recorded in the directory entry of `path` (which also works for files that another
// program holds open exclusively); 0 when there is no such entry.
int64_t FileSizeByName(const std::string& path);
// The size of an open file; -1 when it cannot be read.
int64_t FileSizeByHandle(HANDLE file);
// The bytes of `path` from `offset` on, at most `maximum` of them (0: up to the end). Empty when
// the file is missing, nothing lies at the offset, or fewer bytes than expected could be read.
std::string ReadFilePart(const std::string& path, int64_t maximum, int64_t offset);

// Writes `text` to `path` (replacing the file, or at its end with `append`), in chunks for texts
// over 1048576 bytes; sets the file's date when it is not 0 and everything was written. True when
// every byte was written; false when the file cannot be opened, even for an empty text.
bool WriteTextFile(const std::string& path, const std::string& text, uint32_t dosDate, bool append);
// Writes `text` at the end of `path`, creating the file when it is missing; sets the file's date
// when it is not 0, whether or not the text was written. True when every byte was written.
bool AppendTextFile(const std::string& path, const std::string& text, uint32_t dosDate);

// The bytes available to the caller on the volume of `path`; -1 when it cannot be determined.
double DiskFreeBytes(const std::string& path);

// Creates the folder with every missing parent. True when it exists afterwards.
bool ForceDirectories(const std::string& folder);
// Sets an open file's last-write time from a DOS date-time (local time). False when refused.
bool SetFileDosDate(HANDLE file, uint32_t dosDate);
// The DOS date-time (local time) of a file's last write; 0 when it cannot be read.
uint32_t FileDosDate(const std::string& path);
// Deletes every file matching `mask` (folder and wildcard), clearing read-only and other
// attributes first when asked. True when at least one file matched.
bool DeleteFiles(const std::string& mask, bool clearAttributes);
// Deletes the folder with everything below it. True when it existed and is gone now; whatever
// resists removal stays. Directory links and junctions are removed as links, never followed, so
// nothing outside the folder is touched.
bool DeleteFolderTree(const std::string& folder, bool clearAttributes);
// Leaves a hidden batch file ("_DEL_ME_.BAT" in the temporary folder) that deletes the running
// executable once its process has ended, optionally its (then empty) folder too, and then itself.
// With `shortNames` the batch names every path by its 8.3 form. The caller ends its process right
// after.
void DeleteMySelf(bool removeFolder, bool shortNames);

// Asks the CD drive holding `path` to eject its medium. False for any other kind of drive, or
// when the request fails.
bool EjectCD(const std::string& path);
