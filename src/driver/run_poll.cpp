// What every wait of a run looks after.

#include "driver/run_poll.hpp"

#include <cstring>

#include "platform/console.hpp"
#include "platform/files.hpp"

namespace driver {
namespace {

bool poll_function(void* context, bool take_key) {
    return poll_run(static_cast<RunPoll*>(context), take_key);
}

void hold_function(void* context, bool held) {
    hold_gps(static_cast<RunPoll*>(context), held);
}

// Writes the gyro file's records out to the storage device; false after reporting a failure.
// What the last completed write-out covers is what the summary may claim.
bool write_out_gyro_file(RunPoll* state) {
    GyroFile& gyro = state->gyro;
    const uint32_t records = gyro.records != nullptr ? *gyro.records : gyro.on_disk;
    const int error = platform::flush_to_device(gyro.file);
    if (error != 0) {
        report_gyro_write_failure(state, error);
        return false;
    }
    gyro.on_disk = records;
    return true;
}

// Writes buffered records and sentences out to the storage device at least once a second, so a
// power cut loses little.
void flush_files_if_due(RunPoll* state) {
    const uint32_t now = platform::elapsed_ms();
    if (now - state->last_flush_ms < kFlushIntervalMs) {
        return;
    }
    state->last_flush_ms = now;
    flush_gps_file(state);
    const GyroFile& gyro = state->gyro;
    if (gyro.file == nullptr || gyro.failed || gyro.records == nullptr ||
        *gyro.records == gyro.on_disk) {
        return;  // nothing new since the last write-out
    }
    (void)write_out_gyro_file(state);
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
    flush_files_if_due(state);
    receive_gps(state);
    if (take_key_now) {
        take_key(state);
    }
    return stop_requested(*state);
}

bool stop_requested(const RunPoll& state) {
    return state.stop_key == kStopKey || platform::interrupted() || state.gyro.failed;
}

void end_display_line(RunPoll* state) {
    if (state->display_line_open != nullptr && *state->display_line_open) {
        std::fputc('\n', stdout);
        *state->display_line_open = false;
    }
}

void report_gyro_write_failure(RunPoll* state, int error) {
    if (state->gyro.failed) {
        return;
    }
    state->gyro.failed = true;
    end_display_line(state);
    char what[512];
    std::snprintf(what, sizeof what, "%s: %s", state->gyro.name, std::strerror(error));
    std::fprintf(stderr, "Gyro - Error: can't write the file %s\n", what);
}

bool close_gyro_file(RunPoll* state) {
    GyroFile& gyro = state->gyro;
    const bool written = !gyro.failed && write_out_gyro_file(state);
    FILE* file = gyro.file;
    gyro.file = nullptr;
    if (!written) {
        (void)std::fclose(file);
        return false;
    }
    if (std::fclose(file) != 0) {
        std::fputs("Gyro - Error: Can't close the file\n", stderr);
        return false;
    }
    return true;
}

}  // namespace driver
