// The file, disk and folder helpers of util/Files on a real (Wine) file system: partial reads,
// text writes with chunks and dates, 64-bit sizes and positions, free space, deletion of files and
// folder trees, and the CD eject on a drive that is no CD drive.
#include <windows.h>
#include <winioctl.h>

#include "util/Files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "util/Handles.h"
#include "util/UtilsWin.h"

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// 15 June 2021 10:20:30 as a DOS date-time stamp (date high, time low; seconds halved).
constexpr uint32_t June15th2021 = ((((2021u - 1980u) << 9) | (6u << 5) | 15u) << 16) | (10u << 11) | (20u << 5) | 15u;

// All 256 byte values, NUL included, repeated up to `length` bytes.
std::string Bytes(size_t length)
{
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsReadOnly(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// The DOS stamp of the file's last write time, in local time as the helpers set it.
uint32_t DosDateOf(const std::string& path)
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr));
    FILETIME utc{}, local{};
    WORD date = 0, time = 0;
    if (!file || !GetFileTime(file.Get(), nullptr, nullptr, &utc) || !FileTimeToLocalFileTime(&utc, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return (static_cast<uint32_t>(date) << 16) | time;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = TempFolder(true) + "ulv_files_" + std::to_string(GetCurrentProcessId()) + "_" + info->name();
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    }

    void TearDown() override
    {
        // Folder links made by a test go as links; then whatever is left, read-only files too.
        DeleteFolderTree(dir_, true);
        EXPECT_FALSE(Exists(dir_)) << "left behind: " << dir_;
    }

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    // Writes and reads files independently of the helpers under test.
    std::string Make(const std::string& name, const std::string& content) const
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string MakeFolder(const std::string& name) const
    {
        const std::string path = Path(name);
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
        return path;
    }

    std::string dir_;
};

// --- reading -------------------------------------------------------------------------------

TEST_F(FilesTest, ReadFilePartTakesTheBytesBetweenOffsetAndMaximum)
{
    const std::string bytes = Bytes(300);
    const std::string path = Make("part.bin", bytes);
    struct Case {
        int64_t maximum, offset;
        std::string expected;
    };
    const Case cases[] = {
        {0, 0, bytes},
        {1000, 0, bytes},  // a maximum beyond the end: the whole file
        {100, 0, bytes.substr(0, 100)},
        {100, 250, bytes.substr(250)},
        {0, 299, bytes.substr(299)},
        {0, 300, ""},  // offset at the end
        {0, 5000, ""},
        {0, -1, ""},
        {-1, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.maximum) + " from " + std::to_string(c.offset));
        EXPECT_EQ(ReadFilePart(path, c.maximum, c.offset), c.expected);
    }
    EXPECT_EQ(ReadFilePart(Make("empty.bin", ""), 0, 0), "");
    EXPECT_EQ(ReadFilePart(Path("missing.bin"), 0, 0), "");
    EXPECT_EQ(ReadFilePart(dir_, 0, 0), "");  // a folder is no file
}

TEST_F(FilesTest, ReadFilePartReadsAFileThatAnotherProgramWritesTo)
{
    const std::string path = Path("busy.log");
    UniqueFile writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(writer);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.Get(), "line 1\r\n", 8, &written, nullptr));
    EXPECT_EQ(ReadFilePart(path, 0, 0), "line 1\r\n");
}

TEST_F(FilesTest, ReadFilePartGivesNothingWhenFewerBytesArriveThanTheFileShowed)
{
    // A file whose size promises more than reading it gives: the Linux kernel's attribute files
    // show 4096 bytes and hold a few. Under Wine drive Z: is the Unix root.
    const std::string path = "Z:\\sys\\devices\\system\\cpu\\online";
    const std::string held = Content(path);
    if (held.empty() || FileSizeByName(path) <= static_cast<int64_t>(held.size()))
        GTEST_SKIP() << "no file here whose size promises more bytes than it holds";
    EXPECT_EQ(ReadFilePart(path, static_cast<int64_t>(held.size()), 0), held);
    EXPECT_EQ(ReadFilePart(path, static_cast<int64_t>(held.size()) + 1, 0), "");
    EXPECT_EQ(ReadFilePart(path, 0, 0), "");
}

// --- writing -------------------------------------------------------------------------------

