#include "util/PathText.h"
#include "util/Process.h"

#include <tlhelp32.h>

#include <cstring>
#include <unordered_map>

#include "util/Handles.h"
#include "util/ProcessScore.h"
#include "util/SystemLibrary.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

// Process enumeration is bound at run time: "PSAPI.dll" is not on every system of the NT
// family, and the tool-help functions are missing from the kernel of the oldest ones.
using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using GetModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using Process32Fn = BOOL(WINAPI*)(HANDLE, tagPROCESSENTRY32*);

struct PsapiProcs {
    EnumProcessesFn enumProcesses = nullptr;
    GetModuleNameFn moduleFileName = nullptr;
    GetModuleNameFn moduleBaseName = nullptr;
    // Vista and later: reads the image name of a process of the other bitness too (the
    // 32-bit stub looking for a 64-bit product), and with the limited access that is granted
    // where full query access is refused.
    QueryFullProcessImageNameAFn imageName = nullptr;
};

const PsapiProcs& Psapi()
{
    static const PsapiProcs procs = [] {
        PsapiProcs p;
        p.enumProcesses = ProcAddressAs<EnumProcessesFn>(LoadProc("PSAPI.dll", "EnumProcesses"));
        p.moduleFileName = ProcAddressAs<GetModuleNameFn>(LoadProc("PSAPI.dll", "GetModuleFileNameExA"));
        p.moduleBaseName = ProcAddressAs<GetModuleNameFn>(LoadProc("PSAPI.dll", "GetModuleBaseNameA"));
        p.imageName = ProcAddressAs<QueryFullProcessImageNameAFn>(LoadProc("kernel32.dll", "QueryFullProcessImageNameA"));
        return p;
    }();
    return procs;
}

struct ToolHelpProcs {
    CreateToolhelp32SnapshotFn snapshot = nullptr;
    Process32Fn first = nullptr;
    Process32Fn next = nullptr;
    bool Usable() const { return snapshot && first && next; }
};

const ToolHelpProcs& ToolHelp()
{
    static const ToolHelpProcs procs = [] {
        ToolHelpProcs p;
        p.snapshot = ProcAddressAs<CreateToolhelp32SnapshotFn>(LoadProc("kernel32.dll", "CreateToolhelp32Snapshot"));
        // The names without a suffix are the 8-bit forms.
        p.first = ProcAddressAs<Process32Fn>(LoadProc("kernel32.dll", "Process32First"));
        p.next = ProcAddressAs<Process32Fn>(LoadProc("kernel32.dll", "Process32Next"));
        return p;
    }();
    return procs;
}

bool UsePsapi()
{
    return IsWindowsNT() && Psapi().enumProcesses && Psapi().moduleFileName;
}

// Room for any path the system hands out; a name that fills it is taken as cut off and unread,
// so that a truncated path can never match.
constexpr DWORD kNameRoom = 1024;

// The short (8.3) form of an existing file's path; empty when there is none.
std::string ShortForm(const std::string& path)
{
    if (path.empty())
        return "";
    char buf[kNameRoom] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buf, kNameRoom);
    return n > 0 && n < kNameRoom ? std::string(buf, n) : std::string();
}

// What a process is compared by, and the given path's side of it.
struct ProgramNames {
    std::string fullPath;
    std::string fileName;
};

struct Wanted {
    std::string path;
    std::string shortPath;   // "*XX*" when the path has no short form: equal to no real path
    bool fullPathOnly;
};

bool Matches(const ProgramNames& names, const Wanted& wanted)
{
    if (SameTrimmedText(names.fullPath, wanted.path))
        return true;
    if (!wanted.fullPathOnly && SameTrimmedText(names.fileName, wanted.path))
        return true;
    return SameTrimmedText(ShortForm(names.fullPath), wanted.shortPath);
}

