// Path and registry-location texts of util/PathText.
#include "util/PathText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// The lead bytes of code page 932 (Shift-JIS); 0x95 0x5C is one character whose second byte is
// a backslash.
bool ShiftJisLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// 0x95 followed by a backslash: one double-byte character under ShiftJisLead.
const std::string Dbcs = "\x95"s + "\\";

struct PathCase {
    std::string path;
    bool flag;
    std::string expected;
};

TEST(PathText, SetTrailingBackslash)
{
    const PathCase cases[] = {
        {"C:\\", false, "C:"},
        {"C:", true, "C:\\"},
        {"\\", false, "\\"},            // too short to lose its backslash
        {"\\", true, "\\\\"},
        {"a\\", false, "a\\"},
        {"C:\\dir\\", false, "C:\\dir"},
        {"C:\\dir\\", true, "C:\\dir\\"},
        {"C:\\dir", true, "C:\\dir\\"},
        {"C:\\dir", false, "C:\\dir"},
        {"C:\\dir\\\\", false, "C:\\dir\\"},  // only one goes
        {"", false, ""},
        {"", true, "\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SetTrailingBackslashOf(c.path, c.flag), c.expected) << c.path << " " << c.flag;
}

TEST(PathText, StripTrailingBackslash)
{
    const struct {
        std::string path, expected;
    } cases[] = {
        {"\\", ""},
        {"C:\\dir\\", "C:\\dir"},
        {"C:\\", "C:"},
        {"a\\", "a"},
        {"C:\\dir", "C:\\dir"},
        {"C:\\dir\\\\", "C:\\dir\\"},
        {"", ""},
        {"a", "a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StripTrailingBackslashOf(c.path), c.expected) << c.path;
}

TEST(PathText, TrailingBackslashOfADoubleByteCharacterStays)
{
    const std::string path = "C:\\" + Dbcs;
    EXPECT_EQ(SetTrailingBackslashOf(path, false, ShiftJisLead), path);
    EXPECT_EQ(SetTrailingBackslashOf(path, true, ShiftJisLead), path + "\\");
    EXPECT_EQ(StripTrailingBackslashOf(path, ShiftJisLead), path);
    EXPECT_EQ(StripTrailingBackslashOf("x" + Dbcs, ShiftJisLead), "x" + Dbcs);
    // A single-byte code page sees a plain backslash there.
    EXPECT_EQ(SetTrailingBackslashOf(path, false), "C:\\\x95");
    EXPECT_EQ(StripTrailingBackslashOf(path), "C:\\\x95");
}

TEST(PathText, CollapseBackslashes)
{
    const PathCase cases[] = {
        {"\\\\server\\share\\x", false, "\\\\server\\share\\x"},   // network name keeps its pair
        {"\\\\\\server", false, "\\\\server"},
        {"\\\\\\\\server", false, "\\\\server"},
        {"C:\\\\dir\\\\x", false, "C:\\dir\\x"},
        {"C:\\\\\\dir", false, "C:\\dir"},
        {"C:\\dir\\\\", false, "C:\\dir\\\\"},    // the final pair is not scanned
        {"C:\\dir\\\\", true, "C:\\dir\\"},
        {"C:\\dir\\", true, "C:\\dir"},
        {"ab", false, "ab"},
        {"\\\\", false, "\\\\"},                  // too short to change
        {"\\\\", true, "\\"},
        {"\\", true, ""},
        {"xa\"\\\\by", false, "xa\"\\by"},
        {"\"a\"\\\\b\"", false, "\"a\"\\\\b\""},  // pair after the enclosing character stays
        {"\"a\\\\b\"", false, "\"a\\b\""},
        {"", true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CollapseBackslashesOf(c.path, c.flag), c.expected) << c.path << " " << c.flag;
}

TEST(PathText, CollapseBackslashesLeavesDoubleByteCharactersWhole)
{
    const struct {
        std::string path, singleByte, shiftJis;
    } cases[] = {
        // The pair after the double-byte character: its first backslash is the character's.
        {"C:\\" + Dbcs + "\\x", "C:\\\x95\\x", "C:\\" + Dbcs + "\\x"},
        // The same right after the first character, which the scan does not reach.
        {Dbcs + "\\x", "\x95\\x", Dbcs + "\\x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CollapseBackslashesOf(c.path, false), c.singleByte);
        EXPECT_EQ(CollapseBackslashesOf(c.path, false, ShiftJisLead), c.shiftJis);
    }
}

TEST(PathText, RegistryRootNames)
{
    const struct {
        std::string name;
        RegistryRootId root;
    } cases[] = {
        {"HKEY_CLASSES_ROOT", RegistryRootId::ClassesRoot},
        {"hkcr", RegistryRootId::ClassesRoot},
        {"HKEY_CURRENT_USER", RegistryRootId::CurrentUser},
        {"HKCU", RegistryRootId::CurrentUser},
        {"Hkey_Local_Machine", RegistryRootId::LocalMachine},
        {"HKLM", RegistryRootId::LocalMachine},
        {"HKEY_USERS", RegistryRootId::Users},
        {"hku", RegistryRootId::Users},
        {"HKEY_CURRENT_CONFIG", RegistryRootId::CurrentConfig},
        {"HKCC", RegistryRootId::CurrentConfig},
        {"HKEY_DYN_DATA", RegistryRootId::DynData},
        {"hkdd", RegistryRootId::DynData},
        {"HKEY_PERFORMANCE_DATA", RegistryRootId::CurrentUser},   // has no name here
        {" HKLM", RegistryRootId::CurrentUser},                   // not trimmed
        {"HKLM\\", RegistryRootId::CurrentUser},
        {"", RegistryRootId::CurrentUser},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegistryRootOf(c.name), c.root) << c.name;
}

TEST(PathText, SplitRegistryPath)
{
    const struct {
        std::string path;
        RegistryRootId root;
        std::string subkey;
    } cases[] = {
        {" hkcu\\Software\\X ", RegistryRootId::CurrentUser, "Software\\X"},
        {"HKLM", RegistryRootId::LocalMachine, ""},
        {"Software\\X", RegistryRootId::CurrentUser, "Software\\X"},
        {"HKXX\\A", RegistryRootId::CurrentUser, "A"},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", RegistryRootId::LocalMachine,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"},
        {"hkey_classes_root\\.txt", RegistryRootId::ClassesRoot, ".txt"},
        {"HKU\\.DEFAULT", RegistryRootId::Users, ".DEFAULT"},
        {"HKDD", RegistryRootId::DynData, ""},
        {"HKLM\\", RegistryRootId::LocalMachine, ""},
        {"HKLM\\\\A", RegistryRootId::LocalMachine, "\\A"},   // the rest as it is
        {"Hk", RegistryRootId::CurrentUser, ""},
        {"SOFTWARE\\HKLM", RegistryRootId::CurrentUser, "SOFTWARE\\HKLM"},
        {"  ", RegistryRootId::CurrentUser, ""},
    };
    for (const auto& c : cases) {
        const RegistryLocation location = SplitRegistryPathOf(c.path);
        EXPECT_EQ(location.root, c.root) << c.path;
        EXPECT_EQ(location.subkey, c.subkey) << c.path;
    }
}

TEST(PathText, RegistryDataText)
{
    const struct {
        uint32_t type;
        std::string data, text;
    } cases[] = {
        {4, "\xFF\xFF\xFF\xFF"s, "4294967295"},
        {4, "\x01\x00\x00\x00"s, "1"},
        {4, "\x78\x56\x34\x12"s, "305419896"},
        {4, "ab\0"s, "ab"},                      // not 4 bytes: as a string
        {4, "\x31\x32\x00\x00\x00\x00\x00\x00"s, "12"},
        {7, "a\0b\0\0"s, "a<0>b"},
        {7, "a\0\0b\0\0"s, "a<0><0>b"},
        {7, "abc"s, "abc"},
        {7, "\0\0\0"s, ""},
        {7, "a\0"s, "a"},                        // 2 bytes: as a string
        {1, "text\0junk"s, "text"},
        {2, "%TEMP%\\x\0"s, "%TEMP%\\x"},        // not expanded
        {3, "ab\0cd"s, "ab"},
        {11, "\x01\0\0\0\0\0\0\0"s, "\x01"},
        {1, ""s, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegistryDataText(c.type, c.data), c.text) << c.type << " " << c.text;
}

TEST(PathText, WindowsVersionKey)
{
    EXPECT_EQ(WindowsVersionKeyOf(true), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    EXPECT_EQ(WindowsVersionKeyOf(false), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
}

}  // namespace
