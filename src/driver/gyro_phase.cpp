#include "driver/gyro_phase.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ahrs/display.hpp"
#include "ahrs/packet.hpp"
#include "ahrs/record.hpp"
#include "driver/gyro_port.hpp"
#include "laser/laser_phase.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

constexpr uint32_t kStopPollIntervalMs = 100;
constexpr DWORD kStagingSize = 256;  // bounds one read request
constexpr size_t kPacketBufferSize = 260;
constexpr uint32_t kRestartAfterFailures = 5;  // the sixth invalid packet in a row restarts

constexpr int kStopKey = 'q';
constexpr int kIdleKey = '0';

// What the stop poll, the flush and the console messages share during a run.
struct RunState {
    int stop_key = kIdleKey;
    FILE* gyro_file = nullptr;
    uint32_t last_flush_ms = 0;
    bool display_line_open = false;  // the live line is on screen, ended by "\r" only
};

RunState run_state;

// The gyro phase's own state, held for the length of the phase.
struct Recorder {
    const RunSettings* settings;
    HANDLE port;
    uint32_t packet_length;
    uint8_t packet[kPacketBufferSize];
    uint32_t counter;   // every packet read, valid or not
    uint32_t failures;  // invalid packets in a row
    bool bad;           // the packet just read was invalid
    uint32_t invalid;
    uint32_t restarts;
    uint32_t records;
};

// Writes buffered records out at least once a second, so a crash loses little.
void flush_gyro_file_if_due() {
    uint32_t now = platform::elapsed_ms();
    if (run_state.gyro_file != nullptr && now - run_state.last_flush_ms >= kFlushIntervalMs) {
        std::fflush(run_state.gyro_file);
        run_state.last_flush_ms = now;
    }
}

// Moves off the live display line so that a message gets a line of its own.
void end_display_line() {
    if (run_state.display_line_open) {
        std::fputc('\n', stdout);
        run_state.display_line_open = false;
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
    return run_state.stop_key == kStopKey || platform::interrupted();
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
ahrs::RestartResult restart_until_answer(Recorder* r) {
    for (;;) {
        ahrs::RestartResult result =
            ahrs::restart(r->port, r->settings->gyro_mode, &r->packet_length, poll_stop);
        if (result != ahrs::kRestartNoAnswer) {
            return result;
        }
        report_no_answer(*r->settings);
    }
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
        switch (restart_until_answer(r)) {
            case ahrs::kRestartOk:
                ++r->restarts;
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
    switch (restart_until_answer(r)) {
        case ahrs::kRestartOk:
            ++r->restarts;
            return true;
        case ahrs::kRestartPortFailed:
            return recover_port(r);
        default:
            return false;
    }
}

// Reads one group of decimation packets, validating, counting and showing each. Returns false
// when the group was cut short (a stop, or a lost port); nothing is written for it then.
bool read_group(Recorder* r) {
    const char mode = r->settings->gyro_mode;
    for (uint32_t i = 0; i < r->settings->decimation; ++i) {
        switch (read_exact(r->port, r->packet_length, r->packet, poll_stop)) {
            case kReadComplete:
                break;
            case kReadStopped:
                return false;
            case kReadPortFailed:
                recover_port(r);
                return false;
        }
        if (ahrs::check_packet(mode, r->packet, r->packet_length) == 0) {
            // Every rejection message ends its line, so the live line is gone.
            run_state.display_line_open = false;
            ++r->invalid;
            if (r->failures == kRestartAfterFailures && !restart_recording(r)) {
                return false;
            }
            ++r->failures;
            r->bad = true;
        } else {
            r->failures = 0;
            r->bad = false;
        }
        ++r->counter;
        if (r->counter % 10 == 0 && !r->bad) {
            ahrs::print_packet(mode, r->packet);
            run_state.display_line_open = true;
        }
    }
    return true;
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

// Records from the first restart until the operator stops. Returns false when the unit never
// answered at start-up.
bool record(Recorder* r) {
    std::fputs("before restart\n", stdout);
    switch (ahrs::restart(r->port, r->settings->gyro_mode, &r->packet_length, poll_stop)) {
        case ahrs::kRestartOk:
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

    while (!stop_requested()) {
        if (read_group(r) && !r->bad) {
            r->records += static_cast<uint32_t>(
                ahrs::output_packet(r->settings->gyro_mode, r->settings->dt, r->counter, r->packet,
                                    r->settings->dos_time, run_state.gyro_file));
        }
        flush_gyro_file_if_due();
        take_key();
    }
    return true;
}

// True while the port answers a status query; a removed device fails it.
bool port_alive(HANDLE port) {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) != FALSE;
}

}  // namespace

ReadResult read_exact(HANDLE port, uint32_t length, uint8_t* destination, ahrs::StopPoll stop) {
    uint8_t staging[kStagingSize];
    uint32_t total = 0;
    uint32_t last_poll = platform::elapsed_ms();
    uint32_t last_byte = last_poll;
    bool silence_reported = false;
    while (total < length) {
        DWORD got = 0;
        DWORD want = std::min<DWORD>(length - total, kStagingSize);
        if (!ReadFile(port, staging, want, &got, nullptr)) {
            return kReadPortFailed;
        }
        uint32_t now = platform::elapsed_ms();
        if (got > 0) {
            std::memcpy(destination + total, staging, got);
            total += got;
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
    static Recorder recorder;
    recorder = Recorder{};
    recorder.settings = &settings;
    recorder.port = open_gyro_port(settings, true);
    if (recorder.port == INVALID_HANDLE_VALUE) {
        std::fclose(gyro_file);
        return kExitStartupFailure;
    }
    run_state.gyro_file = gyro_file;
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
    run_state.gyro_file = nullptr;
    if (std::fclose(gyro_file) != 0) {
        std::fputs("Gyro - Error: Can't close the file\n", stderr);
    }
    std::printf("Gyro - %u packets, %u invalid, %u restarts, %u records\n", recorder.counter,
                recorder.invalid, recorder.restarts, recorder.records);
    if (platform::interrupted()) {
        return kExitInterrupted;
    }

    run_state.stop_key = kIdleKey;
    std::fputs("before hsifdllinit\n", stdout);
    return laser::run_laser_phase(settings, &run_state.stop_key);
}

}  // namespace driver
