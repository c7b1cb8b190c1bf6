#pragma once
// Choosing the one top-level window of a process that counts as its main window. Portable: the
// Win32 side (Process.cpp) gathers the facts about each window, this unit only weighs them, so
// the weighing is tested without windows.
//
// A window scores four points for every recorded window whose chain of owners ends at it (a
// frame that owns tool windows and dialogs is the application's real main window), two points
// for a title and one for being visible. The first window with the highest score wins; when
// every score is 0 (only hidden, untitled, unowned windows) the process has no main window.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The table of one search holds this many windows; windows beyond it are ignored, both as
// candidates and as owned windows.
inline constexpr std::size_t kWindowTableSize = 2001;

struct WindowFacts {
    // Index (into the same array) of the window at the end of this window's chain of owners;
    // -1 when the window has no owner or its root owner is not among the recorded windows.
    int rootOwner = -1;
    bool hasTitle = false;
    bool visible = false;
};

// One score per window of the table (at most kWindowTableSize entries): the owned-window count
// shifted left by 2, bit 1 for a title, bit 0 for visibility.
std::vector<uint16_t> WindowScores(std::span<const WindowFacts> windows);
// Index of the main window, or -1 when there is none.
int MainWindowIndex(std::span<const WindowFacts> windows);
