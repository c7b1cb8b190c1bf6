// The text rules of the file helpers (util/FilesText): chunk sizes, base names, the free-space
// query text, partial-read lengths, the self-deletion batch and the CD device names.
#include "util/FilesText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(FilesText, WriteChunkSizeIsATenthBetween1024AndOneMegabyte)
{
    struct Case {
        uint64_t length, chunk;
    };
    const Case cases[] = {
        {0, 0},
        {1, 1},
        {1000, 1000},             // shorter than 1024: the whole text
        {1024, 1024},
        {10000, 1024},            // a tenth is below 1024
        {10249, 1024},            // tenth 1024: still the floor
        {10250, 1025},            // tenth 1025: the tenth
        {1048577, 104857},        // the shortest text that is written in chunks
        {2000000, 200000},
        {10485760, 1048576},      // tenth exactly the cap
        {10485770, 1048576},      // tenth above the cap
        {20000000, 1048576},
        {UINT64_C(5000000000), 1048576},  // beyond 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(WriteChunkSize(c.length), c.chunk);
    }
}

TEST(FilesText, FileBaseNameDropsTheFolderAndOneOrEveryExtension)
{
    struct Case {
        std::string path;
        bool all;
        std::string base;
    };
    const Case cases[] = {
        {"C:\\x\\setup.exe", false, "setup"},
        {"readme", true, "readme"},
        {"readme", false, "readme"},
        {"a.tar.gz", false, "a.tar"},
        {"a.tar.gz", true, "a"},
        {"C:\\dir.v2\\file", false, "file"},       // a dot in the folder is no extension
        {"C:\\dir.v2\\file.txt", true, "file"},
        {"D:name.ext", false, "name"},             // a drive without a backslash
        {"\\\\srv\\share\\pkg.1.2.zip", false, "pkg.1.2"},
        {".profile", false, ""},
        {"trailing.", false, "trailing"},
        {"C:\\folder\\", false, ""},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.all ? " all" : " last"));
        EXPECT_EQ(FileBaseName(c.path, c.all), c.base);
    }
}

TEST(FilesText, FreeSpaceRootCutsAfterTheFirstFolderOrGivesTheDriveRoot)
{
    struct Case {
        std::string path;
        bool rootOnly;
        std::string root;
    };
    const Case cases[] = {
        {"C:\\Temp\\SETUP_1", false, "C:\\Temp"},
        {"C:\\Temp\\SETUP_1", true, "C:\\"},
        {"c:\\a\\b", true, "C:\\"},
        {"c:\\a\\b", false, "c:\\a"},          // the cut path keeps its letter case
        {"D:\\", false, "D:\\"},
        {"D:\\Folder", false, "D:\\Folder"},   // no separator after the first folder: whole
        {"x", false, "X:\\"},                  // shorter than 3 characters
        {"e:", false, "E:\\"},
        {"C:/Temp/SETUP_1", false, "C:\\Temp"},   // forward slashes count as backslashes
        {"\\\\server\\share\\dir", false, "\\\\server"},
        {"\\\\server\\share\\dir", true, "\\:\\"},
        {"", false, ""},                        // empty: the current drive
        {"", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.rootOnly ? " root" : " path"));
        EXPECT_EQ(FreeSpaceRoot(c.path, c.rootOnly), c.root);
    }
}

TEST(FilesText, ReadPartLengthStaysInsideTheFileAndTheMaximum)
{
    struct Case {
        int64_t size, maximum, offset, length;
    };
    const int64_t big = INT64_C(5) << 30;  // 5 GB
    const Case cases[] = {
        {300, 0, 0, 300},
        {300, 1000, 0, 300},     // a maximum beyond the end reads to the end
        {300, 100, 0, 100},
        {300, 100, 250, 50},
        {300, 0, 299, 1},
        {300, 0, 300, 0},        // offset at the end
        {300, 0, 301, 0},
        {300, 0, -1, 0},         // negative offset
        {300, -5, 0, 0},         // negative maximum
        {0, 0, 0, 0},            // empty file
        {-1, 0, 0, 0},           // size unknown
        {big, 0, big - 10, 10},  // positions beyond 32 bits
        {big, 4096, INT64_C(4) << 30, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.maximum) + " " + std::to_string(c.offset));
        EXPECT_EQ(ReadPartLength(c.size, c.maximum, c.offset), c.length);
    }
}

