// Random values that are pure functions of their inputs.

#include "hashed_random.hpp"

namespace sim_common {

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double uniform(uint64_t seed, uint64_t stream, uint64_t index) {
    const uint64_t bits = mix(mix(seed ^ mix(stream)) ^ index);
    // The top 53 bits: every double in [0, 1) of that spacing equally likely.
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

}  // namespace sim_common
