#pragma once
// Loading system libraries safely. A setup is typically started from a downloads folder, where a
// planted DLL named like a system library would otherwise run inside the stub: libraries are
// only ever loaded from the system folder.
#include <windows.h>

#include <string>

#include "util/Handles.h"

// Restricts the process's DLL search to the system folder (and the application's own
// dependencies as the loader resolves them). Called first thing at start-up.
void RestrictDllSearch();
// Loads `name` (a bare file name such as "RICHED32.DLL") from the system folder only; null when
// it is not there.
HMODULE LoadSystemLibrary(const std::string& name);
// The address of `function` in the system library `library`; the module goes to the caller,
// who owns it. Null when the library or the function is missing.
FARPROC LoadProc(const std::string& library, const std::string& function, UniqueModule& module);
// The same, leaving the library loaded for the life of the process.
FARPROC LoadProc(const std::string& library, const std::string& function);
// Loads "shell32.dll", "USP10.dll", "MSLS31.dll" and "RICHED32.DLL" in this order without the
// system's error box; failures are ignored and nothing is unloaded.
void PreloadLibraries();
