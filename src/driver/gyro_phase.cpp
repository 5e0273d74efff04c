#include "driver/gyro_phase.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ahrs/packet.hpp"
#include "driver/gyro_port.hpp"
#include "driver/recording.hpp"
#include "laser/laser_phase.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

constexpr uint32_t kStopPollIntervalMs = 100;
constexpr uint32_t kKeyPollIntervalMs =
    10;                              // the console is asked after a group at most this often
constexpr DWORD kStagingSize = 256;  // bounds one read request
constexpr uint32_t kGatherMs = 4;    // a fast line's reads come at most this often

constexpr int kStopKey = 'q';
constexpr int kIdleKey = '0';

// What the stop poll, the flush and the console messages share during a run.
struct RunState {
    int stop_key = kIdleKey;
    FILE* gyro_file = nullptr;
    const char* gyro_file_name = "";
    uint32_t last_flush_ms = 0;
    bool write_failed = false;     // the gyro file refused a write: the phase ends
    uint32_t records_on_disk = 0;  // records the last successful flush put in the file
};

RunState run_state;

// The gyro phase's own state, held for the length of the phase.
struct Recorder {
    const RunSettings* settings;
    HANDLE port;
    Recording recording;
    // When the last two reads that brought bytes ended, and whether the last one took all that
    // was waiting: what tells a fast line (see receive).
    uint32_t last_data_ms;
    uint32_t data_interval_ms;
    bool drained;
};

Recorder recorder;

// Moves off the live display line so that a message gets a line of its own.
void end_display_line() {
    if (recorder.recording.display_line_open) {
        std::fputc('\n', stdout);
        recorder.recording.display_line_open = false;
    }
}

// Reports the first write failure of the gyro file, with the system's reason, and ends the
// phase as q does.
void report_write_failure(int error) {
    if (run_state.write_failed) {
        return;
    }
    run_state.write_failed = true;
    end_display_line();
    char what[512];
    std::snprintf(what, sizeof what, "%s: %s", run_state.gyro_file_name, std::strerror(error));
    std::fprintf(stderr, "Gyro - Error: can't write the file %s\n", what);
}

// Writes buffered records out at least once a second, so a crash loses little; what a flush
// has put in the file is what the summary may claim.
void flush_gyro_file_if_due() {
    const uint32_t now = platform::elapsed_ms();
    if (run_state.gyro_file == nullptr || run_state.write_failed ||
        now - run_state.last_flush_ms < kFlushIntervalMs) {
        return;
    }
    run_state.last_flush_ms = now;
    errno = 0;
    if (std::fflush(run_state.gyro_file) != 0) {
        report_write_failure(errno);
    } else {
        run_state.records_on_disk = recorder.recording.records;
    }
}

// Takes one waiting key. Once q is taken the phase is ending: keys typed after it stay queued
// for the laser phase and never take the q back.
void take_key() {
    if (run_state.stop_key != kStopKey && platform::key_waiting()) {
        int key = platform::read_key();
        if (key >= 0) {
            run_state.stop_key = key;
        }
    }
}

bool stop_requested() {
    return run_state.stop_key == kStopKey || platform::interrupted() || run_state.write_failed;
}

// The stop poll of the waits: keeps the file flushed, takes a key, tells whether to stop.
bool poll_stop() {
    flush_gyro_file_if_due();
    take_key();
    return stop_requested();
}

// Sleeps for ms while polling for a stop; false when the operator stopped.
bool wait_polling(uint32_t ms) {
    uint32_t start = platform::elapsed_ms();
    while (platform::elapsed_ms() - start < ms) {
        if (poll_stop()) {
            return false;
        }
        Sleep(kStopPollIntervalMs);
    }
    return !poll_stop();
}

void report_no_answer(const RunSettings& settings) {
    end_display_line();
    std::fprintf(stderr, "Gyro - no answer from the unit on %s\n", settings.gyro_port);
}

// Runs the start-up exchange again and again until the unit answers, the operator stops or the
// port fails; a silent unit is reported at every attempt.
ahrs::RestartResult restart_until_answer(Recorder* r, uint32_t* packet_length) {
    for (;;) {
        ahrs::RestartResult result =
            ahrs::restart(r->port, r->settings->gyro_mode, packet_length, poll_stop);
        if (result != ahrs::kRestartNoAnswer) {
            return result;
        }
        report_no_answer(*r->settings);
    }
}

// The link answers again with packets of packet_length bytes.
void link_ready(Recorder* r, uint32_t packet_length) {
    ++r->recording.restarts;
    recording_link_ready(&r->recording, packet_length);
}

