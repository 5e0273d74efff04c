#pragma once
// print_packet: the live console line of the gyro phase, rewritten in place.

#include <cstdint>

namespace ahrs {

// Shows the packet's converted values on standard output, ending with "\r" (no line feed).
// A mode other than 'a', 'c' and 'r' prints nothing.
void print_packet(char mode, const uint8_t* packet);

}  // namespace ahrs
