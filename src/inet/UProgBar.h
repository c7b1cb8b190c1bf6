#pragma once
// The progress notifier handed to a download: it forwards the start, each step and the item name
// of a transfer to the progress procedure of the window that shows it, and to an optional text
// handler, and lets waiting window messages through around each notification so that the window
// stays responsive and a close request can stop the transfer.
#include <cstdint>
#include <functional>
#include <string>

class TProgBar;

// Kind 0 resets the bar (maximum, position, step), kind 1 steps it once: the same contract as
// the unpacking's progress callback.
using ProgressProcedure = std::function<void(int kind, int64_t maximum, int64_t position, int64_t step)>;
// Receives (the notifier, event kind, a number, a text, a second number); kinds: 1 start
// (position, maximum), 2 step (the progress text), 5 item name.
using ProgressTextHandler =
    std::function<void(TProgBar& bar, int kind, int64_t number, const std::string& text, int64_t number2)>;

class TProgBar {
public:
    explicit TProgBar(ProgressProcedure procedure);

    // Optional; the product itself never shows the texts, a test or a tool may.
    ProgressTextHandler OnText;

    // Resets the bar to the range 0..maximum at `position`, stepping by one.
    void ProgressStart(int64_t position, int64_t maximum);
    // One step, with the transfer's progress text.
    void ProgressStep(const std::string& text);
    // Someone reads the texts: a transfer formats its progress text only then.
    bool WantsText() const { return static_cast<bool>(OnText); }
    // The name of the item being transferred (only the text handler sees it).
    void ProgressCaption(const std::string& name);

private:
    ProgressProcedure procedure_;
};

// The program's one notifier, created on first use with `procedure` and kept for the run; later
// calls return it unchanged.
TProgBar& SharedProgBar(const ProgressProcedure& procedure);
