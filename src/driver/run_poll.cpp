// The run's poll.

#include "driver/run_poll.hpp"

#include "platform/console.hpp"

namespace driver {
namespace {

bool poll_function(void* context, bool take_key) {
    return poll_run(static_cast<RunPoll*>(context), take_key);
}

void hold_function(void* context, bool held) {
    hold_gps(static_cast<RunPoll*>(context)->gps, held, platform::elapsed_ms());
}

// Writes buffered records and sentences out to the storage device at least once a second, so a
// power cut loses little.
void flush_files_if_due(RunPoll* state, uint32_t now) {
    if (now - state->last_flush_ms < kFlushIntervalMs) {
        return;
    }
    state->last_flush_ms = now;
    flush_gps_file(state->gps);
    write_out_gyro_file(state->gyro);
}

void take_key(RunPoll* state) {
    if (state->stop_key != kStopKey && platform::key_waiting()) {
        const int key = platform::read_key();
        if (key >= 0) {
            state->stop_key = key;
        }
    }
}

}  // namespace

platform::Poll make_poll(RunPoll* state) {
    return platform::Poll{poll_function, state, hold_function};
}

bool poll_run(RunPoll* state, bool take_key_now) {
    flush_files_if_due(state, platform::elapsed_ms());
    receive_gps(state->gps, platform::elapsed_ms());
    if (take_key_now) {
        take_key(state);
    }
    return state->stop_key == kStopKey || platform::interrupted() || state->gyro->file.failed;
}

}  // namespace driver
