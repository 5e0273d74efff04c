#pragma once
// What every wait of a run looks after: the stop key, the once-a-second flush of the gyro and GPS
// files and the gyro file's write failures, the GPS receiver's bytes, and the live display line
// that messages must first end. The run's poll
// (make_poll) serves the gyro reads, the link start-up's waits and the laser phase's waits.

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
    uint32_t on_disk = 0;  // records the last successful flush or the close put in the file
    bool failed = false;   // a write or flush failed: the phase ends as q ends it
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

// The poll's work: flushes the gyro and GPS files when a second has passed, takes what the GPS
// port has waiting (receive_gps), takes one waiting key when
// take_key is set (not after q: keys typed after it wait for the laser phase), and returns true
// when the phase is to end: q taken, an interrupt, or a gyro file that failed.
bool poll_run(RunPoll* state, bool take_key);

// True when the phase is to end (as poll_run says, without doing anything).
bool stop_requested(const RunPoll& state);

// Moves off the live display line, when it is on screen, so that a message gets a line of its
// own.
void end_display_line(RunPoll* state);

// Reports the first write failure of the gyro file on stderr, with the system's reason for
// errno value `error`; the phase then ends as q ends it.
void report_gyro_write_failure(RunPoll* state, int error);

// Closes the gyro file at the end of the phase. Returns false when its records did not all reach
// it (a write or the close failed; the close's failure is reported): the file then holds the
// records of the last successful flush, which gyro.on_disk counts.
bool close_gyro_file(RunPoll* state);

}  // namespace driver
