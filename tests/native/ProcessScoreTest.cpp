#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/ProcessScore.h"

namespace {

// Short names for the kinds of window the searches meet.
const WindowFacts hu{};                      // hidden, untitled, no owner
const WindowFacts ht{-1, true, false};       // hidden, titled
const WindowFacts vu{-1, false, true};       // visible, untitled
const WindowFacts vt{-1, true, true};        // visible, titled
WindowFacts OwnedBy(int root, WindowFacts w = hu)
{
    w.rootOwner = root;
    return w;
}

TEST(ProcessScore, ScoresCountOwnedWindowsThenTitleThenVisibility)
{
    const std::vector<WindowFacts> windows = {
        hu, ht, vu, vt,
        OwnedBy(0), OwnedBy(0, vt),          // window 0 owns two windows
        OwnedBy(3),                          // window 3 owns one
        OwnedBy(-1, vt),                     // root owner not among the recorded windows
    };
    const std::vector<uint16_t> expected = {8, 2, 1, 7, 0, 3, 0, 3};
    EXPECT_EQ(WindowScores(windows), expected);
}

TEST(ProcessScore, MainWindowIsTheFirstWithTheHighestScoreAboveZero)
{
    const struct {
        std::string what;
        std::vector<WindowFacts> windows;
        int main;
    } cases[] = {
        {"no windows", {}, -1},
        {"one hidden untitled window", {hu}, -1},
        {"only hidden untitled windows", {hu, hu, hu}, -1},
        {"hidden titled before visible titled", {ht, vt}, 1},
        {"visible titled before hidden titled", {vt, ht}, 0},
        {"a title outweighs visibility", {vu, ht}, 1},
        {"a visible untitled window is enough", {hu, vu}, 1},
        {"equal scores: the first", {ht, vt, vt}, 1},
        {"an owner of two beats both", {ht, vt, hu, OwnedBy(2), OwnedBy(2)}, 2},
        {"an owner of one beats a visible titled window", {vt, hu, OwnedBy(1)}, 1},
        {"owned windows do not vote for themselves", {OwnedBy(1, vt), hu}, 1},
        {"an owner outside the table earns nothing", {OwnedBy(-1, ht), OwnedBy(-1)}, 0},
        {"invalid owner indexes are ignored", {OwnedBy(7), OwnedBy(-5), OwnedBy(2), ht}, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MainWindowIndex(c.windows), c.main) << c.what;
}

TEST(ProcessScore, WindowsBeyondTheTableAreIgnored)
{
    const int size = static_cast<int>(kWindowTableSize);
    ASSERT_EQ(size, 2001);
    const struct {
        std::string what;
        std::vector<WindowFacts> windows;
        int main;
    } cases[] = {
        {"the last window of the table counts",
         [&] { std::vector<WindowFacts> w(2500, hu); w[size - 1] = vt; return w; }(), size - 1},
        {"the first window beyond the table does not",
         [&] { std::vector<WindowFacts> w(2500, hu); w[size] = vt; return w; }(), -1},
        {"an owner beyond the table earns nothing",
         [&] { std::vector<WindowFacts> w(2500, OwnedBy(2100)); w[2100] = vt; return w; }(), -1},
        {"owned windows beyond the table do not vote",
         [&] {
             std::vector<WindowFacts> w(size, hu);
             w[1] = vt;
             w.resize(2500, OwnedBy(0));   // 499 votes for window 0, all beyond the table
             return w;
         }(), 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MainWindowIndex(c.windows), c.main) << c.what;
}

TEST(ProcessScore, AFullTableOfOwnedWindowsStaysInSixteenBits)
{
    // Every other window of the table is owned by window 0: the largest score there can be.
    std::vector<WindowFacts> windows(3000, OwnedBy(0));
    windows[0] = vt;
    const std::vector<uint16_t> scores = WindowScores(windows);
    ASSERT_EQ(scores.size(), kWindowTableSize);
    EXPECT_EQ(scores[0], (2000 << 2) | 3);
    EXPECT_EQ(scores[kWindowTableSize - 1], 0);
    EXPECT_EQ(MainWindowIndex(windows), 0);
}

}  // namespace
