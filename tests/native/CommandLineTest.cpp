#include <gtest/gtest.h>

#include "util/CommandLine.h"

namespace {

TEST(CommandLine, TailDropsTheProgramName)
{
    const std::string exe = "C:\\Program Files\\App\\setup.exe";
    const struct {
        std::string line, tail;
    } cases[] = {
        {"\"C:\\Program Files\\App\\setup.exe\" /X", "/X"},
        {"\"C:\\Program Files\\App\\setup.exe\"", ""},
        {"C:\\Program Files\\App\\setup.exe", ""},
        {"setup.exe /a /b", "/a /b"},
        {"SETUP.EXE   /a ", "/a"},
        {"\"setup\" /a", "\"setup\" /a"},   // the name does not occur: the whole line
        {"other.exe /z", "other.exe /z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommandTailOf(c.line, exe), c.tail) << c.line;
}

TEST(CommandLine, SwitchValues)
{
    const struct {
        std::string tail, sw, value;
    } cases[] = {
        {"/WAIT=5 /X", "/WAIT=", "5"},
        {"/wait=5 /X", "/WAIT=", "5"},
        {"/A=1/B=2", "/A=", "1"},
        {"/A=1/B=2", "/B=", "2"},
        {"/X /AutoUpdateProg", "/AutoUpdateProg", "TRUE"},
        {"/AutoUpdateProg /X=1", "/AutoUpdateProg", ""},
        {"/OriginExe=\"C:\\a b\\x.exe\" /Y", "/OriginExe=", "C:\\a b\\x.exe"},
        {"/OriginExe=C:\\a b\\x.exe /Y", "/OriginExe=", "C:\\a"},
        {"/OriginExe=\"C:\\a b", "/OriginExe=", "C:\\a b"},   // unclosed quote runs to the end
        {"/Y", "/WAIT=", ""},
        {"/SpanCdLvl=", "/SpanCdLvl=", "TRUE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SwitchValueIn(c.tail, c.sw), c.value) << c.tail << " / " << c.sw;
}

TEST(CommandLine, SwitchIntAndPresence)
{
    EXPECT_EQ(SwitchIntIn("/SpanCdLvl=2", "/SpanCdLvl=", 1), 2);
    EXPECT_EQ(SwitchIntIn("/SpanCdLvl=", "/SpanCdLvl=", 1), 1);    // "TRUE"
    EXPECT_EQ(SwitchIntIn("/SpanCdLvl=x", "/SpanCdLvl=", 1), 1);
    EXPECT_EQ(SwitchIntIn("", "/SpanCdLvl=", 1), 1);
    EXPECT_EQ(SwitchIntIn("/SleepX=-5", "/SleepX=", -1), -5);
    EXPECT_TRUE(SwitchPresentIn("/a /AutoUpdateProg", "/autoupdateprog"));
    EXPECT_TRUE(SwitchPresentIn("/AutoUpdateProg /X=1", "/AutoUpdateProg"));
    EXPECT_FALSE(SwitchPresentIn("/a", "/b"));
    EXPECT_FALSE(SwitchPresentIn("/a", ""));
}

TEST(CommandLine, CommandLineValueReadsTheWholeLineAsAList)
{
    const std::string line = "\"C:\\s\\setup.exe\" /OriginExe=\"C:\\a b\\x.exe\" /Y";
    EXPECT_EQ(CommandLineValueIn(line, "/OriginExe", "def"), "C:\\a b\\x.exe");
    EXPECT_EQ(CommandLineValueIn(line, "/Missing", "def"), "def");
    EXPECT_EQ(CommandLineValueIn(line, "  ", "def"), "def");
    EXPECT_EQ(CommandLineValueIn("x.exe /OriginExe=", "/OriginExe", "def"), "");
}

}  // namespace
