#pragma once
#include <cstdint>

namespace platform {

// Milliseconds of the monotonic clock, wrapping at 2^32 like the classic tick counter.
// Durations are differences of two ticks in unsigned arithmetic, which stays right across a wrap.
std::uint32_t GetTickCount();

}  // namespace platform
