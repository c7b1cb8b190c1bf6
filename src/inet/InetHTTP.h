#pragma once
// The binding to the Internet library and the downloads made through it.

// Set to stop a running transfer after its current block (a close request, the end of the run).
bool DownloadAbortFlag();
void SetDownloadAbortFlag(bool on);
// Unloads the Internet library when it was loaded; nothing otherwise.
void ReleaseWinINet();
