// A simulated device's end of the serial line.

#include "line.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim_common {
namespace {

std::string errno_text(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

speed_t speed_of(unsigned baud) {
    struct Entry {
        unsigned baud;
        speed_t speed;
    };
    static constexpr Entry kSpeeds[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Entry& entry : kSpeeds) {
        if (entry.baud == baud) {
            return entry.speed;
        }
    }
    return B0;
}

constexpr cc_t kXon = 0x11;
constexpr cc_t kXoff = 0x13;

// Raw 8N1 with the receiver on: no echo, no line editing, no flow control, every byte value
// passes unchanged. With xon_xoff, software flow control stays on in both directions, as an
// earlier program might have left a port: whoever reads the line through these settings loses
// the bytes 0x11 and 0x13. TCSANOW, because TCSAFLUSH would discard bytes already on their way.
bool make_raw(int fd, unsigned baud, bool xon_xoff) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (xon_xoff) {
        settings.c_iflag |= IXON | IXOFF;
        settings.c_cc[VSTART] = kXon;
        settings.c_cc[VSTOP] = kXoff;
    }
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    const speed_t speed = speed_of(baud);
    if (speed != B0) {
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    }
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// Points link at target atomically: a symlink under a temporary name renamed over the link,
// so a logger opening the link never finds it missing.
bool point_link(const std::string& link, const std::string& target, std::string* error) {
    const std::string temporary = link + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = errno_text("cannot create the link " + temporary);
        return false;
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        *error = errno_text("cannot rename the link to " + link);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool open_pty(Line* line, unsigned baud, bool xon_xoff, std::string* error) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = errno_text("cannot open a pseudo-terminal");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || (name = ptsname(fd)) == nullptr) {
        *error = errno_text("cannot unlock the pseudo-terminal");
        close(fd);
        return false;
    }
    // On a pty the master's settings calls act on the slave, which keeps them while the master
    // stays open, whoever opens and closes the slave.
    if (!make_raw(fd, baud, xon_xoff)) {
        *error = errno_text("cannot make the pseudo-terminal raw");
        close(fd);
        return false;
    }
    line->fd = fd;
    line->is_pty = true;
    line->device_path = name;
    // A master whose slave was never opened reports no hang-up, and bytes written to it would
    // wait for the first opener. Opening and closing the slave once puts the master in the
    // hung-up state, so the device sees when a logger arrives.
    discard_stale_input(*line);
    return true;
}

bool open_device(Line* line, const std::string& device, unsigned baud, bool xon_xoff,
                 std::string* error) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = errno_text("cannot open " + device);
        return false;
    }
    if (isatty(fd) && !make_raw(fd, baud, xon_xoff)) {
        *error = errno_text("cannot configure " + device);
        close(fd);
        return false;
    }
    line->fd = fd;
    line->is_pty = false;
    line->device_path = device;
    return true;
}

}  // namespace

bool open_line(Line* line, const LineSettings& settings, std::string* error) {
    const bool opened =
        settings.device.empty()
            ? open_pty(line, settings.baud, settings.xon_xoff, error)
            : open_device(line, settings.device, settings.baud, settings.xon_xoff, error);
    if (!opened) {
        return false;
    }
    line->link_path = settings.link;
    if (!settings.link.empty() && !point_link(settings.link, line->device_path, error)) {
        close_line(line);
        return false;
    }
    return true;
}

void close_line(Line* line) {
    if (line->fd >= 0) {
        close(line->fd);
        line->fd = -1;
    }
}

const std::string& line_display_path(const Line& line) {
    return line.link_path.empty() ? line.device_path : line.link_path;
}

void print_line_path(const Line& line) {
    std::printf("%s\n", line_display_path(line).c_str());
    std::fflush(stdout);
}

bool line_has_listener(const Line& line) {
    if (line.fd < 0) {
        return false;
    }
    pollfd entry{line.fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready <= 0 || (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void discard_stale_input(const Line& line) {
    if (line.fd < 0 || !line.is_pty) {
        return;
    }
    const int slave = open(line.device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave >= 0) {
        tcflush(slave, TCIFLUSH);
        close(slave);
    }
}

void remove_link(const Line& line) {
    if (line.link_path.empty()) {
        return;
    }
    char target[PATH_MAX];
    const ssize_t length = readlink(line.link_path.c_str(), target, sizeof target - 1);
    if (length < 0) {
        return;
    }
    target[length] = '\0';
    if (line.device_path == target) {
        unlink(line.link_path.c_str());
    }
}

}  // namespace sim_common
