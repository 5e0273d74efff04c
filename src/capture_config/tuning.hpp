#pragma once
// Process tuning for a capture: priority above normal, affinity to the first processor, priority
// back to normal. Each returns 1 on success, else 0 after a message on standard output with the
// error code in decimal and in hexadecimal and the system's text for it.

#include <cstdint>

namespace capture_config {

int32_t set_priority_above_normal();
int32_t set_affinity_first_cpu();
int32_t set_priority_normal();

}  // namespace capture_config