TEST(FilesText, SelfDeleteBatchLoopsOnTheExeThenRemovesFolderAndItself)
{
    const std::string batch = "C:\\Users\\Jo Ann\\Temp\\_DEL_ME_.BAT";
    const std::string exe = "C:\\Program Files\\Prod\\X_agent.exe";
    const std::string folder = "C:\\Program Files\\Prod";
    const std::string loop = ":START\r\n"
                             "DEL \"C:\\Program Files\\Prod\\X_agent.exe\"\r\n"
                             "IF exist \"C:\\Program Files\\Prod\\X_agent.exe\" GOTO START\r\n";
    const std::string last = "DEL \"C:\\Users\\Jo Ann\\Temp\\_DEL_ME_.BAT\"\r\n";

    EXPECT_EQ(SelfDeleteBatchText(batch, exe, folder, "\"", false), loop + last);
    // The folder goes between the loop and the batch's own deletion.
    EXPECT_EQ(SelfDeleteBatchText(batch, exe, folder, "\"", true),
              loop + "RD \"C:\\Program Files\\Prod\"\r\n" + last);
}

TEST(FilesText, SelfDeleteBatchWithShortNamesQuotesOnlyWhatWouldSplit)
{
    EXPECT_EQ(SelfDeleteBatchText("C:\\DOCUME~1\\JO~1\\LOCALS~1\\Temp\\_DEL_ME_.BAT", "C:\\PROGRA~1\\PROD\\X_AGENT.EXE",
                                  "C:\\PROGRA~1\\PROD", "", true),
              ":START\r\n"
              "DEL C:\\PROGRA~1\\PROD\\X_AGENT.EXE\r\n"
              "IF exist C:\\PROGRA~1\\PROD\\X_AGENT.EXE GOTO START\r\n"
              "RD C:\\PROGRA~1\\PROD\r\n"
              "DEL C:\\DOCUME~1\\JO~1\\LOCALS~1\\Temp\\_DEL_ME_.BAT\r\n");

    // A volume without 8.3 names gives the long names back; unquoted, DEL and RD would take each
    // word, or each part around an operator, for a path of its own.
    const std::string text =
        SelfDeleteBatchText("C:\\T\\_DEL_ME_.BAT", "C:\\My Apps\\a&b.exe", "C:\\My Apps", "", true);
    EXPECT_EQ(text, ":START\r\n"
                    "DEL \"C:\\My Apps\\a&b.exe\"\r\n"
                    "IF exist \"C:\\My Apps\\a&b.exe\" GOTO START\r\n"
                    "RD \"C:\\My Apps\"\r\n"
                    "DEL C:\\T\\_DEL_ME_.BAT\r\n");
    for (const char* path : {"C:\\a,b.exe", "C:\\a;b.exe", "C:\\a=b.exe", "C:\\a^b.exe", "C:\\a(1).exe"}) {
        SCOPED_TRACE(path);
        EXPECT_NE(SelfDeleteBatchText("B", path, "F", "", false).find(std::string("DEL \"") + path + "\"\r\n"),
                  std::string::npos);
    }
}

TEST(FilesText, SelfDeleteBatchKeepsPercentSignsLiteral)
{
    // "%TEMP%" in a folder name must not expand to the temporary folder inside the batch.
    EXPECT_EQ(SelfDeleteBatchText("B.BAT", "C:\\100%\\%TEMP%\\a.exe", "C:\\100%", "\"", true),
              ":START\r\n"
              "DEL \"C:\\100%%\\%%TEMP%%\\a.exe\"\r\n"
              "IF exist \"C:\\100%%\\%%TEMP%%\\a.exe\" GOTO START\r\n"
              "RD \"C:\\100%%\"\r\n"
              "DEL \"B.BAT\"\r\n");
}

TEST(FilesText, DriveDevicePathNeedsADriveLetter)
{
    struct Case {
        std::string path, device;
    };
    const Case cases[] = {
        {"d:\\setup\\disk1", "\\\\.\\D:"},
        {"E:", "\\\\.\\E:"},
        {"z", "\\\\.\\Z:"},
        {"\\\\server\\share", ""},
        {"1:\\", ""},
        {"@:\\", ""},
        {"[:\\", ""},   // just past Z
        {"\xE9:\\", ""},  // a letter of the code page, not of A to Z
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DriveDevicePath(c.path), c.device);
    }
}

TEST(FilesText, EjectTraceLineShowsTheHandleUnsigned)
{
    EXPECT_EQ(EjectTraceLine(2, "\\\\.\\D:", 132), "EjectCD-2: \\\\.\\D: 132");
    // An invalid handle (-1) appears as the largest number of its width.
    EXPECT_EQ(EjectTraceLine(3, "\\\\.\\D:", UINT32_MAX), "EjectCD-3: \\\\.\\D: 4294967295");
    EXPECT_EQ(EjectTraceLine(3, "\\\\.\\D:", UINT64_MAX), "EjectCD-3: \\\\.\\D: 18446744073709551615");
}
