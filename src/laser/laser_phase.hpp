#pragma once
// run_laser_phase: the second phase of a run.

#include "driver/settings.hpp"

namespace laser {

// Runs the laser phase with the run settings; *stop_key is the console's last key, shared with
// the gyro phase. Returns the process exit status: 0 when the phase completes.
int run_laser_phase(const driver::RunSettings& settings, int* stop_key);

}  // namespace laser
