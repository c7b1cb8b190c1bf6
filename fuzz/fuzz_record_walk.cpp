// The record walk of a disk file over arbitrary bytes, with the streaming inflate, the descriptor
// split, the descriptor parse and the name check: it must end (no wait for bytes that are not
// there), never read outside the data, and only EZLibError may leave it.
#include <cstdint>
#include <cstring>
#include <string>

#include "pack/RecordName.h"
#include "pack/UnPackRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int headerCount = data[0] % 4;
    // Half the inputs hold the records to a small declared content size.
    const uint64_t contentLimit = (data[0] & 0x80) != 0 ? 4096 : UINT64_MAX;
    const auto* bytes = data + 1;
    const int64_t length = static_cast<int64_t>(size - 1);

    RecordWalkCallbacks walk;
    walk.readAt = [&](int64_t at, uint8_t* buffer, size_t n) {
        if (at < 0 || at + static_cast<int64_t>(n) > length)
            return false;
        std::memcpy(buffer, bytes + at, n);
        return true;
    };
    walk.fileRecord = [&](int64_t bodyStart, int64_t bodyLength, bool packed) {
        if (bodyStart < 0 || bodyStart + bodyLength > length)
            __builtin_trap();  // the walk promised a body inside the data
        int64_t at = bodyStart;
        RecordBodySplitter splitter(
            [](const std::string& descriptor) {
                const FileDescriptor parsed = ParseDescriptor(descriptor);
                (void)RecordNameProblem(parsed.name);
            },
            [](const char*, size_t) {}, contentLimit);
        try {
            (void)StreamRecordBody(
                [&](char* buffer, size_t n) {
                    std::memcpy(buffer, bytes + at, n);
                    at += static_cast<int64_t>(n);
                    return n;
                },
                bodyLength, packed, splitter, 4096);
        } catch (const EZLibError&) {
        }
        return true;
    };
    int64_t headerEnd = 0;
    (void)WalkRecords(walk, 0, length, length, headerCount, headerEnd);
    return 0;
}
