// The container checksum against a plain reading of its rule (every block to the end of the
// file, nothing skipped), on executables with and without EndOfData and on plain files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "pack/ContainerChecksum.h"
#include "pack/PackX.h"
#include "util/BinFile.h"

namespace {

namespace fs = std::filesystem;

// The rule as written: start, end, then 4096-byte blocks until a short one.
uint32_t ReferenceChecksum(const std::string& bytes, uint32_t trailerLength)
{
    if (bytes.size() > 52428800)
        return 1234;
    int64_t start = 0;
    int64_t end = static_cast<int64_t>(bytes.size());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const bool exe = bytes.size() >= 258 && bytes[0] == 'M' && bytes[1] == 'Z' && bytes[256] == 'P' && bytes[257] == 'E';
    if (exe && GetLE32(data + 252) != 0) {
        end = GetLE32(data + 252);
        start = 512;
    }
    int64_t r = end - trailerLength - start;
    uint32_t sum = 0;
    for (int64_t pos = start;; pos += 4096) {
        const int64_t got = std::max<int64_t>(0, std::min<int64_t>(4096, static_cast<int64_t>(bytes.size()) - pos));
        for (int64_t i = 0; i + 4 <= got; i += 4) {
            r -= 4;
            if (r > 4)
                sum += GetLE32(data + pos + i);
        }
        if (r > 4)
            sum += 1234;
        if (got < 4096)
            break;
    }
    return sum;
}

class ContainerChecksumTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("ulv_checksum_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string& bytes)
    {
        const fs::path p = dir_ / "file.bin";
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path dir_;
};

std::string RandomBytes(size_t n, std::mt19937& generator)
{
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

TEST_F(ContainerChecksumTest, MatchesTheRuleForEveryLayout)
{
    std::mt19937 generator(2026);
    const size_t sizes[] = {0, 3, 74, 80, 600, 4095, 4096, 4097, 8192 + 74, 8192 + 75, 100000, 200003};
    for (const size_t size : sizes) {
        for (int layout = 0; layout < 3; ++layout) {
            std::string bytes = RandomBytes(size, generator);
            if (layout > 0 && size >= 600) {
                bytes[0] = 'M', bytes[1] = 'Z', bytes[256] = 'P', bytes[257] = 'E';
                PutLE32(reinterpret_cast<uint8_t*>(&bytes[248]), 0);
                // layout 1: EndOfData 0; layout 2: EndOfData set, with a signature after it
                const uint32_t eod = layout == 2 ? static_cast<uint32_t>(size - size / 7) : 0;
                PutLE32(reinterpret_cast<uint8_t*>(&bytes[252]), eod);
            }
            EXPECT_EQ(ContainerChecksum(Write(bytes), 74), ReferenceChecksum(bytes, 74))
                << "size " << size << " layout " << layout;
        }
    }
}

TEST_F(ContainerChecksumTest, EndOfDataLeavesOutTheFirst512BytesAndTheTail)
{
    std::mt19937 generator(5);
    std::string bytes = RandomBytes(20000, generator);
    bytes[0] = 'M', bytes[1] = 'Z', bytes[256] = 'P', bytes[257] = 'E';
    PutLE32(reinterpret_cast<uint8_t*>(&bytes[252]), 16000);
    const uint32_t sum = ContainerChecksum(Write(bytes), 74);
    // Changing the head, the trailer or the certificate area after EndOfData changes nothing.
    for (const size_t at : {size_t{10}, size_t{248}, size_t{511}, size_t{16000 - 74}, size_t{16500}, size_t{19999}}) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x5A);
        EXPECT_EQ(ContainerChecksum(Write(changed), 74), sum) << at;
    }
    // The payload does count.
    std::string changed = bytes;
    changed[5000] = static_cast<char>(changed[5000] ^ 0x01);
    EXPECT_NE(ContainerChecksum(Write(changed), 74), sum);
}

TEST_F(ContainerChecksumTest, LargeFilesAndTheAcceptAnyValue)
{
    const fs::path big = dir_ / "big.bin";
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(52428800);
        out.put('x');  // 50 MB plus one byte
    }
    EXPECT_EQ(ContainerChecksum(big.string(), 74), 1234u);
    EXPECT_EQ(ContainerChecksum((dir_ / "missing").string(), 74), 0u);
    EXPECT_TRUE(ChecksumAccepted(5, 5));
    EXPECT_TRUE(ChecksumAccepted(1234, 77));
    EXPECT_TRUE(ChecksumAccepted(77, 1234));
    EXPECT_FALSE(ChecksumAccepted(77, 78));
}

}  // namespace
