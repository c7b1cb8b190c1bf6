#pragma once
// A monotonic clock for seeds and intervals. The Windows build reads the system's performance
// counter itself: the C++ library's steady_clock goes through the POSIX thread layer of the
// toolchain, which would otherwise come into every stub.
#include <cstdint>

// Nanoseconds since an unspecified start, never going back.
uint64_t SteadyClockNanoseconds();
