// Process entry of the stub executable: make the process safe to run from a downloads folder,
// then hand over to the main routine and end with its exit code.
#include <windows.h>

#include "stub/Stub.h"
#include "util/SystemLibrary.h"

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
