// Process entry of the stub executable: make the process safe to run from a downloads folder,
// then hand over to the main routine and end with its exit code.
#include <windows.h>

#include "stub/Stub.h"

int main()
{
    RunStub();
    return StubExitCode();
}
