// The gyro phase: the recording loop on the AHRS port, its restarts, the recovery of a lost
// port, and the reads that serve them.

#include "driver/gyro_phase.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ahrs/link.hpp"
#include "ahrs/packet.hpp"
#include "driver/display_line.hpp"
#include "driver/gyro_port.hpp"
#include "driver/serial_line.hpp"
#include "platform/console.hpp"

namespace driver {
namespace {

// The console is asked after a group at most this often: at the unit's fastest rates a group
// ends every few hundred microseconds, and no operator notices 10 ms.
constexpr uint32_t kKeyPollIntervalMs = 10;
constexpr DWORD kStagingSize = 256;  // bounds one read request
constexpr uint32_t kGatherMs = 4;    // a fast line's reads come at most this often

// What the gyro phase works with: the run's settings, the gyro recording and the run's poll.
struct GyroPhase {
    const RunSettings* settings;
    GyroRecording* gyro;
    platform::Poll poll;
    bool stopped;  // a poll after a group asked to end the phase
};

// Sleeps for ms while polling for a stop; false when the operator stopped.
bool wait_polling(const GyroPhase* p, uint32_t ms) {
    uint32_t start = platform::elapsed_ms();
    while (platform::elapsed_ms() - start < ms) {
        if (p->poll()) {
            return false;
        }
        Sleep(platform::kPollIntervalMs);
    }
    return !p->poll();
}

void report_no_answer(const GyroPhase* p) {
    end_display_line();
    std::fprintf(stderr, "Gyro - no answer from the unit on %s\n", p->settings->gyro_port);
}

// Runs the start-up exchange again and again until the unit answers, the operator stops or the
// port fails; a silent unit is reported at every attempt. When the unit answers, the recording
// goes on with the link's packets and counts the restart.
ahrs::RestartResult restart_link(GyroPhase* p) {
    for (;;) {
        uint32_t packet_length = 0;
        const ahrs::RestartResult result =
            ahrs::restart(p->gyro->port, p->settings->gyro_mode, &packet_length, p->poll);
        if (result == ahrs::kRestartOk) {
            ++p->gyro->restarts;
            gyro_link_ready(p->gyro, packet_length);
        }
        if (result != ahrs::kRestartNoAnswer) {
            return result;
        }
        report_no_answer(p);
    }
}

// Reports a failed port once, closes it and reopens it every 2 s until it is back and the unit
// answers again. Returns false when the operator stopped first.
bool recover_port(GyroPhase* p) {
    GyroRecording* gyro = p->gyro;
    DWORD code = GetLastError();
    end_display_line();
    std::fprintf(stderr, "Gyro - lost the serial port, %d\n", static_cast<int>(code));
    CloseHandle(gyro->port);
    gyro->port = INVALID_HANDLE_VALUE;
    for (;;) {
        if (!wait_polling(p, kReopenIntervalMs)) {
            return false;
        }
        gyro->port = open_gyro_port(*p->settings, false);
        if (gyro->port == INVALID_HANDLE_VALUE) {
            continue;
        }
        const ahrs::RestartResult result = restart_link(p);
        if (result != ahrs::kRestartPortFailed) {
            return result == ahrs::kRestartOk;
        }
        CloseHandle(gyro->port);
        gyro->port = INVALID_HANDLE_VALUE;
    }
}

// The restart of the recording loop; false when the phase is to end.
bool restart_recording(GyroPhase* p) {
    const ahrs::RestartResult result = restart_link(p);
    return result == ahrs::kRestartPortFailed ? recover_port(p) : result == ahrs::kRestartOk;
}

// Reads at least the bytes the framer wants next, and whatever else is waiting as far as it has
// room. On a fast line (bytes coming in less than kGatherMs apart) the next read waits until
// kGatherMs after the last one, so the bytes of several packets arrive in one wake-up instead of
// one each: at 921600 baud that is about 12 packets, a tenth of the port's input queue. Never
// while more was waiting than the last read took. When a whole packet waits for the boundary
// search, a read that brings nothing lets the framer decide with what it holds
// (framer_line_quiet): a unit that pauses after bad packets gets them all judged. Returns false
// when the phase is to end.
bool receive(GyroPhase* p) {
    GyroRecording* r = p->gyro;
    const uint32_t since = platform::elapsed_ms() - r->last_data_ms;
    if (r->drained && r->data_interval_ms < kGatherMs && since < kGatherMs) {
        Sleep(kGatherMs - since);
    }
    ahrs::Framer& framer = r->framer;
    const uint32_t room = ahrs::framer_room(framer);
    uint32_t got = 0;
    switch (read_at_least(r->port, ahrs::framer_wanted(framer), room, ahrs::framer_space(&framer),
                          p->poll, &got, ahrs::framer_packet_waiting(framer))) {
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
            return recover_port(p);
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

// True when the recording loop is to end: a poll asked for it, an interrupt, or a gyro file that
// failed.
bool phase_over(const GyroPhase* p) {
    return p->stopped || platform::interrupted() || p->gyro->file.failed;
}

// Brings the link up for the first time. Returns the unit's answer: kRestartOk when the
// recording goes on, kRestartNoAnswer (reported), or kRestartStopped when the phase is to end.
ahrs::RestartResult start_link(GyroPhase* p) {
    std::fputs("before restart\n", stdout);
    uint32_t packet_length = 0;
    switch (ahrs::restart(p->gyro->port, p->settings->gyro_mode, &packet_length, p->poll)) {
        case ahrs::kRestartOk:
            gyro_link_ready(p->gyro, packet_length);
            break;
        case ahrs::kRestartNoAnswer:
            report_no_answer(p);
            return ahrs::kRestartNoAnswer;
        case ahrs::kRestartStopped:
            return ahrs::kRestartStopped;
        case ahrs::kRestartPortFailed:
            if (!recover_port(p)) {
                return ahrs::kRestartStopped;
            }
            break;
    }
    std::fputs("after restart\n", stdout);
    return ahrs::kRestartOk;
}

// Records from the first restart until the operator stops or the gyro file refuses a write.
// Returns false when the unit never answered at start-up.
bool record_until_stop(GyroPhase* p) {
    switch (start_link(p)) {
        case ahrs::kRestartOk:
            break;
        case ahrs::kRestartNoAnswer:
            return false;
        default:
            return true;
    }
    // The keys are polled after a group; a group longer than the stop poll's interval (a large
    // decimation on a fast line) is cut short by a stop between its reads too.
    uint32_t last_poll = platform::elapsed_ms();
    while (!phase_over(p)) {
        errno = 0;
        switch (gyro_step(p->gyro)) {
            case kGyroNeedBytes:
                if (!receive(p)) {
                    return true;
                }
                if (platform::elapsed_ms() - last_poll >= platform::kPollIntervalMs) {
                    last_poll = platform::elapsed_ms();
                    if (p->poll()) {
                        return true;
                    }
                }
                break;
            case kGyroGroupDone:
                if (platform::elapsed_ms() - last_poll >= kKeyPollIntervalMs) {
                    p->stopped = p->poll();
                    last_poll = platform::elapsed_ms();
                }
                break;
            case kGyroRestartDue:
                if (!restart_recording(p)) {
                    return true;
                }
                break;
            case kGyroWriteFailed:
                report_gyro_write_failure(p->gyro, errno);
                return true;
        }
    }
    return true;
}

}  // namespace

ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         const platform::Poll& poll, uint32_t* count, bool quiet_ends) {
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
            end_display_line();
            std::fputs("Gyro - no data from the unit, still waiting (press q to stop)\n", stdout);
            silence_reported = true;
        }
        if (now - last_poll >= platform::kPollIntervalMs) {
            last_poll = now;
            if (poll(true)) {
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

bool run_gyro_phase(const RunSettings& settings, GyroRecording* gyro, const platform::Poll& poll) {
    GyroPhase phase{&settings, gyro, poll, false};
    print_heading(settings.gyro_mode);
    const bool answered = record_until_stop(&phase);
    end_display_line();
    if (!answered) {
        CloseHandle(gyro->port);
    } else if (gyro->port != INVALID_HANDLE_VALUE && !CloseHandle(gyro->port)) {
        std::fprintf(stderr, "Gyro - Port  Closing isn't successed: %d\n",
                     static_cast<int>(GetLastError()));
    }
    gyro->port = INVALID_HANDLE_VALUE;
    return answered;
}

void print_gyro_summary(const GyroRecording& gyro) {
    std::printf("Gyro - %u packets, %u invalid, %u restarts, %u records\n", gyro.counter,
                gyro.invalid, gyro.restarts, gyro.file.on_disk);
}

}  // namespace driver
