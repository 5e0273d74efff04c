// The simulators' clock.

#include "clock.hpp"

#include <time.h>

namespace sim_common {

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

}  // namespace sim_common
