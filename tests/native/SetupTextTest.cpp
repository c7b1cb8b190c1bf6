// The launcher's text and decision rules (engine command line, space figures, temporary-drive
// notice, alternative drive).
#include <gtest/gtest.h>

#include <array>
#include <iterator>

#include "TestImages.h"
#include "setup/SetupText.h"

namespace {

constexpr double MB = 1048576.0;

TEST(SetupText, FormatMegabytes)
{
    const struct {
        double bytes;
        const char* text;
    } cases[] = {
        {0, "0.000"},          {524288, "0.500"},    {10485760, "10.00"}, {11 * MB, "11.0"},
        {-1, "0.000"},         {-5 * MB, "0.000"},   {5 * MB, "5.00"},    {700 * MB, "700.0"},
        {1 * MB, "1.00"},      {1048575, "1.000"},   {1, "0.000"},        {10 * MB + 1, "10.0"},
        {4096.0 * MB, "4096.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatMegabytes(c.bytes), c.text) << c.bytes;
}

TEST(SetupText, RemoveSwitch)
{
    const struct {
        const char* text;
        const char* sw;
        const char* result;
    } cases[] = {
        {"a /SpanCdLvl=2 /b", "/SpanCdLvl=", "a /b"},
        {"a /SpanCdLvl=2", "/SpanCdLvl=", "a "},
        {"/SpanCdLvl=2 /b", "/SpanCdLvl=", "/b"},
        // A quoted value with blanks goes up to the next switch's "/".
        {"a /SpanDiskFName1=\"C:\\x y\\s.exe.001\" /c", "/SpanDiskFName1=", "a /c"},
        // A value holding a "/" is cut only up to it; the rest stays.
        {"x /SpanDiskFName1=\"C:/d/setup.001\" /y", "/SpanDiskFName1=", "x /d/setup.001\" /y"},
        // Only the first occurrence, and only in its exact letter case.
        {"/X=1 /X=2", "/X=", "/X=2"},
        {"a /spancdlvl=2 /b", "/SpanCdLvl=", "a /spancdlvl=2 /b"},
        {"a /b", "/SpanCdLvl=", "a /b"},
        {"", "/X=", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RemoveSwitch(c.text, c.sw), c.result) << c.text;
}

TEST(SetupText, TokenSuffixAndProgramName)
{
    EXPECT_EQ(TokenSuffix(1234), "_1234");
    EXPECT_EQ(TokenSuffix(4294967295u), "_4294967295");
    EXPECT_EQ(EngineProgramName("Engine.exe"), "Engine.exe");
    EXPECT_EQ(EngineProgramName(" Setup Engine.exe * /x"), "Setup Engine.exe");
    EXPECT_EQ(EngineProgramName(""), "");
}

EngineCommandInput Input(const std::string& mainFile, const std::string& extra)
{
    EngineCommandInput in;
    in.workFolder = "C:\\Temp Dir\\SETUP_1234";
    in.mainFile = mainFile;
    in.extraSwitches = extra;
    in.tokenSuffix = "_42";
    in.ownPath = "Z:\\dl\\my setup.exe";
    return in;
}

TEST(SetupText, EngineCommandLine)
{
    const std::string engine = "\"C:\\Temp Dir\\SETUP_1234\\Engine.exe\"";
    const std::string origin = " /OriginExe=\"Z:\\dl\\my setup.exe\"";
    const struct {
        const char* mainFile;
        const char* extra;
        std::string line;
    } cases[] = {
        {"Engine.exe", "", engine + " /TH_ID=_42" + origin},
        {"Engine.exe", "/q", engine + " /q /TH_ID=_42" + origin},
        // The main file's own switches follow the launcher's.
        {"Engine.exe* /a", " /b", engine + " /b /a /TH_ID=_42" + origin},
        {"Engine.exe* /a", "", engine + " /a /TH_ID=_42" + origin},
        {" Engine.exe *", "", engine + " /TH_ID=_42" + origin},
        // The temporary copy's switches: its "/OriginExe=" stays, alone, and the span switches go
        // with their values.
        {"Engine.exe", "/q /SpanCdLvl=2 /SpanDiskFName1=\"Z:\\s\\setup.exe.001\" /OriginExe=\"Z:\\s\\setup.exe\"",
         engine + " /q /OriginExe=\"Z:\\s\\setup.exe\" /TH_ID=_42"},
        {"Engine.exe* /m", "/SpanCdLvl=2 /SpanDiskFName1=\"Z:\\s\\setup.exe.001\" /OriginExe=\"Z:\\s\\setup.exe\"",
         engine + " /OriginExe=\"Z:\\s\\setup.exe\" /m /TH_ID=_42"},
        // Another letter case is another switch: the launcher's own goes in all the same.
        {"Engine.exe", "/originexe=x", engine + " /originexe=x /TH_ID=_42" + origin},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EngineCommandLine(Input(c.mainFile, c.extra)), c.line) << c.mainFile << " | " << c.extra;

    EngineCommandInput trailing = Input("Engine.exe", "");
    trailing.workFolder += "\\";
    EXPECT_EQ(EngineCommandLine(trailing), engine + " /TH_ID=_42" + origin);

    EngineCommandInput update = Input("Engine.exe", "/q");
    update.updateContainer = true;
    EXPECT_EQ(EngineCommandLine(update), engine + " /q /TH_ID=_42" + origin + " /AutoUpdateProg");
}

TEST(SetupText, TempDriveMessage)
{
    TempDriveTexts texts;
    texts.s2 = "S2 (<DRIVE>)";
    texts.s3 = "S3 (<DRIVE>)";
    texts.s4 = " need <SPACE_REQ>";
    texts.s5 = " have <SPACE_AVAIL>";
    texts.s6 = " go?";
    const struct {
        bool show;
        double required, available;
        const char* folder;
        const char* message;
    } cases[] = {
        {false, 1 * MB, 2 * MB, "c:\\temp\\SETUP_1", ""},
        {true, 1 * MB, 2 * MB, "c:\\temp\\SETUP_1", "S2 (C:) need 1.00 have 2.00 go?"},
        // Equal space is too little; "s3" replaces "s2".
        {false, 2 * MB, 2 * MB, "d:\\t", "S3 (D:) need 2.00 have 2.00 go?"},
        {true, 3 * MB, 2 * MB, "d:\\t", "S3 (D:) need 3.00 have 2.00 go?"},
        // Free space that could not be read counts as none.
        {false, 1024, -1, "C:\\t", "S3 (C:) need 0.001 have 0.000 go?"},
        {true, 0, 20 * MB, "", "S2 () need 0.000 have 20.0 go?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TempDriveMessage(c.show, c.required, c.available, c.folder, texts), c.message) << c.folder;

    // Every placeholder is filled, in its exact letter case only.
    texts.s2 = "<DRIVE><DRIVE><drive>";
    EXPECT_EQ(TempDriveMessage(true, 0, MB, "e:\\x", texts), "E:E:<drive> need 0.000 have 1.00 go?");
}

TEST(SetupText, HasRoom)
{
    EXPECT_TRUE(HasRoom(1, 2));
    EXPECT_FALSE(HasRoom(2, 2));
    EXPECT_FALSE(HasRoom(3, 2));
    EXPECT_FALSE(HasRoom(0, -1));
    EXPECT_EQ(DriveOfFolder("c:\\x"), "C:");
    EXPECT_EQ(DriveOfFolder(""), "");
}

TEST(SetupText, ChooseAlternativeDrive)
{
    const struct {
        char current;
        std::array<double, 3> available;  // C, D, E
        char chosen;
    } cases[] = {
        {'F', {10, 30, 20}, 'D'},
        {'F', {10, 20, 30}, 'E'},
        {'F', {30, 30, 20}, 'C'},   // equal space: the earlier letter
        {'F', {10, 30, 30}, 'D'},
        {'C', {30, 0, 0}, '\0'},    // only the temporary drive passed its probe
        {'c', {30, 0, 0}, '\0'},
        {'C', {10, 20, 0}, 'D'},
        {'D', {10, 20, 20}, '\0'},  // the temporary drive is the best one
        {'F', {0, 0, 0}, '\0'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseAlternativeDrive(c.current, c.available), c.chosen) << c.current;
    EXPECT_EQ(AlternativeTempRoot('D', false), "D:\\TEMP");
    EXPECT_EQ(AlternativeTempRoot('D', true), "D:\\TEMP\\TEMP");
}

TEST(SetupText, ExitCodesAreDistinctAndApplicationDefined)
{
    const uint32_t codes[] = {ExitCodeBadChecksum,      ExitCodeIncompleteSetup, ExitCodeUnpackError,
                              ExitCodeEngineNotStarted, ExitCodeDownloadFailed,  ExitCodeForeignSetup};
    for (size_t i = 0; i < std::size(codes); ++i) {
        EXPECT_NE(codes[i] & 0x20000000u, 0u);
        EXPECT_EQ(codes[i] & 0xC0000000u, 0u);  // no severity bits: no system status lookalike
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(codes[i] & 0xFF, codes[j] & 0xFF);  // distinct even in their low bytes
    }
}

}  // namespace

namespace {
// A stub image whose end-of-data field says `endOfData`, followed by `tail` filler bytes.
std::string ImageWithEndOfData(size_t size, uint32_t endOfData, size_t tail)
{
    std::string image = FakeStubImage(size);
    for (int k = 0; k < 4; ++k)
        image[252 + k] = static_cast<char>((endOfData >> (8 * k)) & 0xFF);
    return image + std::string(tail, '\x5A');
}
}  // namespace

TEST(SetupText, AgentCopyImageIsCutAtTheEndOfData)
{
    struct Case {
        size_t size;
        uint32_t endOfData;
        size_t tail;
        size_t expectedLength;
    };
    const Case cases[] = {
        {2000, 2000, 0, 2000},        // the trailer ends the file
        {2000, 2000, 9999, 2000},     // a signature after the build
        {2000, 2000, 10000, 2000},    // a long one too: the copy must still end with the trailer
        {2000, 2000, 250000, 2000},
        {2000, 0, 300, 2300},         // no end of data recorded: the trailer is the file's end
        {2000, 5000, 0, 2000},        // an end beyond the image is no end of data
    };
    for (const Case& c : cases) {
        const std::string image = ImageWithEndOfData(c.size, c.endOfData, c.tail);
        const std::string copy = AgentCopyImage(image);
        ASSERT_EQ(copy.size(), c.expectedLength) << c.size << "/" << c.endOfData << "/" << c.tail;
        EXPECT_EQ(copy[copy.size() - 5], 1);
        EXPECT_EQ(copy.substr(0, copy.size() - 5), image.substr(0, copy.size() - 5));
        EXPECT_EQ(copy.substr(copy.size() - 4), image.substr(copy.size() - 4, 4));
    }
    EXPECT_EQ(AgentCopyImage("abcde"), "abcde");
    EXPECT_EQ(AgentCopyImage(""), "");
    EXPECT_EQ(AgentCopyImage("abcdef"), std::string("a\x01") + "cdef");
}

TEST(SetupText, DownloadQuestionAndNoConnectionMessage)
{
    const std::pair<std::string, std::string> sizes[] = {
        {"10485760", "Size: 10.00 MB / 10.00"},
        {"", "Size: 0.000 MB / 0.000"},
        {"ten", "Size: 0.000 MB / 0.000"},
        {" 524288 ", "Size: 0.500 MB / 0.500"},
        {"4294967296", "Size: 0.000 MB / 0.000"},  // beyond 32 bits: no number
        {"209715200", "Size: 200.0 MB / 200.0"},
    };
    for (const auto& [size, expected] : sizes)
        EXPECT_EQ(DownloadQuestion("Size: <SIZE> MB / <SIZE>", size), expected) << size;
    EXPECT_EQ(NoConnectionMessage("No valid Internet Connection.", ""), "No valid Internet Connection.");
    EXPECT_EQ(NoConnectionMessage("No valid Internet Connection.", "offline"),
              "No valid Internet Connection.<P><P>offline");
}
