// The builder's container writer: the bytes it appends to the stub, and what it refuses.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "builder/CodePage.h"
#include "builder/ContainerBuilder.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "pack/RecordName.h"
#include "util/USUB.h"

namespace {

namespace fs = std::filesystem;
using namespace builder;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        path_ = fs::temp_directory_path() /
                ("ulvbuild_test_" + std::to_string(random()) + "_" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An image that passes the stub's executable test, with recognisable bytes elsewhere.
std::string MakeStub(size_t size = 1024, bool executable = true)
{
    std::string stub(size, '\0');
    for (size_t i = 0; i < size; ++i)
        if (i < 240 || i >= 264)
            stub[i] = static_cast<char>('a' + i % 26);
    if (executable) {
        stub[0] = 'M';
        stub[1] = 'Z';
        stub[256] = 'P';
        stub[257] = 'E';
    }
    return stub;
}

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::mt19937 gen(seed);
    for (auto& c : bytes)
        c = static_cast<char>(gen() % 7 == 0 ? gen() & 0xFF : 'x');
    return bytes;
}

std::string Inflate(const std::string& packed)
{
    uLongf size = static_cast<uLongf>(packed.size() * 4 + 1024);
    for (;;) {
        std::string out(size, '\0');
        uLongf produced = size;
        const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &produced,
                                  reinterpret_cast<const Bytef*>(packed.data()),
                                  static_cast<uLong>(packed.size()));
        if (rc == Z_OK) {
            out.resize(produced);
            return out;
        }
        if (rc != Z_BUF_ERROR) {
            ADD_FAILURE() << "record does not inflate: " << zError(rc);
            return {};
        }
        size *= 2;
    }
}

struct Record {
    int32_t length = 0;
    std::string body;  // inflated when the length is positive
};

// The container as the stub reads it: trailer located through the end-of-data field.
struct Parsed {
    std::string trailer;
    std::vector<std::string> headers;
    std::vector<Record> records;
    uint64_t endOfData = 0;
};

uint32_t U32(const std::string& bytes, size_t offset)
{
    return GetU32LE(bytes, offset);
}

Parsed Parse(const std::string& file, size_t headerStrings)
{
    Parsed p;
    p.endOfData = (uint64_t{U32(file, 248)} << 32) | U32(file, 252);
    const size_t end = p.endOfData ? static_cast<size_t>(p.endOfData) : file.size();
    EXPECT_GE(end, kTrailerLength);
    EXPECT_LE(end, file.size());
    const size_t trailerStart = end - kTrailerLength;
    p.trailer = file.substr(trailerStart, kTrailerLength);
    size_t pos = U32(p.trailer, 4);
    for (size_t i = 0; i < headerStrings; ++i) {
        const uint32_t count = U32(file, pos);
        p.headers.push_back(file.substr(pos + 4, count));
        pos += 4 + count;
    }
    while (pos < trailerStart) {
        Record r;
        r.length = static_cast<int32_t>(U32(file, pos));
        const size_t size = r.length < 0 ? size_t(-int64_t{r.length}) : size_t(r.length);
        const std::string body = file.substr(pos + 4, size);
        r.body = r.length > 0 ? Inflate(body) : body;
        p.records.push_back(r);
        pos += 4 + size;
    }
    EXPECT_EQ(pos, trailerStart) << "records must end where the trailer starts";
    return p;
}

std::string Body(const std::string& descriptor, const std::string& content)
{
    return descriptor + std::string(1, '\0') + content;
}

// A plan over files in a temp folder: Engine.exe (small) and data\blob.bin (5000 bytes).
struct Fixture {
    TempDir dir;
    ContainerPlan plan;
    Fixture()
    {
        WriteFile(dir / "in/Engine.exe", "engine bytes");
        WriteFile(dir / "in/data/blob.bin", Pattern(5000, 1));
        plan.stubBytes = MakeStub();
        plan.files = CollectFolder(dir / "in");
        plan.dates = false;
    }
};

// --- trailer ----------------------------------------------------------------------------------

TEST(Builder, TrailerHoldsEveryFieldAtItsOffset)
{
    Fixture f;
    f.plan.flags = {true, true, true, true, true};
    f.plan.roles = {true, true, true, true};
    f.plan.checksum = 0xA1B2C3D4;
    BuildSummary summary;
    const std::string out = BuildContainer(f.plan, &summary);
    const Parsed p = Parse(out, 2);
    const std::string& t = p.trailer;

    EXPECT_EQ(t[0], '\x01');
    EXPECT_EQ(t[1], '\x02');
    EXPECT_EQ(t.substr(2, 2), std::string(2, '\0'));
    EXPECT_EQ(U32(t, 4), 1024u);  // the stub's size
    EXPECT_EQ(U32(t, 8), 2u);
    EXPECT_EQ(t.substr(12, 4), "\x1D\x2C\x3B\x4A");
    EXPECT_EQ(t.substr(16, 4), "\xD4\xC3\xB2\xA1");
    EXPECT_EQ(t.substr(20, 8), std::string(8, '\0'));
    EXPECT_EQ(t[64], '\0');
    EXPECT_EQ(static_cast<unsigned char>(t[65]), 0x1Fu);
    EXPECT_EQ(t.substr(66, 4), std::string(4, '\x01'));
    EXPECT_EQ(U32(t, 70), 74u);
    EXPECT_EQ(summary.fileRecords, 2u);
    EXPECT_EQ(summary.headerOffset, 1024u);
}

