#pragma once
// The run's poll: what every wait of a run looks after, as a dispatcher over the two device
// recordings it is given: the stop key, the once-a-second write-out of the gyro and GPS files to
// the storage device, and the GPS receiver's bytes. It serves the gyro reads, the link start-up's
// waits and the laser phase's waits (make_poll).

#include <cstdint>

#include "driver/gps_recording.hpp"
#include "driver/gyro_recording.hpp"
#include "platform/poll.hpp"

namespace driver {

constexpr int kStopKey = 'q';  // both phases end on the lower-case q
constexpr int kIdleKey = '0';  // the stop key between the phases
constexpr uint32_t kFlushIntervalMs = 1000;

// The poll's own state and the recordings it serves; the run owns all three.
struct RunPoll {
    int stop_key = kIdleKey;
    uint32_t last_flush_ms = 0;
    GyroRecording* gyro = nullptr;
    GpsRecording* gps = nullptr;
};

// The poll of the run over state: see platform::Poll and poll_run; its hold is hold_gps.
platform::Poll make_poll(RunPoll* state);

// The poll's work: writes what is new in the gyro and GPS files out to the storage device when a
// second has passed since the last write-out (write_out_gyro_file, flush_gps_file), takes what
// the GPS port has waiting (receive_gps), takes one waiting key when take_key is set (not after
// q: keys typed after it wait for the laser phase), and returns true when the phase is to end: q
// taken, an interrupt, or a gyro file that failed.
bool poll_run(RunPoll* state, bool take_key);

}  // namespace driver