// Module path and file name of a running process. Fresh buffers for every process: a process
// that cannot be opened or read gives false and never the names of the one before.
bool ReadProgramNames(DWORD processId, ProgramNames& names)
{
    names = {};
    const PsapiProcs& psapi = Psapi();
    char buf[kNameRoom] = {};
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (process) {
        const DWORD n = psapi.moduleFileName(process.Get(), nullptr, buf, kNameRoom);
        if (n > 0 && n < kNameRoom - 1) {
            names.fullPath.assign(buf, n);
            char base[kNameRoom] = {};
            const DWORD b = psapi.moduleBaseName ? psapi.moduleBaseName(process.Get(), nullptr, base, kNameRoom) : 0;
            names.fileName = b > 0 && b < kNameRoom - 1 ? std::string(base, b) : FileNamePart(names.fullPath);
            return true;
        }
    }
    if (!psapi.imageName)
        return false;
    if (!process)
        process.Reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return false;
    DWORD size = kNameRoom;
    if (!psapi.imageName(process.Get(), 0, buf, &size) || size == 0 || size >= kNameRoom - 1)
        return false;
    names.fullPath.assign(buf, size);
    names.fileName = FileNamePart(names.fullPath);
    return true;
}

DWORD FindWithPsapi(const Wanted& wanted, bool firstInList)
{
    const std::vector<DWORD> ids = ListProcessIds();
    DWORD found = 0;
    // From the end of the list: the first match met is the last one in the list.
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        ProgramNames names;
        if (!ReadProgramNames(*id, names) || !Matches(names, wanted))
            continue;
        found = *id;
        if (!firstInList)
            break;
    }
    return found;
}

template <class Visit>
void WalkSnapshot(Visit visit)
{
    const ToolHelpProcs& th = ToolHelp();
    if (!th.Usable())
        return;
    UniqueFile snapshot(th.snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return;
    tagPROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = th.first(snapshot.Get(), &entry); ok; ok = th.next(snapshot.Get(), &entry)) {
        if (!visit(entry))
            return;
        entry.dwSize = sizeof entry;
    }
}

DWORD FindWithToolHelp(const Wanted& wanted, bool firstInList)
{
    DWORD found = 0;
    WalkSnapshot([&](const tagPROCESSENTRY32& entry) {
        ProgramNames names;
        names.fullPath.assign(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile));
        names.fileName = FileNamePart(names.fullPath);
        if (names.fullPath.empty() || !Matches(names, wanted))
            return true;
        found = entry.th32ProcessID;
        return !firstInList;
    });
    return found;
}

struct WindowSearch {
    DWORD processId = 0;
    std::vector<HWND> windows;
};

// The input-method windows that the system gives every thread with windows ("Default IME",
// hidden and titled, and the text-services one) are not the program's own: counted, they would
// be taken for the main window of a program whose only window is hidden and untitled, and a
// close message would reach the input method instead of the program.
bool IsInputMethodWindow(HWND window)
{
    char cls[32] = {};
    const int n = GetClassNameA(window, cls, sizeof cls);
    const std::string name(cls, n > 0 ? static_cast<size_t>(n) : 0);
    return SameText(name, "IME") || SameText(name, "MSCTFIME UI");
}

BOOL CALLBACK RecordWindow(HWND window, LPARAM param)
{
    auto& search = *reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && !IsInputMethodWindow(window))
        search.windows.push_back(window);
    // A full table ends the enumeration; the windows beyond it are not looked at.
    return search.windows.size() < kWindowTableSize;
}

}  // namespace

std::vector<DWORD> ListProcessIds()
{
    if (const EnumProcessesFn enumProcesses = Psapi().enumProcesses) {
        // 1024 bytes at first, 1024 more as long as the system fills the buffer completely
        // (then it may have had more ids than room).
        constexpr size_t step = 1024 / sizeof(DWORD);
        std::vector<DWORD> ids(step);
        for (;;) {
            const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
            DWORD used = 0;
            if (!enumProcesses(ids.data(), room, &used))
                return {};
            if (used < room) {
                ids.resize(used / sizeof(DWORD));
                return ids;
            }
            ids.resize(ids.size() + step);
        }
    }
    std::vector<DWORD> ids;
    WalkSnapshot([&](const tagPROCESSENTRY32& entry) {
        ids.push_back(entry.th32ProcessID);
        return true;
    });
    return ids;
}

bool IsProcessIdAlive(DWORD processId)
{
    for (const DWORD id : ListProcessIds())
        if (id == processId)
            return true;
    return false;
}

