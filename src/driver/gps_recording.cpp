// The GPS receiver's recording.

#include "driver/gps_recording.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/display_line.hpp"
#include "driver/serial_line.hpp"
#include "platform/paths.hpp"
#include "serial/port.hpp"

namespace driver {
namespace {

constexpr DWORD kMinQueueSize = 4096;
constexpr DWORD kMaxQueueSize = DWORD{1} << 20;
constexpr uint32_t kSamplesPerLine = 5000;
constexpr uint32_t kAliveCheckMs = 100;  // an empty port is asked whether it is still there
constexpr DWORD kReadSize = 4096;
// Reads per poll: bounds the time one poll spends on a device that sends faster than any
// receiver (64 KiB); a queue of a long laser line is drained by the next polls.
constexpr int kMaxReadsPerPoll = 16;

double seconds_of(uint32_t ms) {
    return ms / 1000.0;
}

// The GPS port's line: binary clean, with the GPS settings' baud, bits, parity and stop bits.
void set_gps_line(DCB* dcb, const RunSettings& settings) {
    set_binary_line(dcb, static_cast<DWORD>(settings.gps_baud),
                    static_cast<BYTE>(settings.gps_bits), static_cast<BYTE>(settings.gps_parity),
                    static_cast<BYTE>(settings.gps_stop_bits));
}

// Opens and sets up the GPS port; INVALID_HANDLE_VALUE with the error code in GetLastError on
// failure.
HANDLE open_gps_port(const RunSettings& settings) {
    HANDLE port = CreateFileA(settings.gps_port, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_SYSTEM, HANDLE{});
    if (port == INVALID_HANDLE_VALUE) {
        return port;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    // A read takes what is waiting and returns at once, also with nothing.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    bool ok = SetupComm(port, gps_queue_size(settings), kMinQueueSize) && GetCommState(port, &dcb);
    if (ok) {
        set_gps_line(&dcb, settings);
        ok = SetCommState(port, &dcb) && SetCommTimeouts(port, &timeouts);
    }
    if (!ok) {
        const DWORD code = GetLastError();
        CloseHandle(port);
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }
    return port;
}

void report_write_failure(GpsRecording* gps, int error) {
    if (gps->port != INVALID_HANDLE_VALUE) {
        CloseHandle(gps->port);
        gps->port = INVALID_HANDLE_VALUE;
    }
    end_display_line();
    char what[512];
    std::snprintf(what, sizeof what, "%s: %s", gps->file_name, std::strerror(error));
    std::fprintf(stderr, "GPS - Error: can't write the file %s\n", what);
}

// Writes one piece; false when the GPS file has failed (reported here, the first time).
bool log_piece(GpsRecording* gps, const gps::Piece& piece, uint32_t now) {
    if (piece.kind == gps::PieceKind::kSentence) {
        gps->last_sentence_ms = now;
        gps->silence_reported = false;
    }
    if (!gps::log_piece(&gps->log, piece, seconds_of(now))) {
        report_write_failure(gps, gps->log.error);
        return false;
    }
    return true;
}

// Writes the piece the splitter still holds (a sentence the stream cut short).
bool log_rest(GpsRecording* gps, uint32_t now) {
    gps::Piece piece{};
    return !gps::splitter_finish(&gps->splitter, &piece) || log_piece(gps, piece, now);
}

void lose_port(GpsRecording* gps, uint32_t now) {
    const DWORD code = GetLastError();
    end_display_line();
    std::fprintf(stderr, "GPS - lost the serial port, %d\n", static_cast<int>(code));
    CloseHandle(gps->port);
    gps->port = INVALID_HANDLE_VALUE;
    gps->port_lost = true;
    gps->lost_ms = now;
    (void)log_rest(gps, now);
}

// Reopens a lost port every kReopenIntervalMs; true when it is open.
bool reopen_port(GpsRecording* gps, uint32_t now) {
    if (now - gps->lost_ms < kReopenIntervalMs) {
        return false;
    }
    gps->lost_ms = now;
    gps->port = open_gps_port(*gps->settings);
    if (gps->port == INVALID_HANDLE_VALUE) {
        return false;
    }
    gps->port_lost = false;
    gps->checked_ms = now;
    gps->last_sentence_ms = now;
    gps->silence_reported = false;
    return true;
}

// True while the GPS recording goes on: the port was opened and the file has not failed.
bool active(const GpsRecording& gps) {
    return gps.recording && gps.log.file != nullptr && !gps.log.failed;
}

}  // namespace

DWORD gps_queue_size(const RunSettings& settings) {
    const double line_seconds =
        kSamplesPerLine * std::max(settings.sample_period, int32_t{0}) / 1e6 + 1.0;
    // A character on the line is a start bit, the data bits, a parity bit and the stop bits:
    // ten bit times at most for 8N1, fewer for the other settings, so this errs on the big side.
    const double bytes = line_seconds * std::max(settings.gps_baud, int32_t{0}) / 8.0;
    return bytes >= kMaxQueueSize ? kMaxQueueSize
                                  : std::max(kMinQueueSize, static_cast<DWORD>(bytes));
}

bool create_gps_file(GpsRecording* gps, const RunSettings& settings) {
    gps->settings = &settings;
    gps->file_name = settings.gps_file;
    FILE* file = std::fopen(settings.gps_file, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "GPS - Error: Can't create the file %s\n", settings.gps_file);
        return false;
    }
    // Without the hold buffer the sentences of a capture are counted as lost, never the run.
    (void)gps::log_start(&gps->log, file);
    return true;
}

void start_gps(GpsRecording* gps, uint32_t now) {
    const RunSettings& settings = *gps->settings;
    char laser_port[serial::kPortNameSize];
    serial::format_port_name(laser_port, settings.laser_port);
    if (platform::same_device(settings.gps_port, settings.gyro_port)) {
        std::fprintf(stderr, "GPS - %s is the gyro port: recording without GPS\n",
                     settings.gps_port);
        return;
    }
    if (platform::same_device(settings.gps_port, laser_port)) {
        std::fprintf(stderr,
                     "GPS - %s is the laser control port %s, which the laser phase needs: "
                     "recording without GPS\n",
                     settings.gps_port, laser_port);
        return;
    }
    gps->port = open_gps_port(settings);
    if (gps->port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "GPS - could not open serial port %s, %d: recording without GPS\n",
                     settings.gps_port, static_cast<int>(GetLastError()));
        return;
    }
    gps->recording = true;
    gps->checked_ms = now;
    gps->last_sentence_ms = now;
}