TEST(Builder, EachFlagAndRoleSetsOnlyItsOwnBit)
{
    struct Case {
        const char* what;
        std::function<void(ContainerPlan&)> set;
        size_t offset;
        unsigned value;
    };
    const Case cases[] = {
        {"showTempDriveInfo", [](ContainerPlan& s) { s.flags.showTempDriveInfo = true; }, 65, 0x01},
        {"nextDiskFollows", [](ContainerPlan& s) { s.flags.nextDiskFollows = true; }, 65, 0x02},
        {"spanCopyToTemp", [](ContainerPlan& s) { s.flags.spanCopyToTemp = true; }, 65, 0x04},
        {"showExtractProgress", [](ContainerPlan& s) { s.flags.showExtractProgress = true; }, 65, 0x08},
        {"agentLogFile", [](ContainerPlan& s) { s.flags.agentLogFile = true; }, 65, 0x10},
        {"internetSetup", [](ContainerPlan& s) { s.roles.internetSetup = true; }, 66, 1},
        {"confirmDownload", [](ContainerPlan& s) { s.roles.confirmDownload = true; }, 67, 1},
        {"installAgent", [](ContainerPlan& s) { s.roles.installAgent = true; }, 68, 1},
        {"autoUpdateAgent", [](ContainerPlan& s) { s.roles.autoUpdateAgent = true; }, 69, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ContainerPlan plan;
        plan.stubBytes = MakeStub();
        c.set(plan);
        const std::string t = Parse(BuildContainer(plan), 2).trailer;
        for (size_t offset = 65; offset <= 69; ++offset)
            EXPECT_EQ(static_cast<unsigned char>(t[offset]), offset == c.offset ? c.value : 0u)
                << "offset " << offset;
    }
}

TEST(Builder, ChecksumIsComputedUnlessGivenAndHeaderCountCanBeOverridden)
{
    ContainerPlan plan;
    plan.stubBytes = MakeStub();
    plan.download = DownloadInfo{"http://host/dl/", "setup.exe", true, "", "123", ""};
    const std::string first = BuildContainer(plan);
    std::string t = Parse(first, 3).trailer;
    EXPECT_NE(U32(t, 16), 1234u);
    EXPECT_EQ(t[1], '\x03');
    plan.checksum = 77;
    EXPECT_EQ(U32(Parse(BuildContainer(plan), 3).trailer, 16), 77u);
    plan.checksum.reset();

    plan.headerCountByte = 0;
    const std::string out = BuildContainer(plan);
    const Parsed p = Parse(out, 3);  // the three strings are still written
    EXPECT_EQ(p.trailer[1], '\0');
    EXPECT_EQ(p.headers[2], "|http://host/dl/|setup.exe|1||123|");
    EXPECT_TRUE(p.records.empty());
}

TEST(Builder, TokensAreStoredScrambled)
{
    ContainerPlan plan;
    plan.stubBytes = MakeStub();
    plan.update.token = "T0k";
    plan.download = DownloadInfo{"http://host/dl/", "setup.exe", false, "D0k", "", ""};
    const Parsed p = Parse(BuildContainer(plan), 3);
    const std::string update = SUB::Item(p.headers[1], 3, "");
    const std::string download = SUB::Item(p.headers[2], 3, "");
    EXPECT_NE(update, "T0k");
    EXPECT_EQ(DescrambleToken(update), std::string("T0k", 4));
    EXPECT_EQ(DescrambleToken(download), std::string("D0k", 4));
    // Another build of the same product stores another text for the same token.
    EXPECT_NE(SUB::Item(Parse(BuildContainer(plan), 3).headers[1], 3, ""), update);
}

TEST(Builder, SpaceRequiredRoundsEachFileToEveryClusterSize)
{
    // 0 takes no cluster, 1 and 512 one each, 513 two of 512 bytes.
    const std::array<uint32_t, 9> expected = {1026,  2048,  3072,  6144,  12288,
                                              24576, 49152, 98304, 196608};
    EXPECT_EQ(ComputeSpaceRequired({0, 1, 512, 513}), expected);

    TempDir dir;
    ContainerPlan plan;
    plan.stubBytes = MakeStub();
    const size_t sizes[] = {0, 1, 512, 513};
    for (size_t i = 0; i < 4; ++i) {
        WriteFile(dir / ("f" + std::to_string(i)), std::string(sizes[i], 'z'));
        plan.files.push_back({dir / ("f" + std::to_string(i)), "f" + std::to_string(i)});
    }
    plan.chunkSize = 100;  // records are pieces; the space counts whole files
    const std::string t = Parse(BuildContainer(plan), 2).trailer;
    for (size_t k = 0; k < 9; ++k)
        EXPECT_EQ(U32(t, 28 + 4 * k), expected[k]) << "entry " << k;
}

TEST(Builder, SpaceRequiredOver32BitsIsRefused)
{
    const std::vector<std::vector<uint64_t>> cases = {
        {0x80000000u, 0x80000000u},  // the plain sum
        {0xFFFFFFFFu},               // fits, but not once rounded to 512 bytes
        {0xFFFF0000u, 1},            // fits up to 32768-byte clusters, not at 65536
    };
    for (const auto& sizes : cases)
        EXPECT_THROW(ComputeSpaceRequired(sizes), BuildError);
    EXPECT_EQ(ComputeSpaceRequired({0xFFFF0000u})[8], 0xFFFF0000u);
}

// --- end of data ------------------------------------------------------------------------------

TEST(Builder, EndOfDataPointsPastTheTrailerEvenWithBytesAfterIt)
{
    struct Case {
        bool write;
        uint64_t trailing;
    };
    for (const Case c : {Case{true, 0}, Case{true, 1000}, Case{false, 0}}) {
        SCOPED_TRACE("write " + std::to_string(c.write) + " trailing " + std::to_string(c.trailing));
        Fixture f;
        f.plan.writeEndOfData = c.write;
        f.plan.trailingBytes = c.trailing;
        BuildSummary summary;
        const std::string out = BuildContainer(f.plan, &summary);
        const uint64_t expectedEnd = c.write ? out.size() - c.trailing : 0;
        EXPECT_EQ(U32(out, 248), 0u);
        EXPECT_EQ(U32(out, 252), expectedEnd);
        EXPECT_EQ(summary.endOfData, expectedEnd);
        // The trailer ends at the data's end: its length field is the last word there.
        const size_t end = c.write ? static_cast<size_t>(expectedEnd) : out.size();
        EXPECT_EQ(U32(out, end - 4), 74u);
        EXPECT_EQ(out.substr(end - 74 + 12, 4), "\x1D\x2C\x3B\x4A");
        EXPECT_EQ(Parse(out, 2).records.size(), 2u);
        // The rest of the stub image is copied unchanged.
        const std::string stub = MakeStub();
        EXPECT_EQ(out.substr(0, 248), stub.substr(0, 248));
        EXPECT_EQ(out.substr(256, stub.size() - 256), stub.substr(256));
    }
}

TEST(Builder, NonExecutableStubKeepsItsBytesAndGetsNoEndOfData)
{
    ContainerPlan plan;
    std::string stub = MakeStub(600, false);
    for (size_t i = 248; i < 256; ++i)
        stub[i] = static_cast<char>(0x40 + i);
    plan.stubBytes = stub;
    BuildSummary summary;
    const std::string out = BuildContainer(plan, &summary);
    EXPECT_EQ(out.substr(0, 600), stub);
    EXPECT_EQ(summary.endOfData, 0u);
    EXPECT_EQ(U32(out, out.size() - 4), 74u);
    EXPECT_EQ(U32(out, out.size() - 74 + 4), 600u);
}

// --- header strings ---------------------------------------------------------------------------

TEST(Builder, HeaderStringsFollowTheStubWithTheirByteCounts)
{
    struct Case {
        const char* what;
        UpdateInfo update;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", {}, "||||||"},
        {"full", {"http://example.invalid/upd/", "Product.Setup.info", "Agent.exe", "", true},
         "|http://example.invalid/upd/|Product.Setup.info|Agent.exe||1|"},
        {"not hidden", {"u", "i", "a", "", false}, "|u|i|a|||"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ContainerPlan plan;
        plan.stubBytes = MakeStub(700);
        plan.update = c.update;
        const std::string out = BuildContainer(plan);
        // Right after the stub: the one-byte language table, then the update list.
        EXPECT_EQ(out.substr(700, 5), std::string("\x01\0\0\0\x02", 5));
        EXPECT_EQ(U32(out, 705), c.expected.size());
        EXPECT_EQ(out.substr(709, c.expected.size()), c.expected);
        EXPECT_EQ(709 + c.expected.size() + 74, out.size());
        EXPECT_EQ(Parse(out, 2).trailer[1], '\x02');
    }
}

TEST(Builder, LanguageEntriesUseAControlCharacterFoundInNoneOfTheirTexts)
{
    const std::vector<LanguageEntry> languages = {
        {"English", {{"s0", "My Setup"}, {"BtnText", "|&OK|&Cancel|"}}},
        {"German", {{"s0", "Setup\x01zwei"}}},
        {"French", {{"s0", "a\x01" "b\x03" "c"}, {"s1", "\x04"}}},
        {"Empty", {}},
    };
    const std::string table = BuildLanguageTable(languages);
    EXPECT_EQ(table, std::string("\x02") +
                         "\x01" "English\x01s0=My Setup\x01" "BtnText=|&OK|&Cancel|\x01" "\x02" +
                         "\x03" "German\x03s0=Setup\x01zwei\x03" "\x02" +
                         "\x05" "French\x05s0=a\x01" "b\x03" "c\x05s1=\x04\x05" "\x02" +
                         "\x01" "Empty\x01" "\x02");

    // The stub's list operations find every text again.
    ASSERT_EQ(SUB::Count(table), 4);
    const std::string english = SUB::Item(table, 0, "");
    EXPECT_EQ(SUB::Item(english, 0, ""), "English");
    EXPECT_EQ(SUB::Value(english, "btntext", "?", "!"), "|&OK|&Cancel|");
    EXPECT_EQ(SUB::Value(SUB::Item(table, 1, ""), "s0", "?", "!"), "Setup\x01zwei");
    EXPECT_EQ(SUB::Value(SUB::Item(table, 2, ""), "S1", "?", "!"), "\x04");

    EXPECT_EQ(BuildLanguageTable({}), "\x02");
}

TEST(Builder, LanguageTextsThatCannotBeDelimitedAreRefused)
{
    std::string everyControl;
    for (char c = 1; c < 32; ++c)
        if (c != '\x02')
            everyControl += c;
    const std::vector<std::vector<LanguageEntry>> cases = {
        {{"English", {{"s0", "a\x02" "b"}}}},  // the table's own delimiter
        {{"Eng\x02lish", {}}},
        {{"English", {{"s0", everyControl}}}},
    };
    for (const auto& languages : cases)
        EXPECT_THROW(BuildLanguageTable(languages), BuildError);
}

TEST(Builder, LanguageFileSectionsBecomeEntries)
{
    const std::string text =
        "\xEF\xBB\xBF; translations\r\n"
        "[ English ]\r\n"
        "s0 = My Setup\r\n"
        "BtnText=|&OK|&Cancel|\r\n"
        "\r\n"
        "# German follows\n"
        "[German]\n"
        "s4=\"  <T>  kept blanks \"\n"
        "Empty=\n"
        "s1=a=b";
    const auto entries = ParseLanguageText(text, "lang.ini");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "English");
    using Items = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(entries[0].items, (Items{{"s0", "My Setup"}, {"BtnText", "|&OK|&Cancel|"}}));
    EXPECT_EQ(entries[1].name, "German");
    EXPECT_EQ(entries[1].items, (Items{{"s4", "  <T>  kept blanks "}, {"Empty", ""}, {"s1", "a=b"}}));

    TempDir dir;
    WriteFile(dir / "lang.ini", text);
    ContainerPlan plan;
    plan.stubBytes = MakeStub();
    plan.languages = LoadLanguageFile(dir / "lang.ini");
    const Parsed p = Parse(BuildContainer(plan), 2);
    EXPECT_EQ(p.headers[0], BuildLanguageTable(entries));
}

TEST(Builder, MalformedLanguageFilesAreRefusedWithTheirLine)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"s0=x\n", "line 1: key=value before the first"},
        {"[English]\nno equals sign\n", "line 2: expected key=value"},
        {"[English\n", "line 1: section header without ']'"},
        {"[ ]\n", "line 1: empty language name"},
        {"[English]\n[english]\n", "line 2: language 'english' appears twice"},
        {"[English]\ns0=a\nS0=b\n", "line 3: key 'S0' appears twice"},
        {"[English]\n=value\n", "line 2: empty key"},
        {"[a=b]\n", "contains '='"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseLanguageText(c.text, "lang.ini");
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("lang.ini ") + "line"), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    TempDir dir;
    EXPECT_THROW(LoadLanguageFile(dir / "missing.ini"), BuildError);
}