DWORD FindProcessByPath(const std::string& path, bool fullPathOnly, bool firstInList)
{
    const std::string trimmed = Trim(path);
    if (trimmed.empty())
        return 0;
    const std::string shortPath = ShortForm(trimmed);
    const Wanted wanted{trimmed, shortPath.empty() ? "*XX*" : shortPath, fullPathOnly};
    return UsePsapi() ? FindWithPsapi(wanted, firstInList) : FindWithToolHelp(wanted, firstInList);
}

bool IsProcessRunning(const std::string& path)
{
    return FindProcessByPath(TrimAndStripQuotes(path, true), false, false) != 0;
}

void WaitWhileProcessRuns(const std::string& path, int64_t limitMs)
{
    const std::string program = TrimAndStripQuotes(path, true);
    const int64_t start = MillisecondClock();
    const auto limitPassed = [&] { return limitMs != 0 && MillisecondClock() - start > limitMs; };
    WaitPumping(0, 1000);
    if (UsePsapi()) {
        // One lookup by name, then only the cheap test of the id.
        const DWORD processId = FindProcessByPath(program, false, false);
        if (processId == 0)
            return;
        do
            WaitPumping(0, 1000);
        while (!limitPassed() && IsProcessIdAlive(processId));
        return;
    }
    do
        WaitPumping(0, 1000);
    while (!limitPassed() && IsProcessRunning(program));
}

HWND RootOwner(HWND window)
{
    HWND root = nullptr;
    // The system keeps owner chains free of cycles; the bound only guards against windows that
    // change while the chain is walked.
    for (int step = 0; window && step < 10000; ++step) {
        window = GetWindow(window, GW_OWNER);
        if (window)
            root = window;
    }
    return root;
}

HWND ProcessMainWindow(const std::string& path, bool fullPathOnly)
{
    WindowSearch search;
    search.processId = FindProcessByPath(path, fullPathOnly, false);
    if (search.processId == 0)
        return nullptr;
    search.windows.reserve(kWindowTableSize);
    EnumWindows(RecordWindow, reinterpret_cast<LPARAM>(&search));

    std::unordered_map<HWND, int> indexOf;
    for (size_t i = 0; i < search.windows.size(); ++i)
        indexOf.emplace(search.windows[i], static_cast<int>(i));
    std::vector<WindowFacts> facts(search.windows.size());
    for (size_t i = 0; i < search.windows.size(); ++i) {
        const HWND window = search.windows[i];
        if (const HWND root = RootOwner(window)) {
            const auto found = indexOf.find(root);
            if (found != indexOf.end())
                facts[i].rootOwner = found->second;
        }
        facts[i].hasTitle = !WindowText(window).empty();
        facts[i].visible = IsWindowVisible(window) != FALSE;
    }
    const int main = MainWindowIndex(facts);
    return main < 0 ? nullptr : search.windows[static_cast<size_t>(main)];
}

bool PostProcessMessage(const std::string& path, bool fullPathOnly, UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND window = ProcessMainWindow(path, fullPathOnly);
    return window && PostMessageA(window, message, wParam, lParam);
}

bool CloseProcessWindow(const std::string& path, bool fullPathOnly)
{
    return PostProcessMessage(path, fullPathOnly, WM_CLOSE, 15, 255);
}

bool QuitProcessWindow(const std::string& path, bool fullPathOnly)
{
    return PostProcessMessage(path, fullPathOnly, WM_QUIT, 15, 255);
}

bool TerminateProcessByPath(const std::string& path, bool fullPathOnly)
{
    const DWORD processId = FindProcessByPath(path, fullPathOnly, false);
    if (processId == 0)
        return false;
    UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    return process && TerminateProcess(process.Get(), 0);
}

void WaitWhileWindowExists(const std::string& className, const std::string& title)
{
    // Both sides open would stand for any window at all, and the wait would never end.
    if (className.empty() && title.empty())
        return;
    const char* cls = className.empty() ? nullptr : className.c_str();
    const char* text = title.empty() ? nullptr : title.c_str();
    while (FindWindowA(cls, text))
        PumpMessages(100);
}
