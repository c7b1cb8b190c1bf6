#pragma once
// File-system helpers shared by the subsystems. File contents are 8-bit texts (any bytes, NUL
// included); sizes and positions are 64-bit; file dates are 32-bit DOS date-time stamps.
// No operation reports an error to the user: each gives false, -1 or an empty text instead.
#include <cstdint>
#include <string>

// Writes `text` to `path` (replacing the file, or at its end with `append`), in chunks for large
// texts; sets the file's date when it is not 0 and everything was written. True when every byte
// was written.
bool WriteTextFile(const std::string& path, const std::string& text, uint32_t dosDate, bool append);
// Creates the folder with every missing parent. True when it exists afterwards.
bool ForceDirectories(const std::string& folder);
// Deletes every file matching `mask` (folder and wildcard), clearing read-only and other
// attributes first when asked. True when at least one file matched.
bool DeleteFiles(const std::string& mask, bool clearAttributes);
// Deletes the folder with everything below it. True when it existed and is gone now; whatever
// resists removal stays.
bool DeleteFolderTree(const std::string& folder, bool clearAttributes);
// Leaves a hidden batch file ("_DEL_ME_.BAT" in the temporary folder) that deletes the running
// executable once its process has ended, optionally its folder too, and then itself. The caller
// ends its process right after.
void DeleteMySelf(bool removeFolder, bool shortNames);
// The batch text of DeleteMySelf for the given paths and quote.
std::string SelfDeleteBatchText(const std::string& batch, const std::string& exe, const std::string& folder,
                                const std::string& quote, bool removeFolder);