// Reports a failed port once, closes it and reopens it every 2 s until it is back and the unit
// answers again. Returns false when the operator stopped first.
bool recover_port(Recorder* r) {
    DWORD code = GetLastError();
    end_display_line();
    std::fprintf(stderr, "Gyro - lost the serial port, %d\n", static_cast<int>(code));
    CloseHandle(r->port);
    r->port = INVALID_HANDLE_VALUE;
    for (;;) {
        if (!wait_polling(kReopenIntervalMs)) {
            return false;
        }
        r->port = open_gyro_port(*r->settings, false);
        if (r->port == INVALID_HANDLE_VALUE) {
            continue;
        }
        uint32_t packet_length = 0;
        switch (restart_until_answer(r, &packet_length)) {
            case ahrs::kRestartOk:
                link_ready(r, packet_length);
                return true;
            case ahrs::kRestartStopped:
                return false;
            default:
                break;  // the port failed again
        }
        CloseHandle(r->port);
        r->port = INVALID_HANDLE_VALUE;
    }
}

// The restart of the recording loop; false when the phase is to end.
bool restart_recording(Recorder* r) {
    uint32_t packet_length = 0;
    switch (restart_until_answer(r, &packet_length)) {
        case ahrs::kRestartOk:
            link_ready(r, packet_length);
            return true;
        case ahrs::kRestartPortFailed:
            return recover_port(r);
        default:
            return false;
    }
}

// Reads at least the bytes the framer wants next, and whatever else is waiting as far as it has
// room. On a fast line (bytes coming in less than kGatherMs apart) the next read waits until
// kGatherMs after the last one, so the bytes of several packets arrive in one wake-up instead of
// one each: at 921600 baud that is about 12 packets, a tenth of the port's input queue. Never
// while more was waiting than the last read took. Returns false when the phase is to end.
bool receive(Recorder* r) {
    const uint32_t since = platform::elapsed_ms() - r->last_data_ms;
    if (r->drained && r->data_interval_ms < kGatherMs && since < kGatherMs) {
        Sleep(kGatherMs - since);
    }
    ahrs::Framer& framer = r->recording.framer;
    const uint32_t room = ahrs::framer_room(framer);
    uint32_t got = 0;
    switch (read_at_least(r->port, ahrs::framer_wanted(framer), room, ahrs::framer_space(&framer),
                          poll_stop, &got)) {
        case kReadComplete: {
            ahrs::framer_received(&framer, got);
            const uint32_t now = platform::elapsed_ms();
            r->data_interval_ms = now - r->last_data_ms;
            r->last_data_ms = now;
            // Each read asks for at most kStagingSize: less than that came back only when the
            // line had nothing more waiting.
            r->drained = got < std::min<uint32_t>(room, kStagingSize);
            return true;
        }
        case kReadStopped:
            return false;
        case kReadPortFailed:
            return recover_port(r);
    }
    return false;
}

void print_heading(char mode) {
    std::fputs("Gyro record is starting now!\n", stdout);
    std::fputs("For stop, Press 'Q' !\n", stdout);
    if (mode == ahrs::kAngleMode) {
        std::fputs(
            "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  ACCELZ  MAGX   MAGY"
            "   MAGZ  TEMP\n",
            stdout);
    } else {
        std::fputs(
            "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n",
            stdout);
    }
}

// Records from the first restart until the operator stops or the gyro file refuses a write.
// Returns false when the unit never answered at start-up.
bool record(Recorder* r) {
    std::fputs("before restart\n", stdout);
    uint32_t packet_length = 0;
    switch (ahrs::restart(r->port, r->settings->gyro_mode, &packet_length, poll_stop)) {
        case ahrs::kRestartOk:
            recording_link_ready(&r->recording, packet_length);
            break;
        case ahrs::kRestartNoAnswer:
            report_no_answer(*r->settings);
            return false;
        case ahrs::kRestartStopped:
            return true;
        case ahrs::kRestartPortFailed:
            if (!recover_port(r)) {
                return true;
            }
            break;
    }
    std::fputs("after restart\n", stdout);

    // The keys are polled after a group; a group longer than the stop poll's interval (a large
    // decimation on a fast line) is cut short by a stop between its reads too.
    uint32_t last_poll = platform::elapsed_ms();
    while (!stop_requested()) {
        errno = 0;
        switch (recording_step(&r->recording, run_state.gyro_file)) {
            case kStepNeedBytes:
                if (!receive(r)) {
                    return true;
                }
                if (platform::elapsed_ms() - last_poll >= kStopPollIntervalMs) {
                    last_poll = platform::elapsed_ms();
                    if (poll_stop()) {
                        return true;
                    }
                }
                break;
            case kStepGroupDone:
                // At the unit's fastest rates a group ends every few hundred microseconds; the
                // console is asked at most every kKeyPollIntervalMs, which no operator notices.
                if (platform::elapsed_ms() - last_poll >= kKeyPollIntervalMs) {
                    flush_gyro_file_if_due();
                    take_key();
                    last_poll = platform::elapsed_ms();
                }
                break;
            case kStepRestartDue:
                if (!restart_recording(r)) {
                    return true;
                }
                break;
            case kStepWriteFailed:
                report_write_failure(errno);
                return true;
        }
    }
    return true;
}