// --- target code pages ----------------------------------------------------------------------

TEST(Builder, UtfEightNamesAndLanguagesGoInAsTheirTargetCodePages)
{
    TempDir dir;
    WriteFile(dir.path() / HostPath("in/café.txt"), "c");
    WriteFile(dir.path() / HostPath("in/Docs/Übersicht.pdf"), "u");
    WriteFile(dir / "lang.ini",
              "[German]\n"
              "s1=Dateien werden entpackt, bitte warten…\n"
              "[Russian]\n"
              "Charset=204\n"
              "s1=Распаковка файлов...\n"
              "[Hebrew]\n"
              "Charset = 177\n"
              "s1=\"חילוץ קבצים \"\n");
    ContainerPlan plan;
    plan.stubBytes = MakeStub();
    plan.dates = false;
    plan.files = EncodePayloadNames(CollectFolder(dir / "in"), 1252);
    plan.languages = EncodeLanguages(LoadLanguageFile(dir / "lang.ini"), "lang.ini");
    const Parsed p = Parse(BuildContainer(plan), 2);

    ASSERT_EQ(p.records.size(), 2u);
    EXPECT_EQ(p.records[0].body, Body("|Docs\\\xDC" "bersicht.pdf|0|", "u"));
    EXPECT_EQ(p.records[1].body, Body("|caf\xE9.txt|0|", "c"));
    const std::string& table = p.headers[0];
    ASSERT_EQ(SUB::Count(table), 3);
    EXPECT_EQ(SUB::Value(SUB::Item(table, 0, ""), "s1", "?", "!"), "Dateien werden entpackt, bitte warten\x85");
    EXPECT_EQ(SUB::Value(SUB::Item(table, 1, ""), "s1", "?", "!"),
              "\xD0\xE0\xF1\xEF\xE0\xEA\xEE\xE2\xEA\xE0 \xF4\xE0\xE9\xEB\xEE\xE2...");
    EXPECT_EQ(SUB::Value(SUB::Item(table, 2, ""), "s1", "?", "!"), "\xE7\xE9\xEC\xE5\xF5 \xF7\xE1\xF6\xE9\xED ");

    // Pure ASCII input gives the very bytes it gave before there were code pages.
    Fixture f;
    ContainerPlan converted = f.plan;
    converted.files = EncodePayloadNames(f.plan.files, 932);
    converted.languages = EncodeLanguages({{"English", {{"s0", "My Setup"}, {"Charset", "128"}}}}, "lang.ini");
    f.plan.languages = {{"English", {{"s0", "My Setup"}, {"Charset", "128"}}}};
    EXPECT_EQ(BuildContainer(converted), BuildContainer(f.plan));
}

