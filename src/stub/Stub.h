#pragma once
// The program's main routine: reads the own container, chooses the role and runs it.
#include <string>

#include "pack/StubRun.h"  // the own container, the window face and the exit code of the run

// Window class of this run's main window, also the single-instance key.
const std::string& StubClassName();

// Role tests, as the main routine evaluates them.
bool ThisIs_Plain_AutoUpdate_Exe();
bool ThisIs_X_AutoUpdate_Exe();
bool SpanCopyWanted();
bool IsSpanCopy();

void RunStub();
void DoRunStubWin();
// Starts the temp-folder copy of a multi-disk launcher and returns without waiting.
void RunSpanCopy();
