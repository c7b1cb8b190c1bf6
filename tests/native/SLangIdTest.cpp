#include <gtest/gtest.h>

#include "ui/SLangId.h"
#include "util/USUB.h"

namespace {

TEST(SLangId, TableLayout)
{
    const std::string& names = LanguageNames();
    EXPECT_EQ(SUB::Count(names), 51);
    EXPECT_EQ(names.rfind("|AFRIKAANS    = 54|ALBANIAN     = 28|ARABIC       = 01|", 0), 0u);
    const std::string tail = "|SERBIAN(LATIN)       = 2074|SERBIAN(CYRILIC)     = 3098|";
    EXPECT_EQ(names.substr(names.size() - tail.size()), tail);
}

TEST(SLangId, NameForId)
{
    const struct {
        int id;
        const char* name;
    } cases[] = {
        {9, "ENGLISH"}, {7, "GERMAN"}, {26, "CROATIAN"}, {43, "DUTCH(STANDARD)"}, {46, "PORTUGUESE(BRAZIL)"},
        {52, "CHINESE(SIMPLIFIED)"}, {67, "DUTCH(FLEMISH)"}, {70, "PORTUGUESE(PORTUGAL)"}, {74, "SERBIAN(LATIN)"},
        {98, "SERBIAN(CYRILIC)"}, {1, "ARABIC"}, {0, ""}, {23, ""}, {32, ""}, {40, ""}, {44, ""}, {47, ""},
        {2052, "CHINESE(SIMPLIFIED)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageNameForId(c.id), c.name) << c.id;
}

TEST(SLangId, PosixLocales)
{
    EXPECT_EQ(LanguageNameForId(PrimaryLanguageIdFromPosixLocale("de_DE.UTF-8")), "GERMAN");
    EXPECT_EQ(LanguageNameForId(PrimaryLanguageIdFromPosixLocale("he_IL")), "HEBREW");
    EXPECT_EQ(LanguageNameForId(PrimaryLanguageIdFromPosixLocale("C")), "ENGLISH");
    EXPECT_EQ(LanguageNameForId(PrimaryLanguageIdFromPosixLocale("")), "ENGLISH");
}

TEST(SLangId, LauncherTextDefaults)
{
    EXPECT_EQ(LauncherTextDefault("s0"), "Ulvane Installation Suite");
    EXPECT_EQ(LauncherTextDefault("s8"), "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue");
    EXPECT_EQ(LauncherTextDefault("BtnText"), "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|");
    EXPECT_EQ(LauncherTextDefault("s9"), "");  // the launcher has no "s9"
    EXPECT_EQ(LauncherTextDefault("S0"), "");  // keys are looked up as written
}

}  // namespace