TEST_F(FilesTest, WriteTextFileReplacesOrAppendsAnyBytes)
{
    const std::string path = Make("text.bin", "an older and much longer content");
    const std::string text = "first\0second\r\n\xFF"s;
    ASSERT_TRUE(WriteTextFile(path, text, 0, false));
    EXPECT_EQ(Content(path), text);
    ASSERT_TRUE(WriteTextFile(path, "+more", 0, true));
    EXPECT_EQ(Content(path), text + "+more");

    const std::string created = Path("created.txt");
    ASSERT_TRUE(WriteTextFile(created, "new", 0, true));  // append creates a missing file
    EXPECT_EQ(Content(created), "new");

    const std::string empty = Make("empty.txt", "old");
    EXPECT_TRUE(WriteTextFile(empty, "", 0, false));
    EXPECT_TRUE(Exists(empty));
    EXPECT_EQ(Content(empty), "");
}

TEST_F(FilesTest, WriteTextFileOverOneMegabyteWritesEveryChunk)
{
    // 3000007 bytes: chunks of 300000 and a short last one.
    const std::string text = Bytes(3000007);
    const std::string path = Path("large.bin");
    ASSERT_TRUE(WriteTextFile(path, text, June15th2021, false));
    EXPECT_EQ(Content(path), text);
    EXPECT_EQ(DosDateOf(path), June15th2021);

    // Appended in chunks too, after what is there.
    ASSERT_TRUE(WriteTextFile(path, text, 0, true));
    EXPECT_EQ(FileSizeByName(path), 2 * 3000007);
    EXPECT_EQ(ReadFilePart(path, 0, 3000007), text);
}

TEST_F(FilesTest, WriteTextFileSetsTheDateOnlyWhenAsked)
{
    const std::string dated = Path("dated.txt");
    ASSERT_TRUE(WriteTextFile(dated, "x", June15th2021, false));
    EXPECT_EQ(DosDateOf(dated), June15th2021);
    ASSERT_TRUE(WriteTextFile(dated, "y", June15th2021, true));
    EXPECT_EQ(DosDateOf(dated), June15th2021);

    // Date 0 leaves the write time the system gives: now, in the current year.
    const std::string undated = Path("undated.txt");
    ASSERT_TRUE(WriteTextFile(undated, "x", 0, false));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_EQ(DosDateOf(undated) >> 25, now.wYear - 1980u);
}

TEST_F(FilesTest, WriteTextFileFailsWhereNoFileCanBeWritten)
{
    EXPECT_FALSE(WriteTextFile(Path("no\\such\\folder\\a.txt"), "x", 0, false));
    EXPECT_FALSE(WriteTextFile(Path("no\\such\\folder\\a.txt"), "", 0, true));  // not even an empty one
    EXPECT_FALSE(AppendTextFile(Path("no\\such\\folder\\a.txt"), "x", 0));
    EXPECT_FALSE(WriteTextFile(dir_, "x", 0, false));  // a folder of that name
    EXPECT_FALSE(AppendTextFile(dir_, "x", 0));
}

TEST_F(FilesTest, AppendTextFileAddsAtTheEndAndSetsTheDate)
{
    const std::string path = Make("log.txt", "one\r\n");
    ASSERT_TRUE(AppendTextFile(path, "two\r\n", 0));
    ASSERT_TRUE(AppendTextFile(path, "three\0\r\n"s, June15th2021));
    EXPECT_EQ(Content(path), "one\r\ntwo\r\nthree\0\r\n"s);
    EXPECT_EQ(DosDateOf(path), June15th2021);

    const std::string created = Path("new.txt");
    ASSERT_TRUE(AppendTextFile(created, "", 0));
    EXPECT_TRUE(Exists(created));
    const std::string large = Bytes(1500000);
    ASSERT_TRUE(AppendTextFile(created, large, 0));
    EXPECT_EQ(Content(created), large);
}

// --- sizes and positions -------------------------------------------------------------------

TEST_F(FilesTest, SizesAndPositionsOfASmallFile)
{
    const std::string path = Make("small.bin", Bytes(300));
    EXPECT_EQ(FileSizeByName(path), 300);
    EXPECT_EQ(FileSizeByName(Path("missing.bin")), 0);

    // Held open by another program that shares nothing: only the directory entry can be read.
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_EQ(FileSizeByName(path), 300);
    EXPECT_EQ(ReadFilePart(path, 0, 0), "");
    EXPECT_FALSE(WriteTextFile(path, "x", 0, false));
    EXPECT_FALSE(AppendTextFile(path, "x", 0));
    EXPECT_EQ(FileSizeByHandle(file.Get()), 300);
    EXPECT_EQ(FileSizeByHandle(INVALID_HANDLE_VALUE), -1);
    struct Case {
        int origin;
        int64_t distance, position;
    };
    const Case steps[] = {
        {0, 10, 10}, {1, 5, 15}, {1, -15, 0}, {2, 0, 300}, {2, -1, 299},
        {0, -1, -1},  // before the start: refused
        {3, 0, -1},   // no such origin
    };
    for (const Case& c : steps) {
        SCOPED_TRACE(std::to_string(c.origin) + " " + std::to_string(c.distance));
        EXPECT_EQ(SeekFile(file.Get(), c.origin, c.distance), c.position);
    }
}