TEST(Builder, LanguageTextsTheirCharsetCannotHoldAreRefusedNamingFileSectionAndKey)
{
    struct Case {
        std::vector<LanguageEntry> languages;
        const char* message;
    };
    const Case cases[] = {
        {{{"Russian", {{"s1", "Распаковка"}}}},
         "language file 'lang.ini' [Russian] key 's1' (Charset=0): the character 'Р' (U+0420) cannot be written in "
         "code page 1252"},
        {{{"German", {{"Charset", "204"}, {"s1", "Größe"}}}},
         "[German] key 's1' (Charset=204): the character 'ö' (U+00F6) cannot be written in code page 1251"},
        {{{"Symbols", {{"Charset", "2"}, {"s0", "Ünïcode"}}}},
         "[Symbols] key 's0': Charset=2 names no code page the builder knows, so only ASCII text can be written"},
        {{{"Greek", {{"Charset", "161"}, {"Error", "Sf\xE1lma"}}}},
         "[Greek] key 'Error' (Charset=161): the byte 0xE1 at offset 2 is not UTF-8 text"},
        {{{"Japanese", {{"Charset", "128"}, {"BtnText", "|OK|a－b|"}}}},
         "[Japanese] key 'BtnText' (Charset=128): the character '－' (U+FF0D) is written in code page 932 as 0x81 0x7C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            EncodeLanguages(c.languages, "lang.ini");
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // The same characters elsewhere in 932, or ASCII in a set without a code page, are fine.
    EXPECT_NO_THROW(EncodeLanguages({{"Japanese", {{"Charset", "128"}, {"s0", "a－b"}}},
                                     {"Symbols", {{"Charset", "2"}, {"s0", "plain"}}}},
                                    "lang.ini"));
}

TEST(Builder, PayloadNamesTheCodePageCannotHoldAreRefusedNamingTheFile)
{
    TempDir dir;
    WriteFile(dir.path() / HostPath("in/日本.txt"), "j");
    try {
        EncodePayloadNames(CollectFolder(dir / "in"), 1252);
        ADD_FAILURE() << "accepted";
    } catch (const BuildError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("payload file name '日本.txt'"), std::string::npos) << message;
        EXPECT_NE(message.find("日本.txt')"), std::string::npos) << message;  // and its path
        EXPECT_NE(message.find("'日' (U+65E5) cannot be written in code page 1252"), std::string::npos) << message;
    }
    EXPECT_EQ(EncodePayloadNames(CollectFolder(dir / "in"), 932)[0].name, "\x93\xFA\x96\x7B.txt");
    // The stub would cut "表.txt" into a folder "\x95" and a file ".txt".
    EXPECT_THROW(EncodePayloadNames({{dir / "x", "表.txt"}}, 932), BuildError);
}

// --- records ----------------------------------------------------------------------------------

TEST(Builder, RecordsCarryDescriptorNulAndContent)
{
    struct Case {
        const char* what;
        bool store;
        std::optional<std::string> main;
        std::string args;
        std::string engineDescriptor;
    };
    const Case cases[] = {
        {"deflated, no main", false, std::nullopt, "", "|Engine.exe|0|"},
        {"stored, main", true, "engine.EXE", "", "|Engine.exe*|0|"},
        {"deflated, main with arguments", false, "Engine.exe", " /a \"b c\"", "|Engine.exe* /a \"b c\"|0|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.plan.store = c.store;
        f.plan.mainFile = c.main;
        f.plan.mainArgs = c.args;
        const Parsed p = Parse(BuildContainer(f.plan), 2);
        ASSERT_EQ(p.records.size(), 2u);
        // Sorted by name: "Engine.exe" before "data\blob.bin".
        EXPECT_EQ(p.records[0].body, Body(c.engineDescriptor, "engine bytes"));
        EXPECT_EQ(p.records[1].body, Body("|data\\blob.bin|0|", Pattern(5000, 1)));
        for (const auto& r : p.records)
            EXPECT_EQ(r.length < 0, c.store) << r.length;
    }
}

TEST(Builder, DeflatedRecordsAreZlibStreamsAtTheChosenLevel)
{
    const std::string content = std::string(20000, 'q') + Pattern(3000, 9);
    for (const int level : {0, 1, 9}) {
        SCOPED_TRACE(level);
        const std::string record = EncodeRecord("|x|0|", content.data(), content.size(), false, level);
        const auto length = static_cast<int32_t>(U32(record, 0));
        ASSERT_EQ(static_cast<size_t>(length) + 4, record.size());
        EXPECT_EQ(static_cast<unsigned char>(record[4]), 0x78u);  // zlib header, 32K window
        EXPECT_EQ(Inflate(record.substr(4)), Body("|x|0|", content));
        if (level == 0)
            EXPECT_GT(record.size(), content.size());
        else
            EXPECT_LT(record.size(), content.size() / 2);
    }
    const std::string stored = EncodeRecord("|x|0|", content.data(), content.size(), true, 9);
    EXPECT_EQ(static_cast<int32_t>(U32(stored, 0)), -static_cast<int32_t>(content.size() + 6));
    EXPECT_EQ(stored.substr(4), Body("|x|0|", content));
}

TEST(Builder, LargeFilesAreSplitIntoRecordsOfTheSameName)
{
    struct Case {
        uint64_t chunk;
        size_t size;
        std::vector<size_t> pieces;
    };
    const Case cases[] = {
        {1000, 2500, {1000, 1000, 500}},
        {1000, 2000, {1000, 1000}},
        {1000, 999, {999}},
        {1000, 0, {0}},
        {0, 3000, {3000}},
    };
    for (const bool store : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE("store " + std::to_string(store) + " chunk " + std::to_string(c.chunk) +
                         " size " + std::to_string(c.size));
            TempDir dir;
            const std::string content = Pattern(c.size, 3);
            WriteFile(dir / "big.dat", content);
            WriteFile(dir / "z.txt", "last");
            ContainerPlan plan;
            plan.stubBytes = MakeStub();
            plan.files = {{dir / "big.dat", "sub\\big.dat"}, {dir / "z.txt", "z.txt"}};
            plan.mainFile = "sub/big.dat";
            plan.dates = false;
            plan.store = store;
            plan.chunkSize = c.chunk;
            const Parsed p = Parse(BuildContainer(plan), 2);
            ASSERT_EQ(p.records.size(), c.pieces.size() + 1);
            EXPECT_EQ(U32(p.trailer, 8), c.pieces.size() + 1);
            size_t offset = 0;
            for (size_t i = 0; i < c.pieces.size(); ++i) {
                EXPECT_EQ(p.records[i].body,
                          Body("|sub\\big.dat*|0|", content.substr(offset, c.pieces[i])));
                offset += c.pieces[i];
            }
            EXPECT_EQ(p.records.back().body, Body("|z.txt|0|", "last"));
        }
    }
}

TEST(Builder, DosDateTimePacksLocalTimeWithTheDateHigh)
{
    struct Case {
        int y, mo, d, h, mi, s;
        uint32_t expected;
    };
    const Case cases[] = {
        {1980, 1, 1, 0, 0, 0, 0x00210000u},
        {2021, 6, 15, 13, 45, 30, 1389325743u},  // (41<<9|6<<5|15)<<16 | (13<<11|45<<5|15)
        {2021, 6, 15, 13, 45, 31, 1389325743u},  // two-second resolution
        {2107, 12, 31, 23, 59, 58, 0xFF9FBF7Du},
        {1979, 12, 31, 23, 59, 59, 0},
        {2108, 1, 1, 0, 0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DosDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.expected) << c.y << "-" << c.mo;
}

TEST(Builder, FileRecordsCarryTheModificationTimeUnlessDatesAreOff)
{
    TempDir dir;
    WriteFile(dir / "a.txt", "A");
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 5;
    local.tm_mday = 15;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    ASSERT_NE(when, std::time_t(-1));
    fs::last_write_time(dir / "a.txt", std::chrono::file_clock::from_sys(
                                           std::chrono::system_clock::from_time_t(when)));
    EXPECT_EQ(FileDosDateTime(dir / "a.txt"), 1389325743u);
    EXPECT_EQ(FileDosDateTime(dir / "missing.txt"), 0u);

    for (const bool dates : {true, false}) {
        ContainerPlan plan;
        plan.stubBytes = MakeStub();
        plan.files = {{dir / "a.txt", "a.txt"}};
        plan.dates = dates;
        const Parsed p = Parse(BuildContainer(plan), 2);
        ASSERT_EQ(p.records.size(), 1u);
        EXPECT_EQ(p.records[0].body, Body(dates ? "|a.txt|1389325743|" : "|a.txt|0|", "A"));
    }
}

// --- files and names --------------------------------------------------------------------------

TEST(Builder, FolderFilesAreNamedByRelativePathInSortedOrder)
{
    TempDir dir;
    for (const char* name : {"b.txt", "A/z.txt", "A/B/c.bin", "a.txt", ".hidden"})
        WriteFile(dir / "in" / name, name);
    fs::create_directories(dir / "in/empty/folder");
    const auto files = CollectFolder(dir / "in");
    std::vector<std::string> names;
    for (const auto& file : files) {
        names.push_back(file.name);
        std::string expected = file.name;
        std::replace(expected.begin(), expected.end(), '\\', '/');
        EXPECT_EQ(ReadFile(file.source), expected);
    }
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "A\\B\\c.bin", "A\\z.txt", "a.txt", "b.txt"}));
    EXPECT_THROW(CollectFolder(dir / "nope"), BuildError);
    EXPECT_THROW(CollectFolder(dir / "in/a.txt"), BuildError);
}