// True while the port answers a status query; a removed device fails it.
bool port_alive(HANDLE port) {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) != FALSE;
}

// Closes the gyro file at the end of the phase. Returns false when its records did not all reach
// the file (a write or the close failed); the records the file holds are then those of the last
// successful flush.
bool close_gyro_file(FILE* file) {
    run_state.gyro_file = nullptr;
    if (run_state.write_failed) {
        (void)std::fclose(file);
        return false;
    }
    if (std::fclose(file) != 0) {
        std::fputs("Gyro - Error: Can't close the file\n", stderr);
        return false;
    }
    run_state.records_on_disk = recorder.recording.records;
    return true;
}

}  // namespace

ReadResult read_exact(HANDLE port, uint32_t length, uint8_t* destination, ahrs::StopPoll stop) {
    uint32_t count = 0;
    return read_at_least(port, length, length, destination, stop, &count);
}

ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         ahrs::StopPoll stop, uint32_t* count) {
    uint8_t staging[kStagingSize];
    uint32_t total = 0;
    *count = 0;
    uint32_t last_poll = platform::elapsed_ms();
    uint32_t last_byte = last_poll;
    bool silence_reported = false;
    while (total < minimum) {
        DWORD got = 0;
        DWORD want = std::min<DWORD>(maximum - total, kStagingSize);
        if (!ReadFile(port, staging, want, &got, nullptr)) {
            return kReadPortFailed;
        }
        uint32_t now = platform::elapsed_ms();
        if (got > 0) {
            std::memcpy(destination + total, staging, got);
            total += got;
            *count = total;
            last_byte = now;
            silence_reported = false;
        } else if (!silence_reported && now - last_byte >= kNoDataNoticeMs) {
            end_display_line();
            std::fputs("Gyro - no data from the unit, still waiting (press q to stop)\n", stdout);
            silence_reported = true;
        }
        if (now - last_poll >= kStopPollIntervalMs) {
            last_poll = now;
            if (stop != nullptr && stop()) {
                return kReadStopped;
            }
            // Some systems report a vanished device as empty reads; ask the port itself.
            if (got == 0 && !port_alive(port)) {
                return kReadPortFailed;
            }
        }
    }
    return kReadComplete;
}

int run(int argc, char** argv) {
    // Console lines go out as they are written, also on a pipe.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    run_state = RunState{};

    RunSettings settings;
    std::fputs("Version 1.1\n", stdout);
    parse_command_line(argc, argv, &settings);
    if (!check_settings(&settings)) {
        return kExitStartupFailure;
    }
    platform::install_interrupt_handler();
    platform::console_init();

    FILE* gyro_file = std::fopen(settings.gyro_file, "wb");
    if (gyro_file == nullptr) {
        std::fprintf(stderr, "Gyro - Error: Can't create the file %s\n", settings.gyro_file);
        return kExitStartupFailure;
    }
    recorder = Recorder{};
    recorder.settings = &settings;
    recording_start(&recorder.recording, settings);
    recorder.port = open_gyro_port(settings, true);
    if (recorder.port == INVALID_HANDLE_VALUE) {
        std::fclose(gyro_file);
        return kExitStartupFailure;
    }
    run_state.gyro_file = gyro_file;
    run_state.gyro_file_name = settings.gyro_file;
    run_state.last_flush_ms = platform::elapsed_ms();

    print_heading(settings.gyro_mode);
    if (!record(&recorder)) {
        CloseHandle(recorder.port);
        std::fclose(gyro_file);
        return kExitStartupFailure;
    }

    end_display_line();
    if (recorder.port != INVALID_HANDLE_VALUE && !CloseHandle(recorder.port)) {
        std::fprintf(stderr, "Gyro - Port  Closing isn't successed: %d\n",
                     static_cast<int>(GetLastError()));
    }
    const bool file_complete = close_gyro_file(gyro_file);
    const Recording& recording = recorder.recording;
    std::printf("Gyro - %u packets, %u invalid, %u restarts, %u records\n", recording.counter,
                recording.invalid, recording.restarts, run_state.records_on_disk);
    if (!file_complete) {
        return kExitStartupFailure;
    }
    if (platform::interrupted()) {
        return kExitInterrupted;
    }

    run_state.stop_key = kIdleKey;
    std::fputs("before hsifdllinit\n", stdout);
    return laser::run_laser_phase(settings, &run_state.stop_key);
}

}  // namespace driver
