#include "util/SystemLibrary.h"

namespace {

// LoadLibraryEx understands the LOAD_LIBRARY_SEARCH_... flags only where SetDefaultDllDirectories
// exists (Windows 8, or Windows 7 and Vista with the loader update); elsewhere it rejects them.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryAFn = BOOL(WINAPI*)(LPCSTR);
using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);

// kernel32 is mapped into every process before any code of ours runs, and by the loader from
// its known location, so asking its handle is no search.
FARPROC Kernel32Proc(const char* name)
{
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

bool SearchFlagsSupported()
{
    static const bool supported = Kernel32Proc("SetDefaultDllDirectories") != nullptr;
    return supported;
}

bool IsBareFileName(const std::string& name)
{
    return !name.empty() && name.find_first_of("\\/:") == std::string::npos && name != "." && name != "..";
}

}  // namespace

void RestrictDllSearch()
{
    // Every later load by name, ours or one a system library makes on our behalf, looks in the
    // system folder only: never in the program's folder (a downloads folder, where anybody may
    // have left a DLL) nor in the current folder.
    if (const auto setDefault = ProcAddressAs<SetDefaultDllDirectoriesFn>(Kernel32Proc("SetDefaultDllDirectories")))
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without that function (older systems) at least the current folder leaves the search order;
    // where it exists this is harmless.
    if (const auto setDllDirectory = ProcAddressAs<SetDllDirectoryAFn>(Kernel32Proc("SetDllDirectoryA")))
        setDllDirectory("");
    // SearchPath, which some system functions use to find files, looks in the current folder
    // last instead of first.
    if (const auto setSearchPathMode = ProcAddressAs<SetSearchPathModeFn>(Kernel32Proc("SetSearchPathMode")))
        setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

HMODULE LoadSystemLibrary(const std::string& name)
{
    // A name with a folder in it would defeat the point; the callers only ever pass bare names.
    if (!IsBareFileName(name))
        return nullptr;
    char folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryA(folder, sizeof folder);
    if (n == 0 || n >= sizeof folder)
        return nullptr;
    std::string path(folder, n);
    if (path.back() != '\\')
        path += '\\';
    path += name;
    // The full path fixes the library itself; the flag fixes where its own dependencies are
    // looked for: the system folder alone where the system knows that flag, otherwise the
    // library's folder (the system folder) first.
    const DWORD flags = SearchFlagsSupported() ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path.c_str(), nullptr, flags);
}

FARPROC LoadProc(const std::string& library, const std::string& function, UniqueModule& module)
{
    module.Reset(LoadSystemLibrary(library));
    if (!module || function.empty())
        return nullptr;
    return GetProcAddress(module.Get(), function.c_str());
}

FARPROC LoadProc(const std::string& library, const std::string& function)
{
    UniqueModule module;
    const FARPROC proc = LoadProc(library, function, module);
    // Found: the library stays for the life of the process, as the address is used until then.
    // Not found: nothing refers to it and it goes again.
    if (proc)
        module.Release();
    return proc;
}

void PreloadLibraries()
{
    // Loaded once at start-up and kept: the shell, and the text layout and rich-edit libraries
    // that the message boxes and the inform dialog need. A missing one (MSLS31.dll is absent
    // from newer systems) is no error, and must not show the system's "cannot find" box.
    for (const char* name : {"shell32.dll", "USP10.dll", "MSLS31.dll", "RICHED32.DLL"}) {
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        static_cast<void>(LoadSystemLibrary(name));   // kept loaded on purpose: never freed
        SetErrorMode(previous);
    }
}
