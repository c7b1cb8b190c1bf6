// The portable rules of unpacking: disk names, descriptors, the record walk over small hand-made
// byte streams, and the streaming inflate with its descriptor split.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "pack/UnPackRules.h"

namespace {

std::string Le32(int32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

std::string Deflate(const std::string& plain)
{
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
              static_cast<uLong>(plain.size()), 6);
    out.resize(size);
    return out;
}

TEST(UnPackRules, DiskNames)
{
    EXPECT_EQ(DiskBaseName("C:\\d\\setup.exe.001"), "C:\\d\\setup.exe");
    EXPECT_EQ(DiskBaseName("C:\\d\\setup.exe"), "C:\\d\\setup.exe");
    EXPECT_EQ(DiskBaseName("x.001.002"), "x.001.002");
    EXPECT_EQ(DiskFileName("C:\\d\\setup.exe", 2), "C:\\d\\setup.exe.002");
    EXPECT_EQ(DiskFileName("a", 12), "a.012");
}

TEST(UnPackRules, Descriptors)
{
    const struct {
        std::string descriptor, name, main;
        uint32_t date;
    } cases[] = {
        {"|a.txt|0|", "a.txt", "", 0},
        {"|Engine.exe*|1234|", "Engine.exe", "Engine.exe*", 1234},
        {"|Engine.exe* /a /b|7|", "Engine.exe", "Engine.exe* /a /b", 7},
        {"|sub\\b.bin|x|", "sub\\b.bin", "", 0},
        {"|a.txt|", "a.txt", "", 0},
        {"|a.txt|99999999999|", "a.txt", "", 0},   // beyond 32 bits: no date
        {"|a.txt|5|*|", "a.txt", "|a.txt|5|*|", 5},  // a "*" elsewhere names the whole descriptor
    };
    for (const auto& c : cases) {
        const FileDescriptor d = ParseDescriptor(c.descriptor);
        EXPECT_EQ(d.name, c.name) << c.descriptor;
        EXPECT_EQ(d.mainText, c.main) << c.descriptor;
        EXPECT_EQ(d.dosDate, c.date) << c.descriptor;
    }
}

TEST(UnPackRules, AgentCopyOnlyForExecutables)
{
    EXPECT_TRUE(AgentCopyWanted("agent.exe", "C:\\x\\SETUP.EXE.001"));
    EXPECT_TRUE(AgentCopyWanted("agent.exe", "setup.Exe"));
    EXPECT_FALSE(AgentCopyWanted("agent.exe", "data.bin"));
    EXPECT_FALSE(AgentCopyWanted("", "setup.exe"));
    EXPECT_FALSE(AgentCopyWanted("C:\\dir\\", "setup.exe"));
    EXPECT_EQ(AgentFileName("C:\\dir\\agent.exe"), "agent.exe");
}

struct Walked {
    RecordWalk result;
    std::vector<std::pair<int64_t, int64_t>> bodies;
    int64_t headerEnd = 0;
};

Walked Walk(const std::string& data, int64_t recordsEnd, int headerCount)
{
    Walked w;
    RecordWalkCallbacks callbacks;
    callbacks.readAt = [&](int64_t at, uint8_t* buffer, size_t n) {
        if (at < 0 || at + static_cast<int64_t>(n) > static_cast<int64_t>(data.size()))
            return false;
        std::memcpy(buffer, data.data() + at, n);
        return true;
    };
    callbacks.fileRecord = [&](int64_t start, int64_t length, bool) { w.bodies.emplace_back(start, length); };
    w.result = WalkRecords(callbacks, 0, recordsEnd, static_cast<int64_t>(data.size()), headerCount, w.headerEnd);
    return w;
}

TEST(UnPackRules, RecordWalk)
{
    const std::string trailer(74, 'T');
    // Two header strings, then a stored and a packed record, then the trailer.
    const std::string records = Le32(1) + "L" + Le32(3) + "|u|" + Le32(-5) + "abcde" + Le32(2) + "zz";
    const std::string data = records + trailer;
    const Walked w = Walk(data, static_cast<int64_t>(records.size()), 2);
    EXPECT_EQ(w.result, RecordWalk::Done);
    EXPECT_EQ(w.headerEnd, 12);
    ASSERT_EQ(w.bodies.size(), 2u);
    EXPECT_EQ(w.bodies[0], std::make_pair(int64_t{16}, int64_t{5}));
    EXPECT_EQ(w.bodies[1], std::make_pair(int64_t{25}, int64_t{2}));

    // A length reaching into the trailer, a huge one, the most negative one: damaged, never a wait.
    for (const int32_t bad : {3, 1000000, INT32_MIN, INT32_MAX}) {
        const std::string broken = Le32(1) + "L" + Le32(3) + "|u|" + Le32(bad) + "zz";
        EXPECT_EQ(Walk(broken + trailer, static_cast<int64_t>(broken.size()), 2).result, RecordWalk::Damaged) << bad;
    }
    // A record is always read, even when no more than the trailer follows the header.
    EXPECT_EQ(Walk(trailer, 0, 2).result, RecordWalk::Damaged);
}

TEST(UnPackRules, StreamedBodiesSplitAtTheFirstNul)
{
    std::mt19937 generator(11);
    std::string content(300000, '\0');
    for (char& c : content)
        c = static_cast<char>(generator() % 7);  // NULs in the content stay content
    const std::string body = std::string("|big.bin|0|") + '\0' + content;
    for (const bool packed : {true, false}) {
        const std::string stored = packed ? Deflate(body) : body;
        std::string descriptor, received;
        RecordBodySplitter splitter([&](const std::string& d) { descriptor = d; },
                                    [&](const char* data, size_t n) { received.append(data, n); });
        size_t at = 0;
        StreamRecordBody(
            [&](char* buffer, size_t n) {
                std::memcpy(buffer, stored.data() + at, n);
                at += n;
                return n;
            },
            static_cast<int64_t>(stored.size()), packed, splitter, 4096);
        EXPECT_EQ(descriptor, "|big.bin|0|");
        EXPECT_TRUE(received == content);
        EXPECT_EQ(splitter.ContentSize(), content.size());
    }
}

TEST(UnPackRules, BadStreamsRaiseZlibErrors)
{
    std::string packed = Deflate(std::string("|a|0|") + '\0' + std::string(1000, 'x'));
    const auto run = [](const std::string& stored) {
        RecordBodySplitter splitter([](const std::string&) {}, [](const char*, size_t) {});
        size_t at = 0;
        StreamRecordBody(
            [&](char* buffer, size_t n) {
                std::memcpy(buffer, stored.data() + at, n);
                at += n;
                return n;
            },
            static_cast<int64_t>(stored.size()), true, splitter, 4096);
    };
    EXPECT_THROW(run(packed.substr(0, packed.size() / 2)), EZLibError);  // cut short
    std::string wrongHeader = packed;
    wrongHeader[0] = 0x00;
    try {
        run(wrongHeader);
        FAIL() << "no error";
    } catch (const EZLibError& e) {
        EXPECT_STREQ(e.what(), "incorrect header check");  // zlib's own text
    }
}

TEST(UnPackRules, NoDescriptorNoContent)
{
    int descriptors = 0;
    size_t content = 0;
    RecordBodySplitter splitter([&](const std::string&) { ++descriptors; },
                                [&](const char*, size_t n) { content += n; });
    splitter.Feed(std::string(RecordBodySplitter::MaxDescriptor + 10, 'a').data(), RecordBodySplitter::MaxDescriptor + 10);
    splitter.Feed("\0xyz", 4);
    EXPECT_EQ(descriptors, 0);
    EXPECT_EQ(content, 0u);
    EXPECT_FALSE(splitter.HasDescriptor());
}

}  // namespace
