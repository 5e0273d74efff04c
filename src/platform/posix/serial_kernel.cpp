// The serial driver's offer on this system: speed codes, termios2 rates, pseudo-terminals and
// the line-error counters.

#include "platform/posix/serial_kernel.hpp"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#if defined(__linux__)
#include <linux/serial.h>
// The kernel's termios2, which carries the line rate as a number. It is declared here rather
// than taken from <asm/termbits.h>, which clashes with <termios.h>.
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#endif

namespace platform::posix {
namespace {

struct BaudRow {
    DWORD rate;
    speed_t speed;
};

constexpr BaudRow kBaudTable[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

bool standard_speed(DWORD rate, speed_t* speed) {
    for (const BaudRow& row : kBaudTable) {
        if (row.rate == rate) {
            *speed = row.speed;
            return true;
        }
    }
    return false;
}

DWORD standard_rate(speed_t speed) {
    for (const BaudRow& row : kBaudTable) {
        if (row.speed == speed) {
            return row.rate;
        }
    }
    return 0;
}

#if defined(__linux__) && defined(TCGETS2) && defined(TCSETS2)
namespace {

// The speed code that tells the driver to take the rate from c_ospeed/c_ispeed.
constexpr tcflag_t kOtherBaud = 0010000;
constexpr tcflag_t kBaudMask = 0010017;
constexpr unsigned kInputBaudShift = 16;

}  // namespace

bool set_custom_rate(int fd, DWORD rate) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_cflag &= ~(kBaudMask | (kBaudMask << kInputBaudShift));
    t.c_cflag |= kOtherBaud | (kOtherBaud << kInputBaudShift);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    if (ioctl(fd, TCSETS2, &t) != 0) {
        return false;
    }
    termios2 check{};
    if (ioctl(fd, TCGETS2, &check) != 0) {
        return false;
    }
    const double ratio = static_cast<double>(check.c_ospeed) / static_cast<double>(rate);
    if (ratio < 0.97 || ratio > 1.03) {
        errno = EINVAL;
        return false;
    }
    return true;
}

DWORD custom_rate(int fd) {
    termios2 t{};
    return ioctl(fd, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}
#else
bool set_custom_rate(int, DWORD) {
    errno = EINVAL;
    return false;
}

DWORD custom_rate(int) {
    return 0;
}
#endif

bool is_pseudo_terminal(int fd) {
#if defined(__linux__)
    struct stat info {};
    // Linux numbers pty slaves with majors 136 to 143.
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
           major(info.st_rdev) <= 143;
#else
    (void)fd;
    return false;
#endif
}

bool read_line_error_counts(int fd, LineErrorCounts* counts) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) {
        return false;
    }
    counts->frame = icount.frame;
    counts->overrun = icount.overrun;
    counts->parity = icount.parity;
    counts->brk = icount.brk;
    counts->buf_overrun = icount.buf_overrun;
    return true;
#else
    (void)fd;
    (void)counts;
    return false;
#endif
}

}  // namespace platform::posix
