// ahrs-sim: plays the AHRS unit on a pseudo-terminal (or a serial device) for the logger.
// One thread: everything waits in one ppoll until the next byte, packet or command is due.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "line.hpp"
#include "options.hpp"
#include "sent_log.hpp"
#include "status.hpp"
#include "unit.hpp"

namespace {

using namespace ahrs_sim;

constexpr int64_t kNsPerMs = 1000000;
// While nobody holds the pty slave open the master can only be polled by trying again; this
// often, a logger's first command waits at most this long and the idle unit costs no CPU.
constexpr int64_t kListenerRetryNs = 20 * kNsPerMs;
constexpr int64_t kReopenRetryNs = 1000 * kNsPerMs;
// More than the 2 ms pacing slice holds at the highest rate (200 packets), so a wake-up keeps up;
// a catch-up after a stall spreads over a few.
constexpr int kPacketsPerWake = 256;
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

volatile sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int signal_number) {
    g_stop_signal = signal_number;
}

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void print_path(const Line& line) {
    std::printf("%s\n", line_display_path(line).c_str());
    std::fflush(stdout);
}

// Appends received bytes to the log as they come; the log is opened for appending, so each
// write lands whole at its end.
void log_bytes(int log_fd, const uint8_t* bytes, size_t count) {
    while (log_fd >= 0 && count > 0) {
        const ssize_t written = write(log_fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
}

// Reads every byte waiting from the logger and acts on it. Returns false when the read shows
// that the other end is gone.
bool receive(Line* line, Unit* unit, int log_fd, int64_t now) {
    uint8_t bytes[256];
    for (;;) {
        const ssize_t count = read(line->fd, bytes, sizeof bytes);
        if (count > 0) {
            log_bytes(log_fd, bytes, static_cast<size_t>(count));
            for (ssize_t i = 0; i < count; ++i) {
                receive_command(unit, bytes[i], now);
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Returns false at the end of standard input.
bool drain_stdin() {
    char bytes[256];
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count > 0) {
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!parse_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "ahrs-sim: %s; see ahrs-sim --help\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(help_text(), stdout);
        return kExitOk;
    }
    quiet_status() = options.quiet;

    // SIGINT and SIGTERM are blocked except inside ppoll, so a stop request never slips in
    // between the test of the flag and the wait.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigset_t wait_mask;
    sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int log_fd = -1;
    if (!options.log_path.empty()) {
        log_fd = open(options.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0) {
            std::perror(("ahrs-sim: cannot open " + options.log_path).c_str());
            return kExitFailure;
        }
    }
    const int64_t start = monotonic_ns();
    SentLog sent_log;
    if (!options.sent_log_path.empty() &&
        !open_sent_log(&sent_log, options.sent_log_path, start, &error)) {
        std::fprintf(stderr, "ahrs-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    if (options.stdin_eof) {
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    }

    Line line;
    if (!open_line(&line, options.device_path, options.link_path, options.baud, options.xon_xoff,
                   &error)) {
        std::fprintf(stderr, "ahrs-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    print_path(line);
    status("unit on %s, mode %c, %s, %g packets/s, %u baud", line.device_path.c_str(), options.mode,
           options.streaming ? "streaming" : "silent", options.rate_hz, options.baud);

    Unit unit;
    init_unit(&unit, &options, start);
    const int64_t end =
        options.duration_s > 0.0 ? start + std::llround(options.duration_s * 1e9) : INT64_MAX;
    int64_t reopen_at = INT64_MAX;
    bool listening = false;

    while (g_stop_signal == 0) {
        int64_t now = monotonic_ns();
        if (now >= end) {
            break;
        }
        if (line.fd < 0 && now >= reopen_at) {
            if (open_line(&line, options.device_path, options.link_path, options.baud,
                          options.xon_xoff, &error)) {
                reopen_at = INT64_MAX;
                if (line.link_path.empty()) {
                    print_path(line);
                }
                status("line back on %s", line.device_path.c_str());
            } else {
                status("%s; trying again", error.c_str());
                reopen_at = now + kReopenRetryNs;
            }
        }

        // The logger has gone: whatever it left unread is not for the next one.
        const auto lose_listener = [&line, &listening]() {
            if (listening && line.fd >= 0) {
                status("the logger closed the line");
                discard_stale_input(line);
            }
            listening = false;
        };
        if (line_has_listener(line)) {
            if (!listening && line.is_pty) {
                status("the logger opened the line");
            }
            listening = true;
        } else {
            lose_listener();
        }
        // Bytes a logger wrote just before it closed the line still arrive: read whatever is
        // there even without a listener (the read then ends in an error).
        if (line.fd >= 0 && !receive(&line, &unit, log_fd, now)) {
            lose_listener();
        }

        if (line.fd >= 0) {
            const int64_t hangup_ms = start_due_faults(&unit, now);
            if (hangup_ms >= 0) {
                close_line(&line);
                listening = false;
                reopen_at = hangup_ms > 0 ? now + hangup_ms * kNsPerMs : INT64_MAX;
                if (hangup_ms > 0) {
                    status("hang-up after %llu streamed packets, back in %lld ms",
                           static_cast<unsigned long long>(unit.streamed_sent),
                           static_cast<long long>(hangup_ms));
                } else {
                    status("hang-up after %llu streamed packets, for good",
                           static_cast<unsigned long long>(unit.streamed_sent));
                }
            }
        }

        // With nobody listening the unit goes on as it would on an unplugged cable: its
        // packets are counted as sent and go nowhere. Several packets can fall due between two
        // wake-ups at high rates: all of them are queued and go out in one write.
        SentPacket sent;
        for (int turn = 0; turn < kPacketsPerWake && produce(&unit, now, &sent); ++turn) {
            log_sent(&sent_log, sent, listening);
            if (!listening) {
                discard_output(&unit);
            }
        }
        flush_sent_log(&sent_log);
        if (!listening) {
            discard_output(&unit);
        } else if (!transmit(&unit, line.fd, now)) {
            lose_listener();
        }

        int64_t deadline = std::min({next_deadline(unit, now, line.fd >= 0), end, reopen_at});
        if (line.fd >= 0 && !listening) {
            deadline = std::min(deadline, now + kListenerRetryNs);
        }
        pollfd waits[2];
        nfds_t count = 0;
        if (listening) {
            const short events = static_cast<short>(POLLIN | (unit.write_blocked ? POLLOUT : 0));
            waits[count++] = pollfd{line.fd, events, 0};
        }
        const nfds_t stdin_index = count;
        if (options.stdin_eof) {
            waits[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        }
        timespec timeout{};
        timespec* timeout_pointer = nullptr;
        if (deadline != INT64_MAX) {
            now = monotonic_ns();
            const int64_t wait = deadline > now ? deadline - now : 0;
            timeout.tv_sec = static_cast<time_t>(wait / 1000000000);
            timeout.tv_nsec = static_cast<long>(wait % 1000000000);
            timeout_pointer = &timeout;
        }
        const int ready = ppoll(waits, count, timeout_pointer, &wait_mask);
        if (ready > 0 && options.stdin_eof && waits[stdin_index].revents != 0 && !drain_stdin()) {
            status("end of standard input");
            break;
        }
    }
    if (g_stop_signal != 0) {
        status("stopped by signal %d", static_cast<int>(g_stop_signal));
    }
    close_sent_log(&sent_log);
    remove_link(line);
    close_line(&line);
    return kExitOk;
}
