// Containers made by the builder, read back by the stub's reader: the two sides of one format.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TestImages.h"
#include "builder/ContainerBuilder.h"
#include "pack/ContainerChecksum.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "pack/UnPackRules.h"

namespace {

namespace fs = std::filesystem;

class ContainerRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("ulv_roundtrip_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "a.txt", std::ios::binary) << std::string(3000, 'a');
        std::ofstream(dir_ / "Engine.exe", std::ios::binary) << "engine";
        plan_.stubBytes = FakeStubImage();
        plan_.files = {{dir_ / "Engine.exe", "Engine.exe"}, {dir_ / "a.txt", "sub\\a.txt"}};
        plan_.mainFile = "Engine.exe";
        plan_.update = {"http://127.0.0.1/updates/", "Product.Setup.info", "agent.exe", "TOKEN", true};
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    TGFileInfo Build(const std::string& name)
    {
        const fs::path out = dir_ / name;
        summary_ = builder::WriteContainerFile(plan_, out);
        return TGFileInfo(out.string());
    }
    fs::path dir_;
    builder::ContainerPlan plan_;
    builder::BuildSummary summary_;
};

TEST_F(ContainerRoundTrip, WithAndWithoutDataAfterTheEnd)
{
    for (uint64_t trailing : {uint64_t{0}, uint64_t{4096}}) {
        for (bool endOfData : {true, false}) {
            if (trailing && !endOfData)
                continue;  // a signature needs the end-of-data field
            plan_.trailingBytes = trailing;
            plan_.writeEndOfData = endOfData;
            const TGFileInfo info = Build("setup.exe");
            ASSERT_TRUE(info.HasMagic()) << trailing << endOfData;
            EXPECT_EQ(info.UpdateUrl(), "http://127.0.0.1/updates/");
            EXPECT_EQ(info.InfoFileName(), "Product.Setup.info");
            EXPECT_EQ(info.OriginalFileName(), "Product.original");
            EXPECT_EQ(info.AgentExeName(), "agent.exe");
            // Stored scrambled; read back as the token and the fixed NUL after it.
            EXPECT_NE(info.UpdateToken(false), "TOKEN");
            EXPECT_EQ(info.UpdateToken(true), std::string("TOKEN", 6));
            EXPECT_TRUE(info.HiddenSetup());
            EXPECT_EQ(info.FilesCount(), 2u);
            EXPECT_EQ(info.Trailer().HeaderCount, 2);
            // The stored checksum is the real one, and the stub's check accepts it.
            EXPECT_NE(info.Trailer().Checksum, ChecksumAcceptAny);
            EXPECT_EQ(ContainerChecksum((dir_ / "setup.exe").string(), info.Trailer().TrailerLength),
                      info.Trailer().Checksum);
            EXPECT_EQ(info.Trailer().SpaceRequired[0], 3006u);
            EXPECT_EQ(info.Trailer().SpaceRequired[4], 4096u + 4096u);
            EXPECT_EQ(info.DownloadList(), "");
            EXPECT_EQ(info.HeaderOffset(), summary_.headerOffset + 4 + info.LanguageTable().size() + 4 +
                                               info.UpdateList().size());
        }
    }
}

TEST_F(ContainerRoundTrip, ThreeHeaderStringsAndEveryFlag)
{
    plan_.download = builder::DownloadInfo{"http://127.0.0.1/dl/", "Setup.exe", true, "DTOKEN", "1048576", ""};
    plan_.flags = {true, true, true, true, true};
    plan_.roles = {true, true, true, true};
    plan_.languages = {{"English", {{"s0", "My Setup"}, {"BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"}}}};
    const TGFileInfo info = Build("setup.exe");
    ASSERT_TRUE(info.HasMagic());
    EXPECT_EQ(info.Trailer().HeaderCount, 3);
    EXPECT_EQ(info.DownloadUrl(), "http://127.0.0.1/dl/");
    EXPECT_EQ(info.DownloadFileName(), "Setup.exe");
    EXPECT_TRUE(info.AlwaysDownload());
    EXPECT_EQ(info.DownloadToken(true), std::string("DTOKEN", 7));
    // Two builds of one product scramble differently but match.
    const TGFileInfo again = Build("again.exe");
    EXPECT_NE(again.DownloadToken(false), info.DownloadToken(false));
    EXPECT_TRUE(DownloadTokensMatch(info, again));
    EXPECT_TRUE(UpdateTokenMatches(info, (dir_ / "again.exe").string(), TokenKindSetup));
    EXPECT_EQ(info.DownloadSize(), "1048576");
    EXPECT_TRUE(info.ShowTempDriveInfo() && info.NextDiskFollows() && info.SpanCopyToTemp() &&
                info.ShowExtractProgress() && info.AgentLogFile());
    EXPECT_TRUE(info.InternetSetup() && info.ConfirmDownload() && info.InstallAgent() && info.ThisIs_AutoUpdateProg());
    // The single entry supplies its texts whatever the user's language.
    ResetLanguageSelection();
    EXPECT_EQ(info.LangString("s0", "x"), "My Setup");
    EXPECT_EQ(info.LangString("BtnText", "x"), "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|");
    ResetLanguageSelection();
}

TEST_F(ContainerRoundTrip, HeaderCountByteZeroReadsTwoStrings)
{
    plan_.headerCountByte = 0;
    const TGFileInfo info = Build("setup.exe");
    ASSERT_TRUE(info.HasMagic());
    EXPECT_EQ(info.Trailer().HeaderCount, 2);
    EXPECT_EQ(info.AgentExeName(), "agent.exe");
    EXPECT_EQ(info.LanguageTable(), "\x02");
}

TEST_F(ContainerRoundTrip, DisksOfOneSetupAndDisksOfAnother)
{
    plan_.store = true;
    plan_.chunkSize = 1000;
    plan_.diskSize = 2500;
    plan_.update.token.clear();  // no random scrambled token: the setups differ in sizes only
    const TGFileInfo first = Build("setup.exe");
    ASSERT_GE(summary_.disks, 2u);
    const auto disk = [&](const std::string& name, uint32_t k) {
        return TGFileInfo((dir_ / (name + ".00" + std::to_string(k))).string());
    };
    for (uint32_t k = 2; k <= summary_.disks; ++k) {
        const TGFileInfo other = disk("setup.exe", k);
        ASSERT_TRUE(other.HasMagic()) << k;
        EXPECT_TRUE(SameSetup(first, other)) << k;
    }

    // Another setup: one byte more in a file changes the declared sizes.
    std::ofstream(dir_ / "a.txt", std::ios::binary | std::ios::app) << 'a';
    Build("other.exe");
    EXPECT_FALSE(SameSetup(first, disk("other.exe", 2)));
    // The same files, but another product's update list.
    std::filesystem::resize_file(dir_ / "a.txt", 3000);
    plan_.update.url = "http://127.0.0.1/another/";
    Build("another.exe");
    EXPECT_FALSE(SameSetup(first, disk("another.exe", 2)));
    // Two builds with a token: each scrambles it afresh, so even the same files are told apart.
    plan_.update = {"http://127.0.0.1/updates/", "Product.Setup.info", "agent.exe", "TOKEN", true};
    const TGFileInfo tokenFirst = Build("token1.exe");
    Build("token2.exe");
    EXPECT_TRUE(SameSetup(tokenFirst, disk("token1.exe", 2)));
    EXPECT_FALSE(SameSetup(tokenFirst, disk("token2.exe", 2)));
}

}  // namespace
