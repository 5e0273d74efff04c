#pragma once
// The simulated motion of the survey boat and its encoding into AHRS packets of each mode.

#include <cstdint>

namespace ahrs_sim {

// The boat's motion, fixed by the seed: roll and pitch sinusoids of a few degrees, a slow turn
// with a little yaw wobble, heave, and the sensor temperature near 25 degrees C.
struct MotionModel {
    uint64_t seed;
    double roll_amplitude_deg, roll_period_s, roll_phase;
    double pitch_amplitude_deg, pitch_period_s, pitch_phase;
    double heading0_deg, turn_rate_dps;
    double yaw_wobble_deg, yaw_wobble_period_s, yaw_wobble_phase;
    double heave_g, heave_period_s, heave_phase;
    double temp_base_c;
};

// What the sensors read at one instant, in engineering units.
struct SensorSample {
    double roll_deg, pitch_deg, yaw_deg;  // yaw in -180..180
    double gyro_dps[3];                   // body rates X, Y, Z
    double accel_g[3];                    // specific force X, Y, Z (level and still: 0, 0, -1)
    double mag_gauss[3];                  // earth field in the body axes
    double temp_c;
};

MotionModel make_motion(uint64_t seed);

// The sensors at time t_s of the motion. sequence selects the sensor noise, so a sample is a
// pure function of (model, t_s, sequence).
SensorSample sample_motion(const MotionModel& model, double t_s, uint64_t sequence);

// Writes one packet of the mode ('a', 'c' or 'r') for the sample with the given TAIL_WORD,
// checksum included, into packet (at least 30 bytes). Returns the packet length, 0 for any
// other mode letter.
uint32_t encode_packet(char mode, const SensorSample& sample, uint16_t tail_word, uint8_t* packet);

}  // namespace ahrs_sim