TEST(Builder, NamesThatLeaveTheFolderOrAreInvalidOnWindowsAreRefused)
{
    const char* const bad[] = {
        "",           "\\abs.txt",   "/abs.txt",    "\\\\server\\share\\x", "C:\\x.txt",
        "C:x.txt",    "c:",          "..\\x",        "a\\..\\..\\x",         "a\\.\\x",
        ".",          "..",          "a\\\\b",       "a\\",                  "a/../b",
        "CON",        "con.txt",     "sub\\Nul.tar.gz", "AUX",               "prn.log",
        "COM1",       "com9.x",      "LPT1",         "lpt5.txt",             "COM\xB9",
        "CON .txt",   "a.",          "a ",           "x\\...",               "a<b",
        "a>b",        "a:b",         "a\"b",         "a|b",                  "a?b",
        "a*b",        "tab\there",   "nl\nx",        ("nul\x01" "x"),
        "\\\\?\\C:\\x",   "\\\\.\\CON",    "x::$DATA",     "x:$DATA",              "a. ",
        "a .",        "...",         "sub.\\x",     ".. \\x",              "CONOUT$",
    };
    for (const char* name : bad)
        EXPECT_NE(RecordNameProblem(name), "") << "'" << name << "'";
    const char* const good[] = {
        "Engine.exe", "sub\\data.bin", "a.b.c",     "console.txt", "COM10",     "LPT",
        "nul_file",   "CONX.txt",      ".hidden",   "..a",         "a..b",      " lead",
        "\xC4rger.txt", "deep\\er\\still\\x.y",
    };
    for (const char* name : good)
        EXPECT_EQ(RecordNameProblem(name), "") << "'" << name << "'";
    EXPECT_EQ(NormaliseName("a/b/c.txt"), "a\\b\\c.txt");
}

