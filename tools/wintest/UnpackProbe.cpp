// ulvunpack: unpacks a container the way the launcher does and prints what the unpacking said.
//   ulvunpack CONTAINER DEST [--agent NAME] [--force-prompt] [--prompt TEXT] [--quiet]
// Prints "progress=KIND,MAX,POS,STEP" for every progress call (not with --quiet), then
// "verdict=TRUE|FALSE", "main=TEXT", "whole=TRUE|FALSE" (the whole payload was written) and "ms=T peakworkingset=BYTES peakprivate=BYTES"; a record
// that does not inflate prints "zliberror=TEXT" and exits with 3.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "pack/UnPack.h"
#include "util/Utils.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ulvunpack CONTAINER DEST [--agent NAME] [--force-prompt] [--prompt TEXT]\n");
        return 2;
    }
    std::string agent;
    std::string prompt = "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue";
    bool force = false;
    bool quiet = false;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--agent" && i + 1 < argc)
            agent = argv[++i];
        else if (arg == "--prompt" && i + 1 < argc)
            prompt = argv[++i];
        else if (arg == "--force-prompt")
            force = true;
        else if (arg == "--quiet")
            quiet = true;
    }
    bool verdict = false;
    std::string mainFile;
    bool whole = false;
    const ProgressFn progress = [quiet](int kind, int64_t maximum, int64_t position, int64_t step) {
        if (quiet)
            return;
        std::printf("progress=%d,%lld,%lld,%lld\n", kind, static_cast<long long>(maximum),
                    static_cast<long long>(position), static_cast<long long>(step));
        std::fflush(stdout);
    };
    const ULONGLONG started = GetTickCount64();
    try {
        whole = UnpackPayload(argv[1], argv[2], agent, verdict, progress, prompt, "Attention", "", 0, force, mainFile);
    } catch (const EZLibError& e) {
        std::printf("zliberror=%s\n", e.what());
        return 3;
    }
    std::printf("verdict=%s\nmain=%s\nwhole=%s\n", BoolText(verdict).c_str(), mainFile.c_str(),
                BoolText(whole).c_str());
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("ms=%llu peakworkingset=%llu peakprivate=%llu\n",
                static_cast<unsigned long long>(GetTickCount64() - started),
                static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                static_cast<unsigned long long>(counters.PeakPagefileUsage));
    return 0;
}
