#include "pack/ContainerChecksum.h"

#include <vector>

#include "pack/PackX.h"
#include "util/BinFile.h"

uint32_t ChecksumOfRegion(const ChecksumReader& read, int64_t start, int64_t counted)
{
    constexpr size_t kBlock = 4096;
    std::vector<uint8_t> block(kBlock);
    int64_t remaining = counted;
    uint32_t sum = 0;
    for (int64_t position = start;; position += static_cast<int64_t>(kBlock)) {
        const size_t got = read(position, block.data(), kBlock);
        for (size_t i = 0; i + 4 <= got; i += 4) {
            remaining -= 4;
            if (remaining > 4)
                sum += GetLE32(&block[i]);
        }
        if (remaining > 4)
            sum += ChecksumAcceptAny;
        // Words stop counting well before the data ends, so nothing after that point can change
        // the sum: stop reading there instead of walking the rest of a large file.
        if (got < kBlock || remaining <= 4)
            break;
    }
    return sum;
}

uint32_t ContainerChecksum(const std::string& fileName, uint32_t trailerLength)
{
    BinFile file(fileName);
    const int64_t size = file.Size();
    if (size < 0)
        return 0;
    if (size > ChecksumSizeLimit)
        return ChecksumAcceptAny;
    int64_t start = 0;
    int64_t end = size;
    uint8_t low[4] = {};
    if (IsExeFile("", &file) && file.ReadAt(EndOfDataOffset + 4, low, 4) && GetLE32(low) != 0) {
        end = GetLE32(low);
        start = 512;
    }
    const ChecksumReader read = [&file](int64_t position, uint8_t* buffer, size_t n) -> size_t {
        return file.Seek(position) ? file.Read(buffer, n) : 0;
    };
    return ChecksumOfRegion(read, start, end - static_cast<int64_t>(trailerLength) - start);
}

bool ChecksumAccepted(uint32_t computed, uint32_t stored)
{
    return computed == stored || computed == ChecksumAcceptAny || stored == ChecksumAcceptAny;
}
