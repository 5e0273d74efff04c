#pragma once
// What every wait of a run looks after: the stop key, the once-a-second write-out of the gyro and
// GPS files to the storage device and the gyro file's write failures, the GPS receiver's bytes, and
// the live display line that messages must first end. The run's poll (make_poll) serves the gyro
// reads, the link start-up's waits and the laser phase's waits.

#include <cstdint>
#include <cstdio>

#include "driver/gps_recording.hpp"
#include "platform/poll.hpp"

namespace driver {

constexpr int kStopKey = 'q';  // both phases end on the lower-case q
constexpr int kIdleKey = '0';  // the stop key between the phases
constexpr uint32_t kFlushIntervalMs = 1000;

// The gyro file while the gyro phase writes it.
struct GyroFile {
    FILE* file = nullptr;
    const char* name = "";
    const uint32_t* records = nullptr;  // records handed to the stream so far (the recording's)
    uint32_t on_disk = 0;  // records the last completed write-out put on the storage device
    bool failed = false;   // a write or write-out failed: the phase ends as q ends it
};

struct RunPoll {
    int stop_key = kIdleKey;
    uint32_t last_flush_ms = 0;
    GyroFile gyro;
    bool* display_line_open = nullptr;  // the recording's live line, while it records
    GpsRecording gps;
};

// The poll of the run over state: see platform::Poll and poll_run; its hold is hold_gps.
platform::Poll make_poll(RunPoll* state);

// The poll's work: writes what is new in the gyro and GPS files out to the storage device when a
// second has passed (platform::flush_to_device), takes what the GPS port has waiting
// (receive_gps), takes one waiting key when take_key is set (not after q: keys typed after it
// wait for the laser phase), and returns true when the phase is to end: q taken, an interrupt,
// or a gyro file that failed.
bool poll_run(RunPoll* state, bool take_key);

// True when the phase is to end (as poll_run says, without doing anything).
bool stop_requested(const RunPoll& state);

// Moves off the live display line, when it is on screen, so that a message gets a line of its
// own.
void end_display_line(RunPoll* state);

// Reports the first write failure of the gyro file on stderr, with the system's reason for
// errno value `error`; the phase then ends as q ends it.
void report_gyro_write_failure(RunPoll* state, int error);

// Writes the gyro file out to the storage device and closes it at the end of the phase. Returns
// false when its records did not all reach the device (a write or the write-out failed, reported
// as a write failure, or the close failed, reported as such): gyro.on_disk then counts the
// records of the last completed write-out.
bool close_gyro_file(RunPoll* state);

}  // namespace driver
