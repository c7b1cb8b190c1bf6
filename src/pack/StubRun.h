#pragma once
// The run's process-wide state, as every worker sees it: the container of the program's own file,
// the stub window's narrow face (its status label, its two bars and their progress callback, the
// monitor a controlling program registered) and the process exit code. The entry and the window
// (stub/) fill it in and read it back; the launcher (setup/) and the agent (autoupdate/) only use
// it, so that neither has to reach up into the unit that runs them.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class TGFileInfo;

// --- the own container ---------------------------------------------------------------------------
// The container of the program's own file; before the run has read it (and after it has let go),
// an empty container stands in.
TGFileInfo& OwnFileInfo();
// Reads the container of `path` as the run's own; an empty path lets go of it.
void LoadOwnFileInfo(const std::string& path);
// This executable is an auto-update agent (the own container's role byte, kept from the load).
bool ThisIs_AutoUpdateProg();
// The program file's name without its folder.
std::string OwnFileName();

// --- the stub window, as the workers see it -------------------------------------------------------
struct StubWindowFace {
    HWND window = nullptr;
    HWND statusLabel = nullptr;
    HWND progressBar = nullptr;
    HWND activityBar = nullptr;
};
// Set by the window when it is created, cleared when it is gone.
void SetStubWindowFace(const StubWindowFace& face);
HWND StubWindow();
HWND StubStatusLabel();
HWND StubProgressBar();
HWND StubActivityBar();
// The progress callback handed to unpacking and downloads: kind 0 resets (maximum, position,
// step), kind 1 steps both bars once. Nothing without a window.
void StubProgress(int kind, int64_t maximum, int64_t position, int64_t step);

// The monitor window and message a controlling program registered (none at start).
void SetMonitor(HWND window, UINT message);
// Posts the monitor message (code, value) to the monitor window; nothing when either is 0.
void NotifyMonitor(WPARAM code, LPARAM value);

// --- the exit code ---------------------------------------------------------------------------------
// 0 unless a launch took over the setup engine's code or failed with one of its own.
int StubExitCode();
void SetStubExitCode(int code);