void receive_gps(GpsRecording* gps, uint32_t now) {
    if (!active(*gps) || (gps->port_lost && !reopen_port(gps, now))) {
        return;
    }
    uint8_t buffer[kReadSize];
    for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
        DWORD got = 0;
        if (!ReadFile(gps->port, buffer, kReadSize, &got, nullptr)) {
            lose_port(gps, now);
            return;
        }
        const uint8_t* data = buffer;
        gps::Piece piece{};
        while (gps::splitter_next(&gps->splitter, &data, buffer + got, &piece)) {
            if (!log_piece(gps, piece, now)) {
                return;
            }
        }
        if (got < kReadSize) {
            // Some systems report a vanished device as empty reads; ask the port itself.
            if (got == 0 && now - gps->checked_ms >= kAliveCheckMs) {
                gps->checked_ms = now;
                if (!port_alive(gps->port)) {
                    lose_port(gps, now);
                    return;
                }
            }
            break;
        }
    }
    if (!gps->silence_reported && now - gps->last_sentence_ms >= kGpsSilenceNoticeMs) {
        end_display_line();
        std::fputs("GPS - no sentence from the receiver for 5 s, still listening\n", stdout);
        gps->silence_reported = true;
    }
}

void flush_gps_file(GpsRecording* gps) {
    if (active(*gps) && !gps->log.held && !gps::log_flush(&gps->log)) {
        report_write_failure(gps, gps->log.error);
    }
}

void hold_gps(GpsRecording* gps, bool held, uint32_t now) {
    if (!active(*gps)) {
        return;
    }
    if (held) {
        gps::log_hold(&gps->log);
    } else if (!gps::log_release(&gps->log, seconds_of(now))) {
        report_write_failure(gps, gps->log.error);
    }
}

bool end_gps(GpsRecording* gps, uint32_t now) {
    FILE* file = gps->log.file;
    if (file == nullptr) {
        return true;
    }
    if (active(*gps)) {
        receive_gps(gps, now);
        if (log_rest(gps, now) && gps->log.held) {
            hold_gps(gps, false, now);
        }
    }
    if (gps->port != INVALID_HANDLE_VALUE) {
        CloseHandle(gps->port);
        gps->port = INVALID_HANDLE_VALUE;
    }
    if (active(*gps) && !gps::log_flush(&gps->log)) {
        report_write_failure(gps, gps->log.error);
    }
    gps->log.file = nullptr;
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    if (!closed && !gps->log.failed) {
        report_write_failure(gps, errno);
    }
    if (gps->recording) {
        std::printf("GPS - %u sentences, %u invalid, %u fixes\n", gps->log.sentences,
                    gps->log.invalid, gps->log.fixes);
    }
    return closed && !gps->log.failed;
}

}  // namespace driver
