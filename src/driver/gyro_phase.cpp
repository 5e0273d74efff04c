// The gyro phase: the recording loop on the AHRS port, its restarts, the recovery of a lost
// port, and the reads that serve them.

#include "driver/gyro_phase.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ahrs/link.hpp"
#include "ahrs/packet.hpp"
#include "driver/gyro_port.hpp"
#include "driver/recording.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

// The console is asked after a group at most this often: at the unit's fastest rates a group
// ends every few hundred microseconds, and no operator notices 10 ms.
constexpr uint32_t kKeyPollIntervalMs = 10;
constexpr DWORD kStagingSize = 256;  // bounds one read request
constexpr uint32_t kGatherMs = 4;    // a fast line's reads come at most this often

// The gyro phase's own state, held for the length of the phase.
struct Recorder {
    const RunSettings* settings;
    HANDLE port;
    RunPoll* run;
    platform::Poll poll;
    Recording recording;
    // When the last two reads that brought bytes ended, and whether the last one took all that
    // was waiting: what tells a fast line (see receive).
    uint32_t last_data_ms;
    uint32_t data_interval_ms;
    bool drained;
};

// Sleeps for ms while polling for a stop; false when the operator stopped.
bool wait_polling(Recorder* r, uint32_t ms) {
    uint32_t start = platform::elapsed_ms();
    while (platform::elapsed_ms() - start < ms) {
        if (r->poll()) {
            return false;
        }
        Sleep(platform::kPollIntervalMs);
    }
    return !r->poll();
}

void report_no_answer(Recorder* r) {
    end_display_line(r->run);
    std::fprintf(stderr, "Gyro - no answer from the unit on %s\n", r->settings->gyro_port);
}

// Runs the start-up exchange again and again until the unit answers, the operator stops or the
// port fails; a silent unit is reported at every attempt.
ahrs::RestartResult restart_until_answer(Recorder* r, uint32_t* packet_length) {
    for (;;) {
        ahrs::RestartResult result =
            ahrs::restart(r->port, r->settings->gyro_mode, packet_length, r->poll);
        if (result != ahrs::kRestartNoAnswer) {
            return result;
        }
        report_no_answer(r);
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
    end_display_line(r->run);
    std::fprintf(stderr, "Gyro - lost the serial port, %d\n", static_cast<int>(code));
    CloseHandle(r->port);
    r->port = INVALID_HANDLE_VALUE;
    for (;;) {
        if (!wait_polling(r, kReopenIntervalMs)) {
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
// while more was waiting than the last read took. When a whole packet waits for the boundary
// search, a read that brings nothing lets the framer decide with what it holds
// (framer_line_quiet): a unit that pauses after bad packets gets them all judged. Returns false
// when the phase is to end.
bool receive(Recorder* r) {
    const uint32_t since = platform::elapsed_ms() - r->last_data_ms;
    if (r->drained && r->data_interval_ms < kGatherMs && since < kGatherMs) {
        Sleep(kGatherMs - since);
    }
    ahrs::Framer& framer = r->recording.framer;
    const uint32_t room = ahrs::framer_room(framer);
    uint32_t got = 0;
    switch (read_at_least(r->port, ahrs::framer_wanted(framer), room, ahrs::framer_space(&framer),
                          r->run, &got, ahrs::framer_packet_waiting(framer))) {
        case kReadQuiet:
            ahrs::framer_received(&framer, got);  // what came before the line fell silent
            (void)ahrs::framer_line_quiet(&framer);
            return true;
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
    switch (ahrs::restart(r->port, r->settings->gyro_mode, &packet_length, r->poll)) {
        case ahrs::kRestartOk:
            recording_link_ready(&r->recording, packet_length);
            break;
        case ahrs::kRestartNoAnswer:
            report_no_answer(r);
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
    while (!stop_requested(*r->run)) {
        errno = 0;
        switch (recording_step(&r->recording, r->run->gyro.file)) {
            case kStepNeedBytes:
                if (!receive(r)) {
                    return true;
                }
                if (platform::elapsed_ms() - last_poll >= platform::kPollIntervalMs) {
                    last_poll = platform::elapsed_ms();
                    if (r->poll()) {
                        return true;
                    }
                }
                break;
            case kStepGroupDone:
                if (platform::elapsed_ms() - last_poll >= kKeyPollIntervalMs) {
                    (void)r->poll();
                    last_poll = platform::elapsed_ms();
                }
                break;
            case kStepRestartDue:
                if (!restart_recording(r)) {
                    return true;
                }
                break;
            case kStepWriteFailed:
                report_gyro_write_failure(r->run, errno);
                return true;
        }
    }
    return true;
}

}  // namespace

ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         RunPoll* run, uint32_t* count, bool quiet_ends) {
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
        } else if (quiet_ends) {
            return kReadQuiet;
        } else if (!silence_reported && now - last_byte >= kNoDataNoticeMs) {
            if (run != nullptr) {
                end_display_line(run);
            }
            std::fputs("Gyro - no data from the unit, still waiting (press q to stop)\n", stdout);
            silence_reported = true;
        }
        if (now - last_poll >= platform::kPollIntervalMs) {
            last_poll = now;
            if (run != nullptr && poll_run(run, true)) {
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

GyroEnd run_gyro_phase(const RunSettings& settings, HANDLE port, RunPoll* run) {
    static Recorder recorder;  // the framer's buffer: kept off the stack
    recorder = Recorder{};
    Recorder* r = &recorder;
    r->settings = &settings;
    r->port = port;
    r->run = run;
    r->poll = make_poll(run);
    recording_start(&r->recording, settings);
    run->gyro.records = &r->recording.records;
    run->display_line_open = &r->recording.display_line_open;
    run->last_flush_ms = platform::elapsed_ms();

    print_heading(settings.gyro_mode);
    const bool answered = record(r);
    end_display_line(run);
    if (!answered) {
        CloseHandle(r->port);
        (void)std::fclose(run->gyro.file);
        run->gyro.file = nullptr;
        return kGyroNoAnswer;
    }
    if (r->port != INVALID_HANDLE_VALUE && !CloseHandle(r->port)) {
        std::fprintf(stderr, "Gyro - Port  Closing isn't successed: %d\n",
                     static_cast<int>(GetLastError()));
    }
    const bool file_complete = close_gyro_file(run);
    const Recording& recording = r->recording;
    std::printf("Gyro - %u packets, %u invalid, %u restarts, %u records\n", recording.counter,
                recording.invalid, recording.restarts, run->gyro.on_disk);
    run->gyro.records = nullptr;
    run->display_line_open = nullptr;
    return file_complete ? kGyroEnded : kGyroFileFailed;
}

}  // namespace driver
