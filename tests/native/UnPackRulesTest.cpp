// The portable rules of unpacking: disk names, descriptors, the record walk over small hand-made
// byte streams, and the streaming inflate with its descriptor split.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "pack/PackX.h"
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

// A DOS date-time: date in the high 16 bits, time (seconds halved) in the low 16 bits.
constexpr uint32_t Dos(uint32_t year, uint32_t month, uint32_t day, uint32_t hours, uint32_t minutes, uint32_t seconds)
{
    return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hours << 11) | (minutes << 5) | (seconds / 2);
}

TEST(UnPackRules, Descriptors)
{
    const uint32_t date = Dos(2021, 6, 15, 10, 30, 20);
    const std::string dateText = std::to_string(date);
    const struct {
        std::string descriptor, name, main;
        uint32_t date;
    } cases[] = {
        {"|a.txt|0|", "a.txt", "", 0},
        {"|Engine.exe*|" + dateText + "|", "Engine.exe", "Engine.exe*", date},
        {"|Engine.exe* /a /b|" + dateText + "|", "Engine.exe", "Engine.exe* /a /b", date},
        {"|sub\\b.bin|x|", "sub\\b.bin", "", 0},
        {"|a.txt|", "a.txt", "", 0},
        {"|a.txt|99999999999|", "a.txt", "", 0},   // beyond 32 bits: no date
        {"|a.txt|-5|", "a.txt", "", 0},
        {"|a.txt|1234|", "a.txt", "", 0},          // day 0 of month 0: no real moment, no date
        {"|a.txt|" + dateText + "|*|", "a.txt", "|a.txt|" + dateText + "|*|", date},  // a "*" elsewhere names the whole descriptor
        // Not a "|" list: read with its first character as delimiter it would name 'nother.txt'
        // or 'ngine.exe'; it names no file and no main file.
        {"another.txta", "", "", 0},
        {"Engine.exe*", "", "", 0},
        {"", "", "", 0},
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
    callbacks.fileRecord = [&](int64_t start, int64_t length, bool) {
        w.bodies.emplace_back(start, length);
        return true;
    };
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

    // A length reaching into the trailer, a huge one, the most negative one, -1 (a one-byte body
    // after which the walk lands in the middle of the real one): damaged, never a wait.
    for (const int32_t bad : {3, 1000000, INT32_MIN, INT32_MAX, -1}) {
        const std::string broken = Le32(1) + "L" + Le32(3) + "|u|" + Le32(bad) + "zz";
        EXPECT_EQ(Walk(broken + trailer, static_cast<int64_t>(broken.size()), 2).result, RecordWalk::Damaged) << bad;
    }
    // A record is always read, even when no more than the trailer follows the header.
    EXPECT_EQ(Walk(trailer, 0, 2).result, RecordWalk::Damaged);

    // A file record's callback can stop the walk: the records after it are not visited.
    int visited = 0;
    RecordWalkCallbacks stopAtFirst;
    stopAtFirst.readAt = [&](int64_t at, uint8_t* buffer, size_t n) {
        std::memcpy(buffer, data.data() + at, n);
        return true;
    };
    stopAtFirst.fileRecord = [&](int64_t, int64_t, bool) { return ++visited < 1; };
    int64_t headerEnd = 0;
    EXPECT_EQ(WalkRecords(stopAtFirst, 0, static_cast<int64_t>(records.size()), static_cast<int64_t>(data.size()), 2,
                          headerEnd),
              RecordWalk::Stopped);
    EXPECT_EQ(visited, 1);
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

TEST(UnPackRules, DosDateTimes)
{
    const struct {
        uint32_t value;
        bool valid;
    } cases[] = {
        {Dos(2021, 6, 15, 10, 30, 20), true},
        {Dos(1980, 1, 1, 0, 0, 0), true},
        {Dos(2107, 12, 31, 23, 59, 58), true},
        {Dos(2024, 2, 29, 12, 0, 0), true},   // a leap year
        {Dos(2000, 2, 29, 12, 0, 0), true},   // divisible by 400
        {Dos(2023, 2, 29, 12, 0, 0), false},
        {Dos(2100, 2, 29, 12, 0, 0), false},  // divisible by 100 only
        {Dos(2021, 4, 31, 12, 0, 0), false},
        {Dos(2021, 13, 1, 12, 0, 0), false},
        {Dos(2021, 0, 1, 12, 0, 0), false},
        {Dos(2021, 6, 0, 12, 0, 0), false},
        {Dos(2021, 6, 1, 24, 0, 0), false},
        {Dos(2021, 6, 1, 12, 60, 0), false},
        {Dos(2021, 6, 1, 12, 0, 60), false},  // 30 two-second units
        {0, false},
        {0xFFFFFFFFu, false},
        {1234, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DosDateTimeValid(c.value), c.valid) << std::hex << c.value;
        EXPECT_EQ(ParseDescriptor("|a|" + std::to_string(c.value) + "|").dosDate, c.valid ? c.value : 0u);
    }
}

TEST(UnPackRules, DeclaredContentSizeNeedsATrailerThatHoldsIt)
{
    ContainerTrailer trailer;
    trailer.SpaceRequired[0] = 3006;
    const struct {
        uint32_t length;
        uint64_t declared;
    } cases[] = {{74, 3006}, {36, 3006}, {35, UINT64_MAX}, {24, UINT64_MAX}, {0, UINT64_MAX}};
    for (const auto& c : cases) {
        trailer.TrailerLength = c.length;
        EXPECT_EQ(DeclaredContentSize(trailer), c.declared) << c.length;
    }
    // Declared as nothing: no content at all may come.
    trailer.TrailerLength = 74;
    trailer.SpaceRequired[0] = 0;
    EXPECT_EQ(DeclaredContentSize(trailer), 0u);
}

// A record body fed in pieces of 4096 bytes, counting what was read.
struct LimitedRun {
    bool withinLimit = false;
    std::string descriptor;
    uint64_t received = 0;
    size_t read = 0;
    bool overflowed = false;
};

LimitedRun StreamWithLimit(const std::string& stored, bool packed, uint64_t limit)
{
    LimitedRun run;
    RecordBodySplitter splitter([&](const std::string& d) { run.descriptor = d; },
                                [&](const char*, size_t n) { run.received += n; }, limit);
    run.withinLimit = StreamRecordBody(
        [&](char* buffer, size_t n) {
            std::memcpy(buffer, stored.data() + run.read, n);
            run.read += n;
            return n;
        },
        static_cast<int64_t>(stored.size()), packed, splitter, 4096);
    run.overflowed = splitter.Overflowed();
    EXPECT_EQ(splitter.ContentSize(), run.received);
    return run;
}

TEST(UnPackRules, ContentBeyondTheLimitStopsTheRecord)
{
    // A bomb: 64 MiB of zeros in about 64 KB of deflate data. With a limit of 1 MiB, no more
    // than that reaches the file and the rest of the body is neither read nor inflated.
    const std::string body = std::string("|zeros.bin|0|") + '\0' + std::string(64u << 20, '\0');
    const std::string bomb = Deflate(body);
    ASSERT_LT(bomb.size(), 100000u);
    const LimitedRun stopped = StreamWithLimit(bomb, true, 1u << 20);
    EXPECT_FALSE(stopped.withinLimit);
    EXPECT_TRUE(stopped.overflowed);
    EXPECT_EQ(stopped.descriptor, "|zeros.bin|0|");
    EXPECT_EQ(stopped.received, 1u << 20);
    EXPECT_LE(stopped.read, 4096u);

    // The limit itself is allowed, one byte less is not; stored bodies are held to it as well.
    const std::string content(10000, 'c');
    const std::string plain = std::string("|c.txt|0|") + '\0' + content;
    for (const bool packed : {true, false}) {
        const std::string stored = packed ? Deflate(plain) : plain;
        const LimitedRun exact = StreamWithLimit(stored, packed, content.size());
        EXPECT_TRUE(exact.withinLimit) << packed;
        EXPECT_FALSE(exact.overflowed) << packed;
        EXPECT_EQ(exact.received, content.size()) << packed;
        const LimitedRun over = StreamWithLimit(stored, packed, content.size() - 1);
        EXPECT_FALSE(over.withinLimit) << packed;
        EXPECT_EQ(over.received, content.size() - 1) << packed;
        const LimitedRun none = StreamWithLimit(stored, packed, 0);
        EXPECT_FALSE(none.withinLimit) << packed;
        EXPECT_EQ(none.received, 0u) << packed;
        EXPECT_EQ(none.descriptor, "|c.txt|0|") << packed;
    }
    // A record without content fits any limit, 0 included.
    EXPECT_TRUE(StreamWithLimit(Deflate(std::string("|e.txt|0|") + '\0'), true, 0).withinLimit);
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

    // A short body without any NUL: no descriptor, nothing handed on, whatever the pieces.
    RecordBodySplitter noNul([&](const std::string&) { ++descriptors; }, [&](const char*, size_t n) { content += n; });
    noNul.Feed("|a.txt|0|", 9);
    noNul.Feed("content", 7);
    EXPECT_EQ(descriptors, 0);
    EXPECT_EQ(content, 0u);
    EXPECT_FALSE(noNul.HasDescriptor());
}

}  // namespace
