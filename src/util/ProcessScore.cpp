#include "util/ProcessScore.h"

#include <algorithm>

std::vector<uint16_t> WindowScores(std::span<const WindowFacts> windows)
{
    const std::size_t count = std::min(windows.size(), kWindowTableSize);
    std::vector<uint16_t> scores(count, 0);
    // At most kWindowTableSize - 1 windows can be owned by one other, so the count shifted by 2
    // plus the two low bits stays far below 65536.
    for (std::size_t i = 0; i < count; ++i) {
        const int root = windows[i].rootOwner;
        if (root >= 0 && static_cast<std::size_t>(root) < count && static_cast<std::size_t>(root) != i)
            ++scores[static_cast<std::size_t>(root)];
    }
    for (std::size_t i = 0; i < count; ++i)
        scores[i] = static_cast<uint16_t>((scores[i] << 2) | (windows[i].hasTitle ? 2 : 0) |
                                          (windows[i].visible ? 1 : 0));
    return scores;
}

int MainWindowIndex(std::span<const WindowFacts> windows)
{
    const std::vector<uint16_t> scores = WindowScores(windows);
    int best = -1;
    uint16_t bestScore = 0;
    for (std::size_t i = 0; i < scores.size(); ++i)
        if (scores[i] > bestScore) {  // strictly greater: the first of equal scores stays
            bestScore = scores[i];
            best = static_cast<int>(i);
        }
    return best;
}