TEST_F(FilesTest, SizesAndPositionsBeyondFourGigabytes)
{
    const int64_t end = (INT64_C(5) << 30) + 3;  // 5 GB and 3 bytes
    const std::string path = Path("huge.bin");
    {
        UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        // Sparse, so that the zeros before the last bytes take no room where the system allows it.
        DWORD returned = 0;
        const bool sparse =
            DeviceIoControl(file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
        if (!sparse && DiskFreeBytes(dir_) < static_cast<double>(end) * 1.5)
            GTEST_SKIP() << "no sparse files and too little room here for a file over 4 GB";
        ASSERT_EQ(SeekFile(file.Get(), 0, end - 3), end - 3);
        DWORD written = 0;
        if (!WriteFile(file.Get(), "END", 3, &written, nullptr) || written != 3)
            GTEST_SKIP() << "this disk takes no file over 4 GB";
        EXPECT_EQ(FileSizeByHandle(file.Get()), end);
        EXPECT_EQ(SeekFile(file.Get(), 1, 0), end);
        EXPECT_EQ(SeekFile(file.Get(), 2, -3), end - 3);
        EXPECT_EQ(SeekFile(file.Get(), 1, -(INT64_C(1) << 32)), end - 3 - (INT64_C(1) << 32));
        EXPECT_EQ(SeekFile(file.Get(), 0, INT64_C(1) << 32), INT64_C(1) << 32);
    }
    EXPECT_EQ(FileSizeByName(path), end);
    EXPECT_EQ(ReadFilePart(path, 0, end - 3), "END");
    EXPECT_EQ(ReadFilePart(path, 5, end - 4), "\0END"s);
    ASSERT_TRUE(AppendTextFile(path, "+1", 0));
    ASSERT_TRUE(WriteTextFile(path, "+2", 0, true));
    EXPECT_EQ(FileSizeByName(path), end + 4);
    EXPECT_EQ(ReadFilePart(path, 0, end - 3), "END+1+2");
}

// --- free space ----------------------------------------------------------------------------

TEST_F(FilesTest, DiskFreeBytesOfLocalAndNetworkPaths)
{
    EXPECT_GT(DiskFreeBytes(TempFolder(false)), 0);
    EXPECT_GT(DiskFreeBytes(dir_ + "\\not\\made\\yet"), 0);  // falls back to the drive root
    EXPECT_GT(DiskFreeBytes(""), 0);                         // the current drive
    // Neither the cut path ("\\server") nor a root made from its first character is a volume.
    EXPECT_EQ(DiskFreeBytes("\\\\server\\share"), -1);
    EXPECT_EQ(DiskFreeBytes("\\\\server\\share\\folder\\setup.exe"), -1);
}

// --- deleting ------------------------------------------------------------------------------

TEST_F(FilesTest, DeleteFilesDeletesTheMatchingFilesOnly)
{
    Make("a.tmp", "a");
    Make("b.TMP", "b");
    const std::string kept = Make("c.txt", "c");
    const std::string folder = MakeFolder("d.tmp");
    const std::string readOnly = Make("ro.tmp", "r");
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    EXPECT_TRUE(DeleteFiles(Path("*.tmp"), false));
    EXPECT_FALSE(Exists(Path("a.tmp")));
    EXPECT_FALSE(Exists(Path("b.TMP")));
    EXPECT_TRUE(Exists(readOnly));  // resisted, and the others went on
    EXPECT_TRUE(Exists(kept));
    EXPECT_TRUE(Exists(folder));  // folders never match

    EXPECT_TRUE(DeleteFiles(Path("*.tmp"), true));
    EXPECT_FALSE(Exists(readOnly));
    EXPECT_FALSE(DeleteFiles(Path("*.tmp"), true));  // only the folder is left: no file matched
    EXPECT_FALSE(DeleteFiles(Path("missing\\*.*"), true));
}

class DeleteFolderTreeTest : public FilesTest {
protected:
    // tree\a.txt, tree\sub\b.txt, tree\sub\deeper\c.txt and the read-only tree\sub\ro.txt.
    void SetUp() override
    {
        FilesTest::SetUp();
        tree_ = MakeFolder("tree");
        MakeFolder("tree\\sub");
        MakeFolder("tree\\sub\\deeper");
        MakeFolder("tree\\empty");
        Make("tree\\a.txt", "a");
        Make("tree\\sub\\b.txt", "b");
        Make("tree\\sub\\deeper\\c.txt", "c");
        readOnly_ = Make("tree\\sub\\ro.txt", "r");
        ASSERT_TRUE(SetFileAttributesA(readOnly_.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    std::string tree_, readOnly_;
};

TEST_F(DeleteFolderTreeTest, ClearingAttributesRemovesEverything)
{
    EXPECT_TRUE(DeleteFolderTree(tree_, true));
    EXPECT_FALSE(Exists(tree_));
    EXPECT_TRUE(Exists(dir_));  // nothing above the folder
}

TEST_F(DeleteFolderTreeTest, AReadOnlyFileSurvivesWithItsFoldersWithoutClearing)
{
    EXPECT_FALSE(DeleteFolderTree(tree_ + "\\", false));  // a trailing backslash changes nothing
    EXPECT_TRUE(Exists(readOnly_));
    EXPECT_TRUE(IsReadOnly(readOnly_));
    EXPECT_EQ(Content(readOnly_), "r");
    EXPECT_TRUE(Exists(tree_ + "\\sub"));
    // Everything else went.
    EXPECT_FALSE(Exists(tree_ + "\\a.txt"));
    EXPECT_FALSE(Exists(tree_ + "\\sub\\b.txt"));
    EXPECT_FALSE(Exists(tree_ + "\\sub\\deeper"));
    EXPECT_FALSE(Exists(tree_ + "\\empty"));
}

TEST_F(FilesTest, DeleteFolderTreeOfNoFolderTouchesNothing)
{
    const std::string file = Make("plain.txt", "p");
    EXPECT_FALSE(DeleteFolderTree(Path("missing"), true));
    EXPECT_FALSE(DeleteFolderTree(file, true));
    EXPECT_FALSE(DeleteFolderTree("", true));
    EXPECT_EQ(Content(file), "p");
}

// Folder links: on Windows directory symbolic links and junctions; where the system cannot make
// one (no privilege, or no support), the test is skipped.
class FolderLinkTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        outside_ = MakeFolder("outside");
        precious_ = Make("outside\\precious.txt", "keep me");
        ASSERT_TRUE(SetFileAttributesA(precious_.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    bool MakeLink(const std::string& link, const std::string& target)
    {
        if (CreateSymbolicLinkA(link.c_str(), target.c_str(),
                                SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
            return IsLink(link);
        return false;
    }

    static bool IsLink(const std::string& path)
    {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }

    void ExpectOutsideUntouched()
    {
        EXPECT_EQ(Content(precious_), "keep me");
        EXPECT_TRUE(IsReadOnly(precious_));
    }

    std::string outside_, precious_;
};

TEST_F(FolderLinkTest, ALinkInsideTheTreeGoesAsALink)
{
    const std::string tree = MakeFolder("tree");
    Make("tree\\a.txt", "a");
    if (!MakeLink(tree + "\\link", outside_))
        GTEST_SKIP() << "no folder links here";
    EXPECT_TRUE(DeleteFolderTree(tree, true));
    EXPECT_FALSE(Exists(tree));
    ExpectOutsideUntouched();
}

TEST_F(FolderLinkTest, AFolderThatIsALinkGoesAsALink)
{
    const std::string link = Path("SETUP_1");
    if (!MakeLink(link, outside_))
        GTEST_SKIP() << "no folder links here";
    EXPECT_TRUE(DeleteFolderTree(link, true));
    EXPECT_FALSE(Exists(link));
    ExpectOutsideUntouched();
}

// --- CD eject ------------------------------------------------------------------------------

TEST_F(FilesTest, EjectCDDoesNothingOutsideACDDrive)
{
    for (const std::string& path : {dir_, TempFolder(true), "\\\\server\\share\\setup.exe"s, "1:\\"s, ""s}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(EjectCD(path));
    }
}

}  // namespace
