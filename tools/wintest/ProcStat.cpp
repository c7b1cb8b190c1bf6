// ulvprocstat: what a running program costs, for the agent benchmark.
//   ulvprocstat PATH     finds the process running the program file PATH (full path) and prints
//       "cpu_ms=N handles=N gdi=N user=N private=BYTES peak_private=BYTES"
// Exits with 1 when no such process runs.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "util/Handles.h"
#include "util/Process.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ulvprocstat PATH\n");
        return 2;
    }
    const DWORD pid = FindProcessByPath(argv[1], true, true);
    const UniqueKernelHandle process(
        pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr);
    if (!process)
        return 1;
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(process.Get(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    DWORD handles = 0;
    GetProcessHandleCount(process.Get(), &handles);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(process.Get(), &counters, sizeof counters);
    std::printf("cpu_ms=%llu handles=%lu gdi=%lu user=%lu private=%llu peak_private=%llu\n",
                (ticks(kernel) + ticks(user)) / 10000, static_cast<unsigned long>(handles),
                static_cast<unsigned long>(GetGuiResources(process.Get(), GR_GDIOBJECTS)),
                static_cast<unsigned long>(GetGuiResources(process.Get(), GR_USEROBJECTS)),
                static_cast<unsigned long long>(counters.PagefileUsage),
                static_cast<unsigned long long>(counters.PeakPagefileUsage));
    return 0;
}
