#include "inet/InetHTTP.h"

namespace {
bool g_downloadAbort = false;
}  // namespace

bool DownloadAbortFlag() { return g_downloadAbort; }
void SetDownloadAbortFlag(bool on) { g_downloadAbort = on; }

void ReleaseWinINet()
{
    // Nothing binds the Internet library yet, so there is nothing to unload.
}
