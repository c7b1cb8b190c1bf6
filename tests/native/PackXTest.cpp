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
    const std::string good = MakeContainer(ContainerSpec{});
    std::vector<std::pair<std::string, std::string>> damaged;
    {
        std::string b = good;
        PutU32(b, b.size() - 4, 4);  // length below 5
        damaged.emplace_back("length 4", b);
    }
    {
        std::string b = good;
        PutU32(b, b.size() - 4, 0x7FFFFFFF);  // length beyond the file
        damaged.emplace_back("length beyond the file", b);
    }
    {
        std::string b = good;
        PutU32(b, b.size() - 4, 0xFFFFFFF0);  // negative length
        damaged.emplace_back("negative length", b);
    }
    {
        std::string b = good;
        PutU32(b, 248, 0x10);  // EndOfData far beyond the file
        damaged.emplace_back("EndOfData beyond the file", b);
    }
    {
        std::string b = good;
        PutU32(b, 512, 0xFFFFFF00);  // LanguageTable count beyond the file
        damaged.emplace_back("header count beyond the file", b);
    }
    {
        std::string b = good;
        PutU32(b, b.size() - TrailerSize + 4, 0xFFFFFFF0);  // HeaderOffset beyond the file
        damaged.emplace_back("HeaderOffset beyond the file", b);
    }
    damaged.emplace_back("truncated", good.substr(0, good.size() - 30));
    damaged.emplace_back("three bytes", "MZx");
    damaged.emplace_back("empty", "");
    for (const auto& [what, bytes] : damaged) {
        const TGFileInfo info(Write(bytes));
        EXPECT_EQ(info.UpdateList(), "") << what;
        EXPECT_EQ(info.LanguageTable(), "") << what;
        EXPECT_EQ(info.AgentExeName(), "") << what;
        EXPECT_FALSE(info.HasMagic() && info.UpdateList().empty() == false) << what;
    }
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
