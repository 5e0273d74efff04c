// The run sequence.

#include "driver/run.hpp"

#include <cstdio>

#include "ahrs/record.hpp"
#include "driver/gps_recording.hpp"
#include "driver/gyro_phase.hpp"
#include "driver/gyro_port.hpp"
#include "driver/gyro_recording.hpp"
#include "driver/run_poll.hpp"
#include "driver/settings.hpp"
#include "laser/laser_phase.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

// The two device recordings of the run, which the run's poll serves. Process-wide: the gyro
// recording's framer buffer is kept off the stack.
GyroRecording gyro_recording;
GpsRecording gps_recording;

// Creates the GPS file, opens the gyro port, starts the GPS receiver beside it and runs the gyro
// phase. Returns true when the unit answered and the phase recorded; false after a failure that
// was reported (the GPS file or the gyro port), or when the unit never answered.
bool record_gyro(const RunSettings& settings, RunPoll* poll) {
    if (!create_gps_file(poll->gps, settings)) {
        return false;
    }
    poll->gyro->port = open_gyro_port(settings, true);
    if (poll->gyro->port == INVALID_HANDLE_VALUE) {
        return false;
    }
    start_gps(poll->gps, platform::elapsed_ms());
    poll->last_flush_ms = platform::elapsed_ms();
    return run_gyro_phase(settings, poll->gyro, make_poll(poll));
}

// The phases on the open gyro file, with the GPS receiver recorded beside them; returns the exit
// code. The gyro file is closed here, at the end of the gyro phase, whatever its outcome.
int run_phases(const RunSettings& settings, RunPoll* poll) {
    const bool recorded = record_gyro(settings, poll);
    const bool file_complete = close_gyro_file(poll->gyro, recorded);
    if (!recorded) {
        return kExitStartupFailure;
    }
    print_gyro_summary(*poll->gyro);
    if (!file_complete) {
        return kExitStartupFailure;
    }
    if (platform::interrupted()) {
        return platform::kExitInterrupted;
    }

    poll->stop_key = kIdleKey;
    std::fputs("before hsifdllinit\n", stdout);
    return laser::run_laser_phase(settings, make_poll(poll));
}

}  // namespace

int run(int argc, char** argv) {
    // Console lines go out as they are written, also on a pipe.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    RunSettings settings;
    std::fputs("Version 1.1\n", stdout);
    parse_command_line(argc, argv, &settings);
    if (!check_settings(&settings)) {
        return kExitStartupFailure;
    }
    ahrs::time_rate = settings.time_rate;
    platform::install_interrupt_handler();
    platform::console_init();

    gyro_recording_start(&gyro_recording, settings);
    if (!open_gyro_file(&gyro_recording, settings.gyro_file)) {
        return kExitStartupFailure;
    }
    RunPoll poll{kIdleKey, 0, &gyro_recording, &gps_recording};
    const int status = run_phases(settings, &poll);
    // A GPS file that could not be written fails a run that otherwise went well.
    const bool gps_complete = end_gps(&gps_recording, platform::elapsed_ms());
    return status == kExitOk && !gps_complete ? kExitStartupFailure : status;
}

}  // namespace driver
