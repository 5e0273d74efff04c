// The laser control port on the library's own descriptor, over open(), termios, read() and
// write().

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "own_port.hpp"

namespace hsif_sim::own_port {
namespace {

using Clock = std::chrono::steady_clock;

int descriptor(HANDLE port) {
    return static_cast<int>(port);
}

}  // namespace

HANDLE open(const char* path, uint32_t baud) {
    // Non-blocking, so neither the open nor a transfer waits in the driver.
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    termios line{};
    bool set = tcgetattr(fd, &line) == 0;
    if (set) {
        cfmakeraw(&line);
        line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
        line.c_cflag |= CLOCAL | CREAD;
        line.c_cc[VMIN] = 0;
        line.c_cc[VTIME] = 0;
        // glibc takes the rate as a number as well as a B constant.
        set = cfsetspeed(&line, static_cast<speed_t>(baud)) == 0 &&
              tcsetattr(fd, TCSANOW, &line) == 0 && tcflush(fd, TCIOFLUSH) == 0;
    }
    // A descriptor 0 would read as no handle at all.
    if (!set || fd == 0) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return static_cast<HANDLE>(fd);
}

int32_t read_waiting(HANDLE port, void* buffer, int32_t length) {
    if (length == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::read(descriptor(port), buffer, static_cast<size_t>(length));
        if (n > 0) {
            return static_cast<int32_t>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        // A raw line with VMIN 0 reads 0 bytes with nothing waiting; a hung-up one polls so.
        if (n == 0) {
            pollfd p{descriptor(port), POLLIN, 0};
            return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0 ? -1 : 0;
        }
        return -1;
    }
}

int32_t write(HANDLE port, const void* data, int32_t length, uint32_t timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto* bytes = static_cast<const uint8_t*>(data);
    int32_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::write(descriptor(port), bytes + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return done > 0 ? done : -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{descriptor(port), POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return done > 0 ? done : -1;
        }
    }
    return done;
}

bool purge(HANDLE port, uint32_t flags) {
    constexpr uint32_t kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if ((flags & ~kAll) != 0) {
        return false;
    }
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    const bool output = (flags & PURGE_TXCLEAR) != 0;
    if (!input && !output) {
        return true;
    }
    return tcflush(descriptor(port), input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH)) ==
           0;
}

void close(HANDLE port) {
    (void)tcflush(descriptor(port), TCIOFLUSH);
    ::close(descriptor(port));
}

}  // namespace hsif_sim::own_port
