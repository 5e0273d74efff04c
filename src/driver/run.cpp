// The run sequence.

#include "driver/run.hpp"

#include <cstdio>

#include "ahrs/record.hpp"
#include "driver/gps_recording.hpp"
#include "driver/gyro_phase.hpp"
#include "driver/gyro_port.hpp"
#include "driver/run_poll.hpp"
#include "driver/settings.hpp"
#include "laser/laser_phase.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

// The phases on the open gyro port, with the GPS receiver recorded beside them; returns the exit
// code.
int run_phases(const RunSettings& settings, HANDLE gyro_port, RunPoll* run_poll) {
    start_gps(&run_poll->gps);
    switch (run_gyro_phase(settings, gyro_port, run_poll)) {
        case kGyroEnded:
            break;
        case kGyroNoAnswer:
        case kGyroFileFailed:
            return kExitStartupFailure;
    }
    if (platform::interrupted()) {
        return platform::kExitInterrupted;
    }

    run_poll->stop_key = kIdleKey;
    std::fputs("before hsifdllinit\n", stdout);
    return laser::run_laser_phase(settings, make_poll(run_poll));
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

    RunPoll run_poll;
    run_poll.gyro.name = settings.gyro_file;
    run_poll.gyro.file = std::fopen(settings.gyro_file, "wb");
    if (run_poll.gyro.file == nullptr) {
        std::fprintf(stderr, "Gyro - Error: Can't create the file %s\n", settings.gyro_file);
        return kExitStartupFailure;
    }
    if (!create_gps_file(&run_poll.gps, settings)) {
        std::fclose(run_poll.gyro.file);
        return kExitStartupFailure;
    }
    const HANDLE gyro_port = open_gyro_port(settings, true);
    const int status = gyro_port == INVALID_HANDLE_VALUE
                           ? kExitStartupFailure
                           : run_phases(settings, gyro_port, &run_poll);
    if (gyro_port == INVALID_HANDLE_VALUE) {
        std::fclose(run_poll.gyro.file);
    }
    // A GPS file that could not be written fails a run that otherwise went well.
    const bool gps_complete = end_gps(&run_poll);
    return status == kExitOk && !gps_complete ? kExitStartupFailure : status;
}

}  // namespace driver
