#include <windows.h>

#include "inet/UProgBar.h"

#include <memory>
#include <utility>

#include "util/UtilsWin.h"

TProgBar::TProgBar(ProgressProcedure procedure) : procedure_(std::move(procedure)) {}

namespace {
// A transfer steps once per block, thousands of times a second: the messages that wait are let
// through every few milliseconds, never with a pause (a pause per block, a whole scheduler tick
// on Windows, would cap the transfer far below what the line delivers).
constexpr uint32_t kDispatchIntervalMs = 10;
}  // namespace

void TProgBar::ProgressStart(int64_t position, int64_t maximum)
{
    DispatchPendingMessages();
    if (OnText)
        OnText(*this, 1, position, std::string(), maximum);
    if (procedure_)
        procedure_(0, maximum, position, 1);
    DispatchPendingMessages();
}

void TProgBar::ProgressStep(const std::string& text)
{
    DispatchPendingMessagesEvery(kDispatchIntervalMs);
    if (OnText)
        OnText(*this, 2, 0, text, 0);
    if (procedure_)
        procedure_(1, 0, 0, 0);
    DispatchPendingMessagesEvery(kDispatchIntervalMs);
}

void TProgBar::ProgressCaption(const std::string& name)
{
    if (OnText)
        OnText(*this, 5, 0, name, 0);
    DispatchPendingMessages();
}

TProgBar& SharedProgBar(const ProgressProcedure& procedure)
{
    static const std::unique_ptr<TProgBar> shared = std::make_unique<TProgBar>(procedure);
    return *shared;
}
