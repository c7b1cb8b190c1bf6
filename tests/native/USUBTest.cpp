#include <gtest/gtest.h>

#include "util/USUB.h"

namespace {

const std::string kNul(1, '\0');

TEST(SUB, CountNeedsAClosedList)
{
    const struct {
        std::string list;
        int32_t count;
    } cases[] = {{"", 0}, {"|", 0}, {"||", 1}, {"|a|b|", 2}, {"|a|b", 0}, {"*a*b*c*", 3}, {"|a||c|", 3}};
    for (const auto& c : cases)
        EXPECT_EQ(SUB::Count(c.list), c.count) << c.list;
}

TEST(SUB, ItemGivesTheDefaultForEmptyMissingAndUnclosedItems)
{
    const struct {
        std::string list;
        int32_t index;
        std::string expected;
    } cases[] = {
        {"|a|b|", 0, "a"}, {"|a|b|", 1, "b"},  {"|a||c|", 1, "x"}, {"|a||c|", 2, "c"}, {"|a|b|", 2, "x"},
        {"|a|b|", -1, "x"}, {"|a|b", 0, "a"},   {"|a|b", 1, "x"},   {"", 0, "x"},       {kNul, 0, "x"},
        {"||JAN|FEB|", 2, "FEB"}, {"#k=v#z#", 0, "k=v"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SUB::Item(c.list, c.index, "x"), c.expected) << c.list << " @" << c.index;
}

TEST(SUB, ItemIntAcceptsSignedDecimalsOnly)
{
    EXPECT_EQ(SUB::ItemInt("|12|abc|", 0, 7), 12);
    EXPECT_EQ(SUB::ItemInt("|12|abc|", 1, 7), 7);
    EXPECT_EQ(SUB::ItemInt("|-5|+6||", 0, 7), -5);
    EXPECT_EQ(SUB::ItemInt("|-5|+6||", 1, 7), 6);
    EXPECT_EQ(SUB::ItemInt("|-5|+6||", 2, 7), 7);
    EXPECT_EQ(SUB::ItemInt("|99999999999|", 0, 7), 7);  // beyond 32 bits
    EXPECT_EQ(SUB::ItemInt("| 12|", 0, 7), 7);
}

TEST(SUB, ValueLooksUpKeysIgnoringCase)
{
    const struct {
        std::string list, key, expected;
    } cases[] = {
        {"|Name = Val|x=1|", "name", " Val"},  // blank before "=" dropped, after it kept
        {"|a=|", "a", "<empty>"},
        {"|b=1|", "a", "<missing>"},
        {"|a=1", "a", "<missing>"},            // unclosed
        {"|a=1|", "a=", "1"},                  // no second "="
        {"| a=1|", "A", "1"},                  // one blank after the delimiter tolerated
        {"|ba=1|a=2|", "a", "2"},              // matches only at an item start
        {"|a=1|a=2|", "a", "1"},
        {"||", "a", "<missing>"},
        {"\x01" "FontSize=8" "\x01" "BtnText=|&OK|" "\x01", "btntext", "|&OK|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SUB::Value(c.list, c.key, "<missing>", "<empty>"), c.expected) << c.list << " / " << c.key;
}

TEST(SUB, SetItemGrowsAndChangesTheDelimiterWhenNeeded)
{
    EXPECT_EQ(SUB::SetItem("|a|", 3, "z"), "|a|||z|");
    EXPECT_EQ(SUB::SetItem("", 0, "z"), "|z|");
    EXPECT_EQ(SUB::SetItem("|a|b|", 0, "x"), "|x|b|");
    EXPECT_EQ(SUB::SetItem("|a|b|", 1, "x|y"), "*a*x|y*");
    EXPECT_EQ(SUB::SetItem("|a*|b|", 1, "x|y"), "^a*^x|y^");
    EXPECT_EQ(SUB::SetItem("|a|b|", -1, "x"), "|a|b|");
}

TEST(SUB, PickSeparatorUsesTheFirstFreeCharacter)
{
    const std::string joined = kNul + "a" + kNul + "b" + kNul;
    EXPECT_EQ(SUB::PickSeparator(joined), "|a|b|");
    EXPECT_EQ(SUB::PickSeparator(kNul + "|*^!~@#$&" + kNul), "\xFF|*^!~@#$&\xFF");
    const std::string full = kNul + "|*^!~@#$&\xFF" + kNul;
    EXPECT_EQ(SUB::PickSeparator(full), full);
    EXPECT_EQ(SUB::PickSeparator(""), "");
}

}  // namespace
