#pragma once
// The program's main routine: reads the own container, chooses the role and runs it.
#include <string>

class TGFileInfo;

// The program file's name without its folder.
std::string OwnFileName();
// The container of the program's own file; valid from the start of RunStub to its end.
TGFileInfo& OwnFileInfo();
// This executable is an auto-update agent (the container's role byte).
bool ThisIs_AutoUpdateProg();
// Window class of this run's main window, also the single-instance key.
const std::string& StubClassName();

// The process exit code: 0 unless the setup launch took over the setup engine's code.
int StubExitCode();
void SetStubExitCode(int code);

// Role tests, as the main routine evaluates them.
bool X_ExeIsRunning();
bool ThisIs_Plain_AutoUpdate_Exe();
bool ThisIs_X_AutoUpdate_Exe();
bool SpanCopyWanted();
bool IsSpanCopy();

void RunStub();
void DoRunStubWin();
// Starts the temp-folder copy of a multi-disk launcher and returns without waiting.
void RunSpanCopy();
