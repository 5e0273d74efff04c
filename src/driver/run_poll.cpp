// What every wait of a run looks after.

#include "driver/run_poll.hpp"

#include <cerrno>
#include <cstring>

#include "platform/console.hpp"

namespace driver {
namespace {

bool poll_function(void* context, bool take_key) {
    return poll_run(static_cast<RunPoll*>(context), take_key);
}

void hold_function(void* context, bool held) {
    hold_gps(static_cast<RunPoll*>(context), held);
}

// Writes buffered records and sentences out at least once a second, so a crash loses little;
// what a flush has put in the gyro file is what its summary may claim.
void flush_files_if_due(RunPoll* state) {
    const uint32_t now = platform::elapsed_ms();
    if (now - state->last_flush_ms < kFlushIntervalMs) {
        return;
    }
    state->last_flush_ms = now;
    flush_gps_file(state);
    GyroFile& gyro = state->gyro;
    if (gyro.file == nullptr || gyro.failed) {
        return;
    }
    errno = 0;
    if (std::fflush(gyro.file) != 0) {
        report_gyro_write_failure(state, errno);
    } else if (gyro.records != nullptr) {
        gyro.on_disk = *gyro.records;
    }
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
    FILE* file = gyro.file;
    gyro.file = nullptr;
    if (gyro.failed) {
        (void)std::fclose(file);
        return false;
    }
    if (std::fclose(file) != 0) {
        std::fputs("Gyro - Error: Can't close the file\n", stderr);
        return false;
    }
    if (gyro.records != nullptr) {
        gyro.on_disk = *gyro.records;
    }
    return true;
}

}  // namespace driver
