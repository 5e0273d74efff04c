#pragma once
// The configuration of the open card: reset, calibration data, range and sample period, poll
// mode, calibration, sampling mode and encoders, each step with its messages.

#include <cstdint>
#include <cstdio>

#include "laser/laser_phase.hpp"

namespace laser {

// Writes text to stream and flushes it: every line of the laser phase reaches the console at
// once.
void say(FILE* stream, const char* text);

// Configures the open card step by step. Returns true when the card is ready for the motor;
// false when a step failed (its message said, and what the card tells about why). Leaves nothing
// to undo beyond the open card.
bool configure_card(const LaserSettings& settings, int32_t card);

}  // namespace laser
