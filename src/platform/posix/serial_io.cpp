// Transfers on serial devices under the Windows COMMTIMEOUTS, waiting in poll() against
// monotonic deadlines.

#include "platform/posix/serial_io.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// Milliseconds to hand to poll() until the deadline: rounded up so a wait never ends early,
// -1 for no deadline.
int poll_timeout(const Deadline& deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

Deadline earlier(const Deadline& a, const Deadline& b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return *a < *b ? a : b;
}

enum class Wait { kReady, kTimedOut, kFailed };

// Waits until the descriptor is ready for `events` or the deadline passes. A signal that
// interrupts the wait resumes it with the time left: it is neither a time-out nor an error.
// On kFailed, *error holds the Windows code.
Wait wait_for(int fd, short events, const Deadline& deadline, DWORD* error) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, poll_timeout(deadline));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = windows_error(errno, ErrorContext::kTransfer);
            return Wait::kFailed;
        }
        if (n == 0) {
            if (deadline && Clock::now() < *deadline) {
                continue;  // poll's millisecond rounding woke us a little early
            }
            return Wait::kTimedOut;
        }
        if ((p.revents & POLLNVAL) != 0) {
            *error = ERROR_INVALID_HANDLE;
            return Wait::kFailed;
        }
        // Readable data is delivered before a hang-up is reported.
        if ((p.revents & events) != 0) {
            return Wait::kReady;
        }
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return Wait::kFailed;
    }
}

// Reads what is waiting, without waiting: returns the byte count (0 when nothing is waiting)
// or -1 with *error set. The read comes first, so a port with bytes waiting costs one system
// call. A non-blocking terminal with at least one byte to wait for (as the layer sets a line up)
// reads EAGAIN when nothing is waiting; one set to wait for none (a descriptor a library set up
// itself) reads 0 bytes both then and when it has hung up, and only then does poll() tell the
// two apart: a terminal that polls readable but still reads 0 bytes has hung up.
long take_waiting(int fd, uint8_t* buffer, DWORD count, DWORD* error) {
    if (count == 0) {
        return 0;
    }
    bool reported_readable = false;
    for (;;) {
        const ssize_t n = read(fd, buffer, count);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        if (n < 0) {
            *error = windows_error(errno, ErrorContext::kTransfer);
            return -1;
        }
        if (reported_readable) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            return -1;
        }
        switch (wait_for(fd, POLLIN, Clock::now(), error)) {
            case Wait::kTimedOut:
                return 0;
            case Wait::kFailed:
                return -1;
            case Wait::kReady:
                reported_readable = true;  // a byte raced in, or the device hung up
                break;
        }
    }
}

Deadline after_ms(Clock::time_point from, uint64_t ms) {
    return from + std::chrono::milliseconds(static_cast<int64_t>(ms));
}

// {MAXDWORD, MAXDWORD, C} when nothing was waiting: waits up to C ms for the first byte, then
// takes what has arrived.
bool read_within(int fd, uint8_t* buffer, DWORD count, DWORD constant, DWORD* got, DWORD* error) {
    const Wait wait = wait_for(fd, POLLIN, after_ms(Clock::now(), constant), error);
    if (wait != Wait::kReady) {
        return wait == Wait::kTimedOut;  // nothing came: done with no bytes
    }
    const long n = take_waiting(fd, buffer, count, error);
    if (n < 0) {
        return false;
    }
    *got = static_cast<DWORD>(n);
    return true;
}

// The total and interval time-outs: gathers bytes after the *got already taken until `count`
// have arrived or a time-out passes. A failure after some bytes delivers them; the next read
// reports it.
bool read_until(int fd, uint8_t* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* got,
                DWORD* error) {
    const auto start = Clock::now();
    Deadline total;
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        total = after_ms(start, static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
                                    t.ReadTotalTimeoutConstant);
    }
    // An interval of MAXDWORD outside the two "at once" combinations is about 49 days: no limit.
    const DWORD interval = t.ReadIntervalTimeout;
    const bool has_interval = interval != 0 && interval != MAXDWORD;
    auto last_byte = start;
    while (*got < count) {
        Deadline deadline = total;
        if (has_interval && *got > 0) {
            deadline = earlier(deadline, after_ms(last_byte, interval));
        }
        switch (wait_for(fd, POLLIN, deadline, error)) {
            case Wait::kTimedOut:
                return true;
            case Wait::kFailed:
                return *got > 0;
            case Wait::kReady:
                break;
        }
        const long n = take_waiting(fd, buffer + *got, count - *got, error);
        if (n < 0) {
            return *got > 0;
        }
        if (n > 0) {
            *got += static_cast<DWORD>(n);
            last_byte = Clock::now();
        }
    }
    return true;
}

}  // namespace

bool serial_read(int fd, uint8_t* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* got,
                 DWORD* error) {
    *got = 0;
    if (count == 0) {
        return true;
    }
    const long first = take_waiting(fd, buffer, count, error);
    if (first < 0) {
        return false;
    }
    *got = static_cast<DWORD>(first);
    const DWORD interval = t.ReadIntervalTimeout;
    const DWORD multiplier = t.ReadTotalTimeoutMultiplier;
    const DWORD constant = t.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        return true;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD) {
        return *got > 0 || read_within(fd, buffer, count, constant, got, error);
    }
    return read_until(fd, buffer, count, t, got, error);
}

bool serial_write(int fd, const uint8_t* data, DWORD count, const COMMTIMEOUTS& t, DWORD* done,
                  DWORD* error) {
    *done = 0;
    Deadline deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        deadline =
            after_ms(Clock::now(), static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
                                       t.WriteTotalTimeoutConstant);
    }
    while (*done < count) {
        const ssize_t n = write(fd, data + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const Wait wait = wait_for(fd, POLLOUT, deadline, error);
            if (wait == Wait::kReady) {
                continue;
            }
            return wait == Wait::kTimedOut;  // the time-out ends the write with what went out
        }
        *error =
            n == 0 ? ERROR_DEVICE_NOT_CONNECTED : windows_error(errno, ErrorContext::kTransfer);
        return false;
    }
    return true;
}

}  // namespace platform::posix
