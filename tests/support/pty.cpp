// The pseudo-terminal pair for tests.

#include "pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads from fd until count bytes have arrived, the line hangs up, or timeout_ms has passed: since
// the call, or when quiet, since the last bytes came.
std::vector<uint8_t> read_from(int fd, size_t count, int timeout_ms, bool quiet) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<uint8_t> out;
    uint8_t chunk[4096];
    while (fd >= 0 && out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, quiet ? timeout_ms : ms_left(deadline));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (quiet || ms_left(deadline) == 0) {
                break;
            }
            continue;
        }
        const ssize_t got = ::read(fd, chunk, std::min(sizeof chunk, count - out.size()));
        if (got > 0) {
            out.insert(out.end(), chunk, chunk + got);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
    return out;
}

}  // namespace

Pty::Pty(Line line) {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B38400);
    cfsetospeed(&raw, B38400);
    char name[256] = {};
    // No settings given: the kernel's defaults for a new pseudo-terminal.
    termios* settings = line == Line::kRaw ? &raw : nullptr;
    if (openpty(&master_, &slave_, name, settings, nullptr) != 0) {
        error_ = std::string("openpty: ") + std::strerror(errno);
        master_ = -1;
        slave_ = -1;
        return;
    }
    slave_path_ = name;
    // Linux applies settings made on the master to the slave, so a cooked pair is left alone.
    termios master{};
    if (line == Line::kRaw && tcgetattr(master_, &master) == 0) {
        cfmakeraw(&master);
        (void)tcsetattr(master_, TCSANOW, &master);
    }
    (void)fcntl(master_, F_SETFD, FD_CLOEXEC);
    (void)fcntl(slave_, F_SETFD, FD_CLOEXEC);
    (void)fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    hang_up();
}

bool Pty::write(const void* data, size_t size, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (master_ >= 0 && done < size) {
        const ssize_t n = ::write(master_, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        pollfd p{master_, POLLOUT, 0};
        const int left = ms_left(deadline);
        if (left == 0 || (poll(&p, 1, left) == 0 && ms_left(deadline) == 0)) {
            return false;
        }
    }
    return done == size;
}

std::vector<uint8_t> Pty::read(size_t count, int timeout_ms) {
    return read_from(master_, count, timeout_ms, false);
}

std::vector<uint8_t> Pty::read_until_quiet(int quiet_ms, size_t limit) {
    return read_from(master_, limit, quiet_ms, true);
}

void Pty::hang_up() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        close(slave_);
        slave_ = -1;
    }
}

}  // namespace test_support
