// The container reader against small files made here byte by byte: well-formed containers in
// their layouts, and the damaged ones it must treat like a file without a container.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "pack/PackX.h"
#include "util/BinFile.h"

namespace {

namespace fs = std::filesystem;

void PutU32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string U32(uint32_t v)
{
    std::string s(4, '\0');
    PutU32(s, 0, v);
    return s;
}

std::string HeaderString(const std::string& text)
{
    return U32(static_cast<uint32_t>(text.size())) + text;
}

// A fake executable image: "MZ" at 0, "PE" at 256, 512 bytes in all.
std::string ExeImage()
{
    std::string image(512, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[256] = 'P';
    image[257] = 'E';
    return image;
}

struct ContainerSpec {
    std::string image = ExeImage();
    std::string language = "\x02";
    std::string update = "|http://h/u/|Product.Setup.info|agent.exe|TOKEN|1|";
    std::string download;
    uint8_t headerCountByte = 2;
    std::string payload = "PAYLOAD";
    uint8_t flags = 0;
    uint8_t roles[4] = {0, 0, 0, 0};
    bool writeEndOfData = true;
    std::string afterEndOfData;
};

std::string MakeContainer(const ContainerSpec& layout)
{
    std::string file = layout.image;
    const uint32_t headerOffset = static_cast<uint32_t>(file.size());
    file += HeaderString(layout.language) + HeaderString(layout.update);
    if (!layout.download.empty())
        file += HeaderString(layout.download);
    file += layout.payload;
    std::string trailer(TrailerSize, '\0');
    trailer[0] = 1;
    trailer[1] = static_cast<char>(layout.headerCountByte);
    PutU32(trailer, 4, headerOffset);
    PutU32(trailer, 8, 3);
    PutU32(trailer, 12, ContainerMagic);
    PutU32(trailer, 16, 1234);
    for (uint32_t k = 0; k < 9; ++k)
        PutU32(trailer, 28 + 4 * k, 1000 + k);
    trailer[65] = static_cast<char>(layout.flags);
    for (int i = 0; i < 4; ++i)
        trailer[66 + i] = static_cast<char>(layout.roles[i]);
    PutU32(trailer, 70, TrailerSize);
    file += trailer;
    if (layout.writeEndOfData) {
        const uint64_t eod = file.size();
        PutU32(file, 248, static_cast<uint32_t>(eod >> 32));
        PutU32(file, 252, static_cast<uint32_t>(eod));
    }
    return file + layout.afterEndOfData;
}

class PackXTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("ulv_packx_" + std::to_string(std::random_device{}()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        ResetLanguageSelection();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        ResetLanguageSelection();
    }
    std::string Write(const std::string& bytes, const std::string& name = "setup.exe")
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path dir_;
};

TEST_F(PackXTest, FindsTheContainerInEveryLayout)
{
    ContainerSpec plain;
    ContainerSpec atEnd;
    atEnd.writeEndOfData = false;
    ContainerSpec signedFile;
    signedFile.afterEndOfData = std::string(700, '\x55');
    ContainerSpec notExe;  // EndOfData bytes are ignored outside executables, even when wrong
    notExe.image = std::string(512, 'x');
    notExe.afterEndOfData = "";
    for (const ContainerSpec* layout : {&plain, &atEnd, &signedFile, &notExe}) {
        std::string bytes = MakeContainer(*layout);
        if (layout == &notExe)
            PutU32(bytes, 252, 77);
        const TGFileInfo info(Write(bytes));
        EXPECT_TRUE(info.HasMagic());
        EXPECT_EQ(info.UpdateUrl(), "http://h/u/");
        EXPECT_EQ(info.AgentExeName(), "agent.exe");
        EXPECT_EQ(info.FilesCount(), 3u);
        EXPECT_EQ(info.Trailer().TrailerLength, TrailerSize);
        EXPECT_EQ(info.Trailer().Checksum, 1234u);
        // The payload starts right after the two header strings.
        EXPECT_EQ(info.HeaderOffset(), 512u + 4 + 1 + 4 + plain.update.size());
    }
}

TEST_F(PackXTest, HeaderStringsAndAccessors)
{
    ContainerSpec layout;
    layout.headerCountByte = 3;
    layout.download = "|http://d/|Setup.exe|1|DTOKEN|123456|";
    layout.flags = FlagShowTempDriveInfo | FlagSpanCopyToTemp | FlagAgentLogFile;
    layout.roles[1] = 1;  // ConfirmDownload
    layout.roles[3] = 7;  // ThisIs_AutoUpdateProg: any nonzero byte
    const TGFileInfo info(Write(MakeContainer(layout)));
    EXPECT_EQ(info.InfoFileName(), "Product.Setup.info");
    EXPECT_EQ(info.OriginalFileName(), "Product.original");
    EXPECT_EQ(info.UpdateToken(false), "TOKEN");
    EXPECT_TRUE(info.HiddenSetup());
    EXPECT_EQ(info.DownloadUrl(), "http://d/");
    EXPECT_EQ(info.DownloadFileName(), "Setup.exe");
    EXPECT_TRUE(info.AlwaysDownload());
    EXPECT_EQ(info.DownloadToken(false), "DTOKEN");
    EXPECT_EQ(info.DownloadSize(), "123456");
    EXPECT_TRUE(info.ShowTempDriveInfo());
    EXPECT_FALSE(info.NextDiskFollows());
    EXPECT_TRUE(info.SpanCopyToTemp());
    EXPECT_FALSE(info.ShowExtractProgress());
    EXPECT_TRUE(info.AgentLogFile());
    EXPECT_FALSE(info.InternetSetup());
    EXPECT_TRUE(info.ConfirmDownload());
    EXPECT_FALSE(info.InstallAgent());
    EXPECT_TRUE(info.ThisIs_AutoUpdateProg());
}

TEST_F(PackXTest, HeaderCountZeroOrTwoReadsTwoStrings)
{
    for (uint8_t count : {uint8_t{0}, uint8_t{2}}) {
        ContainerSpec layout;
        layout.headerCountByte = count;
        // A third string is present in the file, but only HeaderCount decides whether it is read.
        layout.download = "|http://d/|Setup.exe|1|T|9|";
        const TGFileInfo info(Write(MakeContainer(layout)));
        EXPECT_EQ(info.Trailer().HeaderCount, 2);
        EXPECT_TRUE(info.HasMagic());
        EXPECT_EQ(info.DownloadList(), "");
        EXPECT_EQ(info.DownloadUrl(), "");
        EXPECT_EQ(info.AgentExeName(), "agent.exe");
    }
}

TEST_F(PackXTest, InfoFileNameLosesItsFolder)
{
    const struct {
        std::string item1, info, original;
    } cases[] = {
        {"Product.Setup.info", "Product.Setup.info", "Product.original"},
        {"C:\\x\\App.info", "App.info", "App.original"},
        {"d:App.info", "App.info", "App.original"},
        {"noext", "noext", "noext.original"},
        {"", "", ".original"},
    };
    for (const auto& c : cases) {
        ContainerSpec layout;
        layout.update = "|u|" + c.item1 + "|a.exe|t||";
        const TGFileInfo info(Write(MakeContainer(layout)));
        EXPECT_EQ(info.InfoFileName(), c.info);
        EXPECT_EQ(info.OriginalFileName(), c.original);
    }
}

TEST_F(PackXTest, HiddenSetupOnlyForExactlyOne)
{
    for (const char* item : {"", "0", " 1", "yes", "1 "}) {
        ContainerSpec layout;
        layout.update = std::string("|u|i.info|a.exe|t|") + item + "|";
        EXPECT_FALSE(TGFileInfo(Write(MakeContainer(layout))).HiddenSetup()) << item;
    }
}

TEST_F(PackXTest, ShortTrailerOfAnOlderLayoutLeavesMissingFieldsZero)
{
    ContainerSpec layout;
    std::string bytes = MakeContainer(layout);
    // Cut the trailer to its first 20 bytes plus the length field.
    bytes.erase(bytes.size() - TrailerSize + 20);
    bytes += U32(24);
    PutU32(bytes, 248, 0);
    PutU32(bytes, 252, 0);
    const TGFileInfo info(Write(bytes));
    EXPECT_TRUE(info.HasMagic());
    EXPECT_EQ(info.Trailer().TrailerLength, 24u);
    EXPECT_EQ(info.Trailer().SpaceRequired[0], 0u);
    EXPECT_EQ(info.AgentExeName(), "agent.exe");
}

TEST_F(PackXTest, DamagedFilesReadLikeFilesWithoutContainer)
{
    ContainerSpec three;
    three.headerCountByte = 3;
    three.download = "|http://d/|Setup.exe|1|T|9|";
    const std::string good = MakeContainer(ContainerSpec{});
    const std::string goodThree = MakeContainer(three);
    const size_t trailer = good.size() - TrailerSize;
    const size_t updateCount = 512 + 4 + 1;  // the UpdateList's count, after the one-byte table
    const size_t downloadCount = updateCount + 4 + ContainerSpec{}.update.size();
    const auto with = [](std::string bytes, size_t at, uint32_t value) {
        PutU32(bytes, at, value);
        return bytes;
    };
    // EndOfData, high word at 248 and low word at 252.
    const auto endingAt = [&](uint64_t eod) {
        return with(with(good, 248, static_cast<uint32_t>(eod >> 32)), 252, static_cast<uint32_t>(eod));
    };
    const std::pair<std::string, std::string> damaged[] = {
        // short files
        {"empty", ""},
        {"three bytes", "MZx"},
        {"four bytes", U32(74)},
        {"73 bytes", std::string(69, '\0') + U32(74)},
        {"truncated", good.substr(0, good.size() - 30)},
        {"the image alone", ExeImage()},
        // trailer lengths
        {"length 0", with(good, good.size() - 4, 0)},
        {"length 4", with(good, good.size() - 4, 4)},
        {"length -1", with(good, good.size() - 4, 0xFFFFFFFF)},
        {"length INT32_MIN", with(good, good.size() - 4, 0x80000000)},
        {"length beyond the file", with(good, good.size() - 4, static_cast<uint32_t>(good.size() + 1))},
        {"length far beyond the file", with(good, good.size() - 4, 0x7FFFFFFF)},
        // EndOfData
        {"EndOfData beyond the file", endingAt(good.size() + 1)},
        {"EndOfData far beyond the file", endingAt(uint64_t{0x10} << 32)},
        {"EndOfData 3", endingAt(3)},
        {"EndOfData inside the image", endingAt(300)},
        {"EndOfData inside the headers", endingAt(updateCount + 6)},
        {"EndOfData at the payload", endingAt(trailer - 7)},
        // wrong magic
        {"wrong magic", with(good, trailer + 12, 0x4A3B2C1E)},
        // header string counts and their offset
        {"LanguageTable count beyond the file", with(good, 512, 0xFFFFFF00)},
        {"LanguageTable count into the trailer", with(good, 512, static_cast<uint32_t>(trailer - 512 - 3))},
        {"UpdateList count beyond the file", with(good, updateCount, 0xFFFFFFF0)},
        {"UpdateList count into the trailer", with(good, updateCount, static_cast<uint32_t>(trailer - updateCount - 3))},
        {"DownloadList count beyond the file", with(goodThree, downloadCount, 0x7FFFFFFF)},
        {"HeaderOffset beyond the file", with(good, trailer + 4, 0xFFFFFFF0)},
        {"HeaderOffset inside the trailer", with(good, trailer + 4, static_cast<uint32_t>(trailer + 10))},
    };
    for (const auto& [what, bytes] : damaged) {
        const TGFileInfo info(Write(bytes));
        EXPECT_FALSE(info.HasMagic()) << what;
        EXPECT_EQ(info.UpdateList(), "") << what;
        EXPECT_EQ(info.LanguageTable(), "") << what;
        EXPECT_EQ(info.DownloadList(), "") << what;
        EXPECT_EQ(info.AgentExeName(), "") << what;
        if (what != "wrong magic") {
            // Nothing of the located bytes is believed: every field is zero.
            EXPECT_EQ(EncodeTrailer(info.Trailer()), EncodeTrailer(ContainerTrailer{})) << what;
        }
    }
    // The same files undamaged are containers: each case above breaks what it says.
    EXPECT_TRUE(TGFileInfo(Write(good)).HasMagic());
    EXPECT_EQ(TGFileInfo(Write(goodThree)).DownloadFileName(), "Setup.exe");
}

TEST_F(PackXTest, WrongMagicKeepsTheTrailerButNoStrings)
{
    ContainerSpec layout;
    layout.flags = FlagNextDiskFollows;
    std::string bytes = MakeContainer(layout);
    PutU32(bytes, bytes.size() - TrailerSize + 12, 0x12345678);
    const TGFileInfo info(Write(bytes));
    EXPECT_FALSE(info.HasMagic());
    EXPECT_TRUE(info.NextDiskFollows());
    EXPECT_EQ(info.UpdateList(), "");
}

TEST_F(PackXTest, MissingFileGivesEmptyObject)
{
    const TGFileInfo info((dir_ / "nothing.exe").string());
    EXPECT_FALSE(info.HasMagic());
    EXPECT_EQ(info.Trailer().TrailerLength, 0u);
    EXPECT_EQ(info.LangString("s0", "default"), "default");
    EXPECT_EQ(SpaceRequiredForCluster(info.Trailer(), 4096), 0.0);
}

TEST_F(PackXTest, ExeTestAndEndOfData)
{
    std::string bytes = MakeContainer(ContainerSpec{});
    const std::string path = Write(bytes);
    EXPECT_TRUE(IsExeFile(path));
    BinFile file(path);
    EXPECT_EQ(ReadEndOfData(file), bytes.size());
    EXPECT_EQ(EndOfDataFromImage(bytes), bytes.size());
    EXPECT_EQ(EndOfDataFromImage("MZ"), 0u);
    PutU32(bytes, 248, 1);
    EXPECT_EQ(EndOfDataFromImage(bytes), (uint64_t{1} << 32) | bytes.size());
    EXPECT_FALSE(IsExeFile(Write(std::string(300, 'x'), "other.bin")));
    EXPECT_FALSE(IsExeFile((dir_ / "missing").string()));
}

TEST(PackX, SpaceRequiredPicksTheLargestClusterNotAboveTheVolumes)
{
    ContainerTrailer t;
    for (uint32_t k = 0; k < 9; ++k)
        t.SpaceRequired[k] = 1000 + k;
    t.SpaceRequired[8] = 0xFFFFFFF0u;  // unsigned, never sign-extended
    const struct {
        uint64_t cluster;
        double expected;
    } cases[] = {{0, 1000}, {256, 1000}, {511, 1000}, {512, 1001}, {4096, 1004}, {65536, 4294967280.0},
                 {131072, 4294967280.0}, {3000, 1003}};
    for (const auto& c : cases)
        EXPECT_EQ(SpaceRequiredForCluster(t, c.cluster), c.expected) << c.cluster;
}

TEST(PackX, TrailerEncodingRoundTrips)
{
    std::array<uint8_t, TrailerSize> raw{};
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<uint8_t>(i * 7 + 3);
    EXPECT_EQ(EncodeTrailer(DecodeTrailer(raw)), raw);
    const ContainerTrailer t = DecodeTrailer(raw);
    EXPECT_EQ(t.HeaderCount, raw[1]);
    EXPECT_EQ(t.Magic, GetLE32(&raw[12]));
    EXPECT_EQ(t.SpaceRequired[8], GetLE32(&raw[60]));
    EXPECT_EQ(t.ThisIs_AutoUpdateProg, raw[69]);
}

TEST_F(PackXTest, LanguageSelection)
{
    const std::string en = "\x01" "English" "\x01" "s0=Hello" "\x01" "Error=" "\x01" "Charset= 177" "\x01";
    const std::string de = "\x01" "German" "\x01" "s0=Hallo" "\x01";
    const std::string fr = "\x01" "French" "\x01" "s0=Bonjour" "\x01";
    EXPECT_EQ(SelectLanguageEntry("\x02" + en + "\x02" + de + "\x02", "GERMAN"), de);
    EXPECT_EQ(SelectLanguageEntry("\x02" + en + "\x02" + de + "\x02", " english "), en);
    EXPECT_EQ(SelectLanguageEntry("\x02" + fr + "\x02", "GERMAN"), fr);    // the only entry
    EXPECT_EQ(SelectLanguageEntry("\x02" + fr + "\x02" + de + "\x02", "ITALIAN"), "*");
    EXPECT_EQ(SelectLanguageEntry("\x02", "ENGLISH"), "*");

    // The process-wide choice: the user's language, else the only entry, else "English".
    ContainerSpec layout;
    layout.language = "\x02" + fr + "\x02" + en + "\x02";
    const TGFileInfo info(Write(MakeContainer(layout)));
    const std::string s0 = info.LangString("s0", "dflt");
    EXPECT_TRUE(s0 == "Hello" || s0 == "Bonjour") << s0;
    if (s0 == "Hello") {
        EXPECT_EQ(info.LangString("Error", "dflt"), "");        // present but empty
        EXPECT_EQ(info.LangString("Missing", "dflt"), "dflt");
        EXPECT_EQ(info.LangCharset(), 177);
    }
    // Later objects, such as one on a downloaded file, reuse the first selection.
    ContainerSpec other;
    other.language = "\x02" + de + "\x02";
    EXPECT_EQ(TGFileInfo(Write(MakeContainer(other), "dl.exe")).LangString("s0", "dflt"), s0);
}

TEST_F(PackXTest, NoMatchingEntryGivesTheDefaults)
{
    const std::string de = "\x01" "German" "\x01" "s0=Hallo" "\x01";
    const std::string it = "\x01" "Italian" "\x01" "s0=Ciao" "\x01";
    ContainerSpec layout;
    layout.language = "\x02" + de + "\x02" + it + "\x02";
    const TGFileInfo info(Write(MakeContainer(layout)));
    const std::string s0 = info.LangString("s0", "dflt");
    // Only a German or Italian user gets a text here; everyone else the defaults.
    EXPECT_TRUE(s0 == "dflt" || s0 == "Hallo" || s0 == "Ciao");
    if (s0 == "dflt") {
        EXPECT_EQ(info.LangFontName(), "Tahoma");
        EXPECT_EQ(info.LangFontSize(), 8);
        EXPECT_EQ(info.LangCharset(), 0);
    }
}

}  // namespace
