// The simulators' one thread.

#include "serve.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>

#include "clock.hpp"
#include "status.hpp"

namespace sim_common {
namespace {

// While nobody holds the pty slave open the master can only be polled by trying again; this
// often, a logger's first command waits at most this long and the idle device costs no CPU.
constexpr int64_t kListenerRetryNs = 20 * kNsPerMs;
constexpr int64_t kReopenRetryNs = 1000 * kNsPerMs;

volatile sig_atomic_t g_stop_signal = 0;
sigset_t g_wait_mask;  // the signal mask inside the wait: the stop signals let through

void on_stop_signal(int signal_number) {
    g_stop_signal = signal_number;
}

// Reads every byte waiting from the logger and hands it to the device. Returns false when the
// read shows that the other end is gone.
bool receive(const Line& line, LineDevice* device, int64_t now) {
    uint8_t bytes[256];
    for (;;) {
        const ssize_t count = read(line.fd, bytes, sizeof bytes);
        if (count > 0) {
            device->receive(bytes, static_cast<size_t>(count), now);
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

void install_stop_signals() {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, &g_wait_mask);
    sigdelset(&g_wait_mask, SIGINT);
    sigdelset(&g_wait_mask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool begin_run(const CommonValues& values, bool xon_xoff, Run* run, std::string* error) {
    run->start_ns = monotonic_ns();
    run->end_ns =
        values.duration_s > 0.0
            ? run->start_ns + std::llround(values.duration_s * static_cast<double>(kNsPerSecond))
            : INT64_MAX;
    run->stdin_eof = values.stdin_eof;
    run->line_settings = LineSettings{.device = values.device_path,
                                      .link = values.link_path,
                                      .baud = values.baud,
                                      .xon_xoff = xon_xoff};
    if (!values.sent_log_path.empty() &&
        !open_log_file(&run->sent_log, values.sent_log_path, error)) {
        return false;
    }
    if (!open_line(&run->line, run->line_settings, error)) {
        close_log_file(&run->sent_log);
        return false;
    }
    print_line_path(run->line);
    return true;
}

void serve_run(Run* run, LineDevice* device) {
    Line* line = &run->line;
    if (run->stdin_eof) {
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    }
    Transmitter& tx = device->transmitter();
    LineFaults& faults = device->line_faults();
    int64_t reopen_at = INT64_MAX;
    bool listening = false;
    std::string error;

    while (g_stop_signal == 0) {
        int64_t now = monotonic_ns();
        if (now >= run->end_ns) {
            break;
        }
        if (line->fd < 0 && now >= reopen_at) {
            if (open_line(line, run->line_settings, &error)) {
                reopen_at = INT64_MAX;
                if (line->link_path.empty()) {
                    print_line_path(*line);
                }
                status("line back on %s", line->device_path.c_str());
            } else {
                status("%s; trying again", error.c_str());
                reopen_at = now + kReopenRetryNs;
            }
        }

        // The logger has gone: whatever it left unread is not for the next one.
        const auto lose_listener = [line, &listening]() {
            if (listening && line->fd >= 0) {
                status("the logger closed the line");
                discard_stale_input(*line);
            }
            listening = false;
        };
        if (line_has_listener(*line)) {
            if (!listening && line->is_pty) {
                status("the logger opened the line");
            }
            listening = true;
        } else {
            lose_listener();
        }
        // Bytes a logger wrote just before it closed the line still arrive: read whatever is
        // there even without a listener (the read then ends in an error).
        if (line->fd >= 0 && !receive(*line, device, now)) {
            lose_listener();
        }

        if (line->fd >= 0) {
            const int64_t hangup_ms = start_due_faults(&faults, device->items_sent(), tx, now);
            if (hangup_ms >= 0) {
                close_line(line);
                listening = false;
                reopen_at = hangup_ms > 0 ? now + hangup_ms * kNsPerMs : INT64_MAX;
                const auto sent = static_cast<unsigned long long>(device->items_sent());
                if (hangup_ms > 0) {
                    status("hang-up after %llu %s, back in %lld ms", sent, faults.items,
                           static_cast<long long>(hangup_ms));
                } else {
                    status("hang-up after %llu %s, for good", sent, faults.items);
                }
            }
        }

        // With nobody listening the device goes on as it would on an unplugged cable: its items
        // are counted as sent and go nowhere. Several items can fall due between two wake-ups
        // at high rates: all of them are queued and go out in one write.
        device->produce(now, listening);
        flush_log_file(&run->sent_log);
        if (!listening) {
            discard_output(&tx);
        } else if (!transmit(&tx, line->fd, now)) {
            lose_listener();
        }

        int64_t deadline = std::min({device_deadline(faults, device->items_sent(), tx, now,
                                                     line->fd >= 0, device->next_item_ns()),
                                     run->end_ns, reopen_at});
        if (line->fd >= 0 && !listening) {
            deadline = std::min(deadline, now + kListenerRetryNs);
        }
        pollfd waits[2];
        nfds_t count = 0;
        if (listening) {
            const short events = static_cast<short>(POLLIN | (tx.write_blocked ? POLLOUT : 0));
            waits[count++] = pollfd{line->fd, events, 0};
        }
        const nfds_t stdin_index = count;
        if (run->stdin_eof) {
            waits[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        }
        timespec timeout{};
        timespec* timeout_pointer = nullptr;
        if (deadline != INT64_MAX) {
            now = monotonic_ns();
            const int64_t wait = deadline > now ? deadline - now : 0;
            timeout.tv_sec = static_cast<time_t>(wait / kNsPerSecond);
            timeout.tv_nsec = static_cast<long>(wait % kNsPerSecond);
            timeout_pointer = &timeout;
        }
        const int ready = ppoll(waits, count, timeout_pointer, &g_wait_mask);
        if (ready > 0 && run->stdin_eof && waits[stdin_index].revents != 0 && !drain_stdin()) {
            status("end of standard input");
            break;
        }
    }
    if (g_stop_signal != 0) {
        status("stopped by signal %d", static_cast<int>(g_stop_signal));
    }
    remove_link(*line);
    close_line(line);
    close_log_file(&run->sent_log);
}

}  // namespace sim_common
