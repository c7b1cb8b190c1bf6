#pragma once
// Loading system libraries safely. A setup is typically started from a downloads folder, where a
// planted DLL named like a system library would otherwise run inside the stub: libraries are
// only ever loaded from the system folder.
#include <windows.h>

#include <string>

#include "util/Handles.h"

// Restricts every later load by bare name, ours and those system libraries make for us, to the
// system folder: neither the program's folder nor the current folder is searched. Called first
// thing at start-up; it cannot reach back to the program's own imports, which the loader bound
// before any code ran (those must be libraries the system always takes from its own folder).
void RestrictDllSearch();
// Loads `name` (a bare file name such as "RICHED32.DLL") from the system folder only, by its
// full path, never by a search; null when it is not there or `name` is not a bare file name.
HMODULE LoadSystemLibrary(const std::string& name);
// The address of `function` in the system library `library`; the module goes to the caller,
// who owns it. Null when the library or the function is missing.
FARPROC LoadProc(const std::string& library, const std::string& function, UniqueModule& module);
// The same, leaving the library loaded for the life of the process (a library without the
// function is released again).
FARPROC LoadProc(const std::string& library, const std::string& function);
// An address from GetProcAddress or LoadProc as the function type it really has, for example
// ProcAddressAs<BOOL(WINAPI*)(DWORD)>(p); null stays null. (The detour through a parameterless
// void function is the conversion the compiler accepts without a cast-function-type warning.)
template <class Function>
Function ProcAddressAs(FARPROC proc)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
// Loads "shell32.dll", "USP10.dll", "MSLS31.dll" and "RICHED32.DLL" in this order without the
// system's error box; failures are ignored and nothing is unloaded.
void PreloadLibraries();
