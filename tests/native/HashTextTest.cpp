// Published digests: how the agent and the web installer read them, what they accept, and the
// builder's digest of a file, which both compare with what they compute themselves.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "builder/ContainerBuilder.h"
#include "builder/FileDigest.h"
#include "setup/SetupText.h"
#include "util/HashText.h"

namespace {

namespace fs = std::filesystem;

constexpr char Abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";   // SHA-256("abc")
constexpr char Empty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"; // SHA-256("")

TEST(HashText, PublishedDigestsAndWhatTheyAccept)
{
    const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(HexDigits(bytes, sizeof bytes), "000fa0ff");

    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const struct {
        std::string published;
        std::string read;      // PublishedSha256
        bool acceptsAbc;       // a file whose digest is Abc
        bool acceptsUnknown;   // a file whose digest could not be computed
    } cases[] = {
        {"", "", true, true},                          // nothing published: the token alone decides
        {" \t ", "", true, true},
        {Abc, Abc, true, false},
        {upper, Abc, true, false},                     // letter case does not matter
        {"  " + std::string(Abc) + "\r", Abc, true, false},
        {Empty, Empty, false, false},
        {std::string(Abc).substr(1), "!", false, false},  // 63 digits
        {std::string(Abc) + "0", "!", false, false},      // 65 digits
        {"0x" + std::string(Abc).substr(2), "!", false, false},
        {std::string(Abc).replace(10, 1, "g"), "!", false, false},
        {std::string(Abc).replace(10, 1, " "), "!", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PublishedSha256(c.published), c.read) << c.published;
        EXPECT_EQ(Sha256Accepts(c.published, Abc), c.acceptsAbc) << c.published;
        EXPECT_EQ(Sha256Accepts(c.published, ""), c.acceptsUnknown) << c.published;
    }
    // A damaged key is never matched by a "computed" text that happens to look like it.
    EXPECT_FALSE(Sha256Accepts("xyz", "!"));
}

TEST(HashText, BuilderDigestsFilesAsTheStubDoes)
{
    const fs::path folder = fs::temp_directory_path() / ("ulv_hash_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder);
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return folder / name;
    };
    EXPECT_EQ(builder::FileSha256(write("abc", "abc")), Abc);
    EXPECT_EQ(builder::FileSha256(write("empty", "")), Empty);
    // More than one read block, so that the blocks are joined in order.
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    const std::string first = builder::FileSha256(write("big", big));
    big[150000] ^= 1;
    EXPECT_NE(builder::FileSha256(write("big", big)), first);
    EXPECT_THROW(builder::FileSha256(folder / "missing"), builder::BuildError);
    fs::remove_all(folder);
}

TEST(HashText, PinnedWebInstallerList)
{
    // The digest is a sixth item; an unpinned list keeps the five items older stubs know.
    EXPECT_EQ(builder::BuildDownloadList(builder::DownloadInfo{"http://h/", "S.exe", false, "", "3", Abc}),
              "|http://h/|S.exe|||3|" + std::string(Abc) + "|");
    EXPECT_EQ(builder::BuildDownloadList(builder::DownloadInfo{"http://h/", "S.exe", false, "", "3", ""}),
              "|http://h/|S.exe|||3|");
    EXPECT_THROW(builder::BuildDownloadList(builder::DownloadInfo{"http://h/", "S.exe", false, "", "3", "abc"}),
                 builder::BuildError);

    // Only a pinned setup is held to its size: any other size would fail the digest anyway.
    EXPECT_EQ(PinnedDownloadLimit(Abc, "1048576"), 1048576u);
    EXPECT_EQ(PinnedDownloadLimit(Abc, " 77 "), 77u);
    EXPECT_EQ(PinnedDownloadLimit("", "1048576"), 0u);
    EXPECT_EQ(PinnedDownloadLimit(Abc, ""), 0u);
    EXPECT_EQ(PinnedDownloadLimit(Abc, "-4"), 0u);
    EXPECT_EQ(PinnedDownloadLimit(Abc, "12x"), 0u);
}

}  // namespace
