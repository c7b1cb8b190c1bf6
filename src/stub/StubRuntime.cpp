// The few pieces of the C++ runtime that the stub executable brings itself, on the system's own
// primitives. Every setup, web installer and installed agent carries the stub; the toolchain's
// versions of these pieces would bring along:
// - for the library's error reports (std::length_error, std::out_of_range and their kin), a
//   second, reference-counted string implementation with all its members, which the library
//   keeps for its exception classes (over 50 KB);
// - for guarded statics, per-thread exception state and the unwinder's one-time set-up, the POSIX
//   thread layer of the toolchain (about 30 KB).
// The stub itself uses Win32 threads and locks only, so nothing else needs that layer; a link
// that brings it in anyway fails with a duplicate pthread_once, and the cause shows in the map.
#include <windows.h>

#include <cxxabi.h>
#include <pthread.h>

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <utility>

namespace {

// What the library's logic_error and its kin carry: their text. The stub catches them only as
// std::exception (the launcher reports what() when the unpacking stops), so the text is all
// that must stay the same.
class LibraryError : public std::exception {
public:
    explicit LibraryError(std::string text) : text_(std::move(text)) {}
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// --- guarded statics --------------------------------------------------------------------------

// One lock and one wake-up for all guards: first initialisations are rare and short. A guard's
// first byte says "done" (the compiler's inline test reads it), its second byte "in progress".
SRWLOCK g_guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_guardChanged = CONDITION_VARIABLE_INIT;

unsigned char* GuardBytes(__cxxabiv1::__guard* guard)
{
    return reinterpret_cast<unsigned char*>(guard);
}

// --- per-thread exception state ---------------------------------------------------------------

// The layout the library's exception handling expects: the caught exceptions' stack and the
// count of exceptions in flight.
struct EhGlobals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

INIT_ONCE g_ehGlobalsOnce = INIT_ONCE_STATIC_INIT;
DWORD g_ehGlobalsSlot = FLS_OUT_OF_INDEXES;

// Called by the system when a thread ends: its state goes with it.
void WINAPI FreeEhGlobals(void* globals)
{
    if (globals)
        HeapFree(GetProcessHeap(), 0, globals);
}

BOOL CALLBACK AllocateEhGlobalsSlot(INIT_ONCE*, void*, void**)
{
    g_ehGlobalsSlot = FlsAlloc(FreeEhGlobals);
    return g_ehGlobalsSlot != FLS_OUT_OF_INDEXES;
}

EhGlobals* ThreadEhGlobals()
{
    // Without its state no exception can be thrown or caught on the thread: nothing to do but
    // end, as the library's own version does.
    if (!InitOnceExecuteOnce(&g_ehGlobalsOnce, AllocateEhGlobalsSlot, nullptr, nullptr))
        std::abort();
    auto* globals = static_cast<EhGlobals*>(FlsGetValue(g_ehGlobalsSlot));
    if (!globals) {
        globals = static_cast<EhGlobals*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(EhGlobals)));
        if (!globals || !FlsSetValue(g_ehGlobalsSlot, globals))
            std::abort();
    }
    return globals;
}

}  // namespace

namespace __cxxabiv1 {
extern "C" {

int __cxa_guard_acquire(__guard* guard)
{
    unsigned char* bytes = GuardBytes(guard);
    AcquireSRWLockExclusive(&g_guardLock);
    for (;;) {
        if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) {
            ReleaseSRWLockExclusive(&g_guardLock);
            return 0;  // another thread finished it meanwhile
        }
        if (bytes[1] == 0) {
            bytes[1] = 1;
            ReleaseSRWLockExclusive(&g_guardLock);
            return 1;  // this thread runs the initialisation
        }
        SleepConditionVariableSRW(&g_guardChanged, &g_guardLock, INFINITE, 0);
    }
}

void __cxa_guard_release(__guard* guard) noexcept
{
    unsigned char* bytes = GuardBytes(guard);
    AcquireSRWLockExclusive(&g_guardLock);
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&g_guardLock);
    WakeAllConditionVariable(&g_guardChanged);
}

void __cxa_guard_abort(__guard* guard) noexcept
{
    // The initialisation threw: the next one to come tries again.
    unsigned char* bytes = GuardBytes(guard);
    AcquireSRWLockExclusive(&g_guardLock);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&g_guardLock);
    WakeAllConditionVariable(&g_guardChanged);
}

__cxa_eh_globals* __cxa_get_globals() noexcept
{
    return reinterpret_cast<__cxa_eh_globals*>(ThreadEhGlobals());
}

__cxa_eh_globals* __cxa_get_globals_fast() noexcept
{
    return reinterpret_cast<__cxa_eh_globals*>(ThreadEhGlobals());
}

}  // extern "C"
}  // namespace __cxxabiv1

// The unwinder's one-time set-up (its register table and its lock). 0: not run, 1: running,
// 2: done; a second thread waits for the first.
extern "C" int pthread_once(pthread_once_t* once, void (*routine)(void))
{
    static_assert(sizeof(pthread_once_t) == sizeof(LONG));
    auto* state = reinterpret_cast<volatile LONG*>(once);
    if (InterlockedCompareExchange(state, 1, 0) == 0) {
        routine();
        InterlockedExchange(state, 2);
        return 0;
    }
    while (InterlockedCompareExchange(state, 2, 2) != 2)
        Sleep(1);
    return 0;
}

// The library's error reports, with the texts the library gives them.
namespace std {

void __throw_bad_alloc()
{
    throw bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw bad_array_new_length();
}

void __throw_logic_error(const char* text)
{
    throw LibraryError(text);
}

void __throw_length_error(const char* text)
{
    throw LibraryError(text);
}

void __throw_out_of_range_fmt(const char* format, ...)
{
    // The library's formats use %s, %zu and %% only.
    std::string text;
    va_list arguments;
    va_start(arguments, format);
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            const char* s = va_arg(arguments, const char*);
            text += s ? s : "(null)";
            ++p;
        } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
            text += to_string(va_arg(arguments, size_t));
            p += 2;
        } else if (p[0] == '%' && p[1] == '%') {
            text += '%';
            ++p;
        } else {
            text += *p;
        }
    }
    va_end(arguments);
    throw LibraryError(std::move(text));
}

}  // namespace std
