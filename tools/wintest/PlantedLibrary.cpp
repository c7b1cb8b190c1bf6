// ulvplanted: a DLL that stands in for one planted by somebody else in a downloads folder under
// the name of a system library ("MSLS31.dll"). Whenever a process loads it, it appends the
// loading program's path to a marker file beside itself, named like the DLL with ".loaded"
// instead of ".dll". The stub, started from that folder, must never load it.
// Exported "Ping" lets rundll32 load it on purpose, to show that the marker works.
#include <windows.h>

#include <string>

namespace {

void WriteMarker(HMODULE self)
{
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    std::string marker(path, n);
    const size_t dot = marker.find_last_of('.');
    if (dot != std::string::npos && marker.find_first_of("\\/", dot) == std::string::npos)
        marker.resize(dot);
    marker += ".loaded";
    char program[MAX_PATH + 1] = {};
    const DWORD p = GetModuleFileNameA(nullptr, program, MAX_PATH);
    const std::string line = std::string(program, p < MAX_PATH ? p : 0) + "\r\n";
    const HANDLE file = CreateFileA(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        WriteMarker(instance);
    return TRUE;
}

extern "C" __declspec(dllexport) void CALLBACK Ping(HWND, HINSTANCE, LPSTR, int)
{
}
