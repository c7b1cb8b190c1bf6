#pragma once
// The stub window: one hidden top-level window with a status label, a progress bar and an
// activity bar, a 1000 ms timer that drives the launcher and the agent, and the mailbox of the
// agent's control messages.
#include <windows.h>

#include <cstdint>

constexpr UINT wm_ShutDown = WM_USER + 99;   // 1123: agent countdown := wParam
constexpr UINT wm_LocalMsg = WM_USER + 100;  // 1124: monitor registration
constexpr UINT wm_AgentMsg = WM_USER + 101;  // 1125: agent command, answered with its result

namespace StubWin {
// Creates the stub window, runs the message loop until it ends, then cleans up. (It lives in the
// unit's namespace because the global name belongs to the Windows entry point.)
void WinMain();
}  // namespace StubWin
LRESULT CALLBACK StubWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Ends the run: stops transfers, removes the setup work folder and ends the loop.
void DestroyMainWindow();
// True when the window may close now: a first request only stops a running transfer.
bool CloseMainWindow();
// Runs one agent command; unknown codes answer 0.
int32_t AgentCommand(int32_t code, int32_t value);
// The window's handles, its progress callback and the monitor registration are the run's
// (pack/StubRun.h): the launcher and the agent use them from there.
