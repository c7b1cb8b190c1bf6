#pragma once
// The plain agent never does update work itself: it copies itself to "X_" + its name in its own
// folder, starts that transient copy hidden, and forwards its control switches to the copy's
// window.

// The transient copy's window exists (its class is named after the agent).
bool X_ExeIsRunning();
// Makes and starts the transient copy (unless one runs, or "/_ZZ=99" asks for a fresh one).
void CreateAndRun_X_Exe();
// Posts the control switches ("/STOP=", "/WM_MSG=", "/TEST=") to the transient copy's window.
// True when anything was posted.
bool HandleParamOK(bool copyWasRunning);
