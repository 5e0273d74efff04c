#pragma once
// run_laser_phase: the second phase of a run, with its settings.

#include <cstdint>

#include "platform/poll.hpp"

namespace laser {

// What the laser phase takes from the run's settings.
struct LaserSettings {
    const char* laser_file = nullptr;
    int32_t laser_port = 1;
    int32_t board_number = 1;
    int32_t sample_period = 20;  // microseconds
    int32_t lines = 200;         // lines of 5000 samples to capture
    int32_t max_range = 650;     // inches
    int32_t motor_number = 1;
    int32_t motor_power = 255;  // 255 = highest speed
};

// Runs the laser phase. The run's poll is called once per captured line, taking a key (asking
// to end stops the capture after that line), and, without taking keys, in slices of the set-up's
// sleeps (asking to end cuts them short): a key typed during the set-up is seen at the end of the
// first line. The poll is held (Poll::hold) from the motor's start until the motor has stopped.
// Returns the process exit status: 0 when the phase completes (all lines, or stopped
// by q), 2 when it failed, 130 after an interrupt.
int run_laser_phase(const LaserSettings& settings, const platform::Poll& poll);

}  // namespace laser
