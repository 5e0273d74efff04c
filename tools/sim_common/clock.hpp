#pragma once
// The simulators' clock: nanoseconds of the monotonic clock, and the units times are given in.

#include <cstdint>

namespace sim_common {

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

// Nanoseconds of CLOCK_MONOTONIC: every time the simulators keep is on this clock.
int64_t monotonic_ns();

}  // namespace sim_common
