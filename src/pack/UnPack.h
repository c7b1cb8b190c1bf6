#pragma once
// Unpacking the payload of a container, across its disk files, into a folder: per-disk checksum,
// record walk, streaming inflate, files appended in order, the next-disk prompt, and the
// payload-free agent copy. Runs on the user-interface thread and keeps dispatching its messages.
#include <cstdint>
#include <functional>
#include <string>

#include "pack/UnPackRules.h"

class BinFile;

// Progress: kind 0 resets (maximum, position, step), kind 1 steps once.
using ProgressFn = std::function<void(int kind, int64_t maximum, int64_t position, int64_t step)>;

// Unpacks `containerFile` (the first disk file) into `destFolder`. `checksumOk` tells whether
// every disk file read so far passed its checksum; `mainFile` receives the main file's
// descriptor item ("Engine.exe* /a"), empty when there is none or the unpacking failed. Leaves an
// agent copy named `agentExeName` beside the files when that is given. True when the whole
// payload was written; false when the unpacking stopped short or failed: a missing first disk
// file, a failed checksum, a damaged disk file (no container, a record beyond its data, more
// content than the container declares, a disk of another setup that the user would not
// replace), a cancelled disk prompt, a file that could not be written. Damage and the process's
// first failed write are shown in a message box here; a failed checksum is the caller's to tell.
// A record that does not inflate raises EZLibError.
bool UnpackPayload(const std::string& containerFile, const std::string& destFolder, const std::string& agentExeName,
                   bool& checksumOk, const ProgressFn& progress, const std::string& diskPrompt,
                   const std::string& diskCaption, const std::string& diskButtons, int charset, bool forcePrompt,
                   std::string& mainFile);

// Reads n bytes in pieces of at most 65536, dispatching waiting messages after each piece;
// stops at the first failed read. Returns the bytes read.
size_t ReadBlock(BinFile& file, char* buffer, size_t n);

// The detail text of a failed write of `dataSize` bytes to `fileName`.
std::string ExtractErrorDetails(const std::string& fileName, uint64_t dataSize);
