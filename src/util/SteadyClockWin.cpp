#include <windows.h>

#include "util/SteadyClock.h"

uint64_t SteadyClockNanoseconds()
{
    // The counter never fails from Windows XP on; its frequency is fixed at boot.
    LARGE_INTEGER frequency{}, count{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    const uint64_t f = frequency.QuadPart > 0 ? static_cast<uint64_t>(frequency.QuadPart) : 1;
    const uint64_t c = static_cast<uint64_t>(count.QuadPart);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return c / f * 1000000000ULL + c % f * 1000000000ULL / f;
}
