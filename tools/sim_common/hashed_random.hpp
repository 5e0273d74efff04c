#pragma once
// Random values that are pure functions of (seed, stream, index): whatever a simulator draws
// depends only on its seed and what the value is for, never on the order or timing of draws.

#include <cstdint>

namespace sim_common {

// One step of splitmix64: a well mixed 64-bit value for each input.
uint64_t mix(uint64_t x);

// A uniform value in [0, 1) for (seed, stream, index).
double uniform(uint64_t seed, uint64_t stream, uint64_t index);

}  // namespace sim_common
