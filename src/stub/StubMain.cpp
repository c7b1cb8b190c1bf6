// Process entry of the stub executable: make the process safe to run from a downloads folder,
// then hand over to the main routine and end with its exit code.
#include <windows.h>

#include <cstdlib>

#include "stub/Stub.h"
#include "util/SystemLibrary.h"

// An exception that nobody catches ends the program without the runtime's report: the report
// goes to a console a windowed program does not have, and its name demangler alone would add
// about 45 KB to every stub.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx

int main()
{
    // First of all, before anything can load a library by name: a setup usually runs from a
    // downloads folder, and a DLL planted there under the name of a system library would
    // otherwise be loaded into this process (the program's folder is searched first). From here
    // on names resolve in the system folder only, and the libraries the message boxes and
    // dialogs need are loaded from there and kept for the whole run.
    RestrictDllSearch();
    PreloadLibraries();

    RunStub();
    return StubExitCode();
}