// --- refusals ---------------------------------------------------------------------------------

TEST(Builder, BadInputsAreRefusedNamingTheCulprit)
{
    struct Case {
        const char* what;
        std::function<void(ContainerPlan&, const TempDir&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"main missing", [](ContainerPlan& s, const TempDir&) { s.mainFile = "Setup.exe"; },
         "main file 'Setup.exe' is not among"},
        {"arguments without main", [](ContainerPlan& s, const TempDir&) { s.mainArgs = "/x"; },
         "arguments given without a main file"},
        {"bar in arguments",
         [](ContainerPlan& s, const TempDir&) {
             s.mainFile = "Engine.exe";
             s.mainArgs = "a|b";
         },
         "--main-args must not contain '|'"},
        {"bar in update url", [](ContainerPlan& s, const TempDir&) { s.update.url = "http://a|b"; },
         "--update-url must not contain '|': 'http://a|b'"},
        {"bar in info file", [](ContainerPlan& s, const TempDir&) { s.update.infoFile = "|"; },
         "--info-file"},
        {"bar in agent", [](ContainerPlan& s, const TempDir&) { s.update.agentExe = "a|"; },
         "--agent-exe"},
        {"bar in update token", [](ContainerPlan& s, const TempDir&) { s.update.token = "t|"; },
         "--update-token"},
        {"bar in download token",
         [](ContainerPlan& s, const TempDir&) { s.download = DownloadInfo{"u", "f", false, "|", "", ""}; },
         "--download-token"},
        {"bar in download file",
         [](ContainerPlan& s, const TempDir&) { s.download = DownloadInfo{"u", "f|", false, "", "", ""}; },
         "--download-file"},
        {"size not a number",
         [](ContainerPlan& s, const TempDir&) { s.download = DownloadInfo{"u", "f", false, "", "12a", ""}; },
         "--download-size must be a decimal byte count up to 2147483647: '12a'"},
        {"size beyond 32 bits",
         [](ContainerPlan& s, const TempDir&) {
             s.download = DownloadInfo{"u", "f", false, "", "2147483648", ""};
         },
         "--download-size"},
        {"negative size",
         [](ContainerPlan& s, const TempDir&) { s.download = DownloadInfo{"u", "f", false, "", "-1", ""}; },
         "--download-size"},
        {"short stub", [](ContainerPlan& s, const TempDir&) { s.stubBytes = MakeStub(257); },
         "the stub has 257 bytes"},
        {"stub file missing",
         [](ContainerPlan& s, const TempDir& d) {
             s.stubBytes.reset();
             s.stubPath = d / "nostub.exe";
         },
         "stub not found: '"},
        {"stub already built",
         [](ContainerPlan& s, const TempDir&) {
             std::string stub = MakeStub();
             stub[255] = '\x01';
             s.stubBytes = stub;
         },
         "end-of-data field (bytes 248-255) is not zero"},
        {"payload file missing",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "gone.txt", "gone.txt"}); },
         "payload file not found: '"},
        {"escaping name",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "in/Engine.exe", "..\\x"}); },
         "payload file name '..\\x' refused: the segment '..' would leave the setup folder"},
        {"device name",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "in/Engine.exe", "aux.dll"}); },
         "'aux.dll' refused: the segment 'aux.dll' is a Windows device name"},
        {"control character",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "in/Engine.exe", "a\x07" "b"}); },
         "'a\\x07b' refused"},
        {"forward slash left in a name",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "in/Engine.exe", "x/y"}); },
         "must use '\\' as separator"},
        {"same name twice",
         [](ContainerPlan& s, const TempDir& d) { s.files.push_back({d / "in/Engine.exe", "ENGINE.EXE"}); },
         "'ENGINE.EXE' appears twice"},
        {"level", [](ContainerPlan& s, const TempDir&) { s.level = 10; }, "level must be 0 to 9"},
        {"trailing bytes without end of data",
         [](ContainerPlan& s, const TempDir&) {
             s.writeEndOfData = false;
             s.trailingBytes = 10;
         },
         "trailing bytes need the end-of-data field"},
        {"trailing bytes on a plain stub",
         [](ContainerPlan& s, const TempDir&) {
             s.stubBytes = MakeStub(1024, false);
             s.trailingBytes = 10;
         },
         "only an executable stub"},
        {"language delimiter clash",
         [](ContainerPlan& s, const TempDir&) { s.languages = {{"English", {{"s0", "\x02"}}}}; },
         "language 'English': the character 0x02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        c.spoil(f.plan, f.dir);
        try {
            BuildContainer(f.plan);
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

// --- web installers ---------------------------------------------------------------------------

// The real setup a web installer downloads, carrying `token` in its own download list.
fs::path BuildRealSetup(Fixture& f, const std::string& token)
{
    ContainerPlan plan = f.plan;
    plan.mainFile = "Engine.exe";
    if (!token.empty())
        plan.download = DownloadInfo{"http://host/dl/", "", false, token, "", ""};
    const fs::path setup = f.dir / "srv/Real Setup.exe";
    fs::create_directories(setup.parent_path());
    WriteContainerFile(plan, setup);
    return setup;
}

TEST(Builder, WebInstallerTakesNameSizeAndTokenFromTheSetupUnlessGiven)
{
    struct Case {
        const char* what;
        std::function<void(DownloadRequest&)> give;
        const char* fileName;  // nullptr: the setup's base name
        const char* size;      // nullptr: the setup's size
        const char* token;
    };
    const Case cases[] = {
        {"all from the setup", [](DownloadRequest&) {}, nullptr, nullptr, "W3b-T0ken"},
        {"file name given", [](DownloadRequest& r) { r.fileName = "setup_v2.exe"; }, "setup_v2.exe", nullptr,
         "W3b-T0ken"},
        {"size given", [](DownloadRequest& r) { r.size = "123"; }, nullptr, "123", "W3b-T0ken"},
        {"token given", [](DownloadRequest& r) { r.token = "Other"; }, nullptr, nullptr, "Other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        const fs::path setup = BuildRealSetup(f, "W3b-T0ken");
        DownloadRequest request;
        request.url = "http://host/dl/";
        request.always = true;
        request.setup = setup;
        c.give(request);

        ContainerPlan plan = f.plan;
        plan.roles.internetSetup = true;
        plan.download = ResolveDownload(request);
        const fs::path installer = f.dir / "out/websetup.exe";
        fs::create_directories(installer.parent_path());
        WriteContainerFile(plan, installer);

        const TGFileInfo web(installer.string());
        const TGFileInfo real(setup.string());
        EXPECT_TRUE(web.InternetSetup());
        EXPECT_EQ(web.DownloadUrl(), "http://host/dl/");
        EXPECT_TRUE(web.AlwaysDownload());
        EXPECT_EQ(web.DownloadFileName(), c.fileName ? c.fileName : "Real Setup.exe");
        EXPECT_EQ(web.DownloadSize(), c.size ? c.size : std::to_string(fs::file_size(setup)));
        // Stored once more in clear and scrambled afresh: it reads back as the token and the one
        // NUL of every scramble, not two.
        EXPECT_EQ(web.DownloadToken(true), c.token + std::string(1, '\0'));
        EXPECT_EQ(DownloadTokensMatch(web, real), c.token == std::string("W3b-T0ken"));
        EXPECT_NE(web.DownloadToken(false), real.DownloadToken(false));
    }
}

TEST(Builder, WebInstallerRefusesASetupItCannotTakeTheTokenFrom)
{
    struct Case {
        const char* what;
        std::function<fs::path(Fixture&)> prepare;
        const char* message;
    };
    const Case cases[] = {
        {"missing file", [](Fixture& f) { return f.dir / "srv/gone.exe"; }, "download setup not found: '"},
        {"folder",
         [](Fixture& f) {
             fs::create_directories(f.dir / "srv/setup.exe");
             return f.dir / "srv/setup.exe";
         },
         "download setup not found: '"},
        {"setup without a download token", [](Fixture& f) { return BuildRealSetup(f, ""); },
         "carries no download token"},
        {"no setup at all",
         [](Fixture& f) {
             WriteFile(f.dir / "srv/readme.txt", "just text");
             return f.dir / "srv/readme.txt";
         },
         "carries no download token"},
        {"damaged token",
         [](Fixture& f) {
             const fs::path setup = BuildRealSetup(f, "W3b-T0ken");
             const std::string stored = TGFileInfo(setup.string()).DownloadToken(false);
             std::string bytes = ReadFile(setup);
             const size_t at = bytes.find(stored);
             // Another digit in the fourth byte (a "0" and a "1" are stored as "b" and "c"):
             // the scramble's checksum no longer holds.
             char& digit = bytes[at + 6];
             digit = digit == 'b' ? 'c' : 'b';
             WriteFile(setup, bytes);
             return setup;
         },
         "download token of download setup '"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        DownloadRequest request;
        request.url = "http://host/dl/";
        request.setup = c.prepare(f);
        try {
            ResolveDownload(request);
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }

    // With the token given, the file only has to exist: its name and size are all it gives.
    Fixture f;
    WriteFile(f.dir / "srv/plain.bin", "12345");
    DownloadRequest request;
    request.url = "http://host/dl/";
    request.token = "T";
    request.setup = f.dir / "srv/plain.bin";
    const DownloadInfo download = ResolveDownload(request);
    EXPECT_EQ(download.fileName, "plain.bin");
    EXPECT_EQ(download.size, "5");
    EXPECT_EQ(download.token, "T");
}

// --- the output file --------------------------------------------------------------------------

TEST(Builder, OutputFileMatchesTheBytesAndReplacesAnOldOne)
{
    Fixture f;
    WriteFile(f.dir / "stub.exe", MakeStub(2048));
    f.plan.stubBytes.reset();
    f.plan.stubPath = f.dir / "stub.exe";
    f.plan.mainFile = "Engine.exe";
    const fs::path out = f.dir / "out/setup.exe";
    fs::create_directories(out.parent_path());
    WriteFile(out, std::string(100000, 'o'));

    const BuildSummary summary = WriteContainerFile(f.plan, out);
    const std::string written = ReadFile(out);
    EXPECT_EQ(written, BuildContainer(f.plan));
    EXPECT_EQ(summary.outputSize, written.size());
    EXPECT_EQ(written.substr(0, 248), MakeStub(2048).substr(0, 248));
    EXPECT_EQ(U32(written, 252), written.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1);
}

TEST(Builder, RefusedOutputLeavesNothingBehind)
{
    struct Case {
        const char* what;
        std::function<fs::path(ContainerPlan&, const TempDir&)> prepare;
        const char* message;
    };
    const Case cases[] = {
        {"output is the stub",
         [](ContainerPlan& s, const TempDir& d) {
             WriteFile(d / "out/stub.exe", MakeStub());
             s.stubBytes.reset();
             s.stubPath = d / "out/stub.exe";
             return d / "out/stub.exe";
         },
         "is the stub itself"},
        {"output is a payload file",
         [](ContainerPlan& s, const TempDir& d) {
             WriteFile(d / "out/p.bin", "p");
             s.files.push_back({d / "out/p.bin", "p.bin"});
             return d / "out/p.bin";
         },
         "is one of the payload files"},
        {"output is a folder",
         [](ContainerPlan&, const TempDir& d) {
             fs::create_directories(d / "out/setup.exe");
             return d / "out/setup.exe";
         },
         "is a folder"},
        {"bad input found while writing",
         [](ContainerPlan& s, const TempDir& d) {
             s.files.push_back({d / "missing.bin", "missing.bin"});
             return d / "out/setup.exe";
         },
         "payload file not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        fs::create_directories(f.dir / "out");
        const fs::path out = c.prepare(f.plan, f.dir);
        std::vector<fs::path> before;
        for (const auto& e : fs::directory_iterator(f.dir / "out"))
            before.push_back(e.path());
        try {
            WriteContainerFile(f.plan, out);
            ADD_FAILURE() << "accepted";
        } catch (const BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        std::vector<fs::path> after;
        for (const auto& e : fs::directory_iterator(f.dir / "out"))
            after.push_back(e.path());
        EXPECT_EQ(after, before);
    }
}

}  // namespace
