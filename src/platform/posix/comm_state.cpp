// SetupComm, GetCommState/SetCommState (DCB <-> termios), Get/SetCommTimeouts, ClearCommError,
// the event mask, PurgeComm and EscapeCommFunction.

#include "platform/posix/comm_state.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>

#include "platform/posix/handles.hpp"

#if defined(__linux__)
#include <asm/ioctls.h>
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
#if defined(TCGETS2) && defined(TCSETS2)
#define MORVANE_HAVE_TERMIOS2 1
#endif
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

// Input processing a Windows port has no setting for, so none of it is ever on: no break or
// parity marks, no bit stripping, no CR/NL translation, no restart of output by any character.
// (IXON, IXOFF and INPCK are the DCB's fOutX, fInX and fParity.)
constexpr tcflag_t kInputWithoutDcbField =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IGNPAR;

// Windows DCB defaults for the fields termios has no place for.
constexpr WORD kDefaultXonLim = 2048;
constexpr WORD kDefaultXoffLim = 512;
constexpr WORD kDcbLength = sizeof(DCB);

bool standard_speed(DWORD rate, speed_t* speed) {
    for (const BaudRow& row : kBaudTable) {
        if (row.rate == rate) {
            *speed = row.speed;
            return true;
        }
    }
    return false;
}

#ifdef MORVANE_HAVE_TERMIOS2
// The speed code that tells the driver to take the rate from c_ospeed/c_ispeed.
constexpr tcflag_t kOtherBaud = 0010000;
constexpr tcflag_t kBaudMask = 0010017;
constexpr unsigned kInputBaudShift = 16;

// Sets a rate outside the standard table. Drivers round to what their clock can make; a rate
// more than 3% off is a line that cannot talk to the other end, so it is refused.
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

DWORD rate_of(int fd, const termios& t) {
    const speed_t speed = cfgetospeed(&t);
    for (const BaudRow& row : kBaudTable) {
        if (row.speed == speed) {
            return row.rate;
        }
    }
    return custom_rate(fd);
}

BYTE parity_of(const termios& t) {
    if ((t.c_cflag & PARENB) == 0) {
        return NOPARITY;
    }
#ifdef CMSPAR
    if ((t.c_cflag & CMSPAR) != 0) {
        return (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    }
#endif
    return (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
}

BYTE byte_size_of(const termios& t) {
    switch (t.c_cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

tcflag_t size_flag(BYTE byte_size) {
    switch (byte_size) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Returns true when every field holds a value Windows accepts and this system can apply.
bool valid(const DCB& dcb) {
    if (dcb.BaudRate == 0) {
        return false;
    }
#ifndef MORVANE_HAVE_TERMIOS2
    speed_t speed{};
    if (!standard_speed(dcb.BaudRate, &speed)) {
        return false;
    }
#endif
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) {
        return false;
    }
    if (dcb.Parity > SPACEPARITY) {
        return false;
    }
#ifndef CMSPAR
    if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY) {
        return false;
    }
#endif
    // One and a half stop bits have no termios setting.
    if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) {
        return false;
    }
    if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) {
        return false;
    }
    // Windows refuses software flow control whose two characters cannot be told apart.
    if ((dcb.fOutX != 0 || dcb.fInX != 0) && dcb.XonChar == dcb.XoffChar) {
        return false;
    }
    return true;
}

// Drives DTR and RTS as the DCB asks, where the device has modem lines (a pseudo-terminal has
// none, so failures are not errors).
void set_modem_lines(int fd, const DCB& dcb) {
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        (void)ioctl(fd, TIOCMBIS, &dtr);
    } else {
        (void)ioctl(fd, TIOCMBIC, &dtr);
    }
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) {
        (void)ioctl(fd, TIOCMBIC, &rts);
    } else if (dcb.fRtsControl == RTS_CONTROL_ENABLE) {
        (void)ioctl(fd, TIOCMBIS, &rts);
    }
}

// True for the slave side of a pseudo-terminal. Its driver keeps every setting except the
// character framing, which it fixes at eight bits without parity (there is no line to frame);
// the C library reports that as a failed tcsetattr although everything else was applied.
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

// Applies `wanted` at once. On a pseudo-terminal the framing bits the driver does not keep are
// not an error.
bool apply(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) {
        return true;
    }
    const int error = errno;
    if (error == EINVAL && is_pseudo_terminal(fd)) {
        termios now{};
        tcflag_t framing = CSIZE | PARENB | PARODD;
#ifdef CMSPAR
        framing |= CMSPAR;
#endif
        if (tcgetattr(fd, &now) == 0 && (now.c_cflag & ~framing) == (wanted.c_cflag & ~framing) &&
            now.c_iflag == wanted.c_iflag && now.c_lflag == wanted.c_lflag &&
            now.c_oflag == wanted.c_oflag) {
            return true;
        }
    }
    errno = error;
    return false;
}

std::shared_ptr<HandleEntry> serial_entry(HANDLE handle) {
    std::shared_ptr<HandleEntry> entry = find_handle(handle);
    if (entry && entry->kind != HandleKind::kSerial) {
        fail(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    return entry;
}

}  // namespace

bool prepare_line(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return false;
    }
    t.c_iflag &= ~kInputWithoutDcbField;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    // One byte at least, no timer: on the non-blocking descriptor an empty line then reads as
    // EAGAIN, which tells it from a line that hung up (0 bytes) without asking poll().
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool read_dcb(int fd, DCB* dcb) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return false;
    }
    *dcb = DCB{};
    dcb->DCBlength = kDcbLength;
    dcb->BaudRate = rate_of(fd, t);
    dcb->fBinary = 1;
    dcb->fParity = (t.c_iflag & INPCK) != 0;
    dcb->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fRtsControl = (t.c_cflag & CRTSCTS) != 0 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb->fOutX = (t.c_iflag & IXON) != 0;
    dcb->fInX = (t.c_iflag & IXOFF) != 0;
    dcb->XonLim = kDefaultXonLim;
    dcb->XoffLim = kDefaultXoffLim;
    dcb->ByteSize = byte_size_of(t);
    dcb->Parity = parity_of(t);
    dcb->StopBits = (t.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
    dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return true;
}

}  // namespace platform::posix

using platform::posix::fail;
using platform::posix::fail_errno;
using platform::posix::line_error_mask;
using platform::posix::LineErrorCounts;
using platform::posix::read_line_error_counts;
using platform::posix::serial_entry;
using ErrorContext = platform::posix::ErrorContext;

BOOL SetupComm(HANDLE handle, DWORD, DWORD) {
    // The system sizes tty queues itself; asking is accepted as Windows accepts it.
    return serial_entry(handle) ? TRUE : FALSE;
}

// Returns the settings last applied, as Windows does: some drivers (pseudo-terminals) accept
// parity and byte size without keeping them, and the caller's read-modify-write must not see
// its own fields change under it.
BOOL GetCommState(HANDLE handle, LPDCB dcb) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    *dcb = entry->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, LPDCB dcb) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    if (dcb == nullptr || !platform::posix::valid(*dcb)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    const int fd = entry->fd;
    termios original{};
    if (tcgetattr(fd, &original) != 0) {
        return fail_errno(errno, ErrorContext::kTransfer);
    }
    termios t = original;
    // The line stays binary whatever fBinary says: Windows supports nothing else.
    t.c_iflag &= ~(platform::posix::kInputWithoutDcbField | IXON | IXOFF | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    t.c_cflag |= CLOCAL | CREAD | platform::posix::size_flag(dcb->ByteSize);
    switch (dcb->Parity) {
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case MARKPARITY:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
    if (dcb->Parity != NOPARITY && dcb->fParity != 0) {
        t.c_iflag |= INPCK;
    }
    if (dcb->StopBits == TWOSTOPBITS) {
        t.c_cflag |= CSTOPB;
    }
    if (dcb->fOutxCtsFlow != 0) {
        t.c_cflag |= CRTSCTS;
    }
    if (dcb->fOutX != 0) {
        t.c_iflag |= IXON;
    }
    if (dcb->fInX != 0) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);

    speed_t speed{};
    const bool standard = platform::posix::standard_speed(dcb->BaudRate, &speed);
    if (standard) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (!platform::posix::apply(fd, t)) {
        const int error = errno;
        (void)tcsetattr(fd, TCSANOW, &original);
        return fail_errno(error, ErrorContext::kTransfer);
    }
    if (!standard && !platform::posix::set_custom_rate(fd, dcb->BaudRate)) {
        // Nothing may change when the rate is refused.
        (void)tcsetattr(fd, TCSANOW, &original);
        return fail(ERROR_INVALID_PARAMETER);
    }
    platform::posix::set_modem_lines(fd, *dcb);
    entry->dcb = *dcb;
    entry->dcb.fBinary = 1;
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    *timeouts = entry->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Windows refuses the "return at once" interval with a total time-out of MAXDWORD.
    if (timeouts->ReadIntervalTimeout == MAXDWORD &&
        timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts->ReadTotalTimeoutConstant == MAXDWORD) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    entry->timeouts = *timeouts;
    return TRUE;
}

namespace platform::posix {

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

DWORD line_error_mask(const LineErrorCounts& before, const LineErrorCounts& after) {
    DWORD mask = 0;
    // Counters only grow; one that differs has counted an error (a wrapped one too).
    if (after.buf_overrun != before.buf_overrun) {
        mask |= CE_RXOVER;
    }
    if (after.overrun != before.overrun) {
        mask |= CE_OVERRUN;
    }
    if (after.parity != before.parity) {
        mask |= CE_RXPARITY;
    }
    if (after.frame != before.frame) {
        mask |= CE_FRAME;
    }
    if (after.brk != before.brk) {
        mask |= CE_BREAK;
    }
    return mask;
}

}  // namespace platform::posix

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT stat) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    // A vanished device fails here as on Windows: a terminal that hung up polls with POLLHUP.
    pollfd p{entry->fd, 0, 0};
    while (poll(&p, 1, 0) < 0) {
        if (errno != EINTR) {
            return fail_errno(errno, ErrorContext::kTransfer);
        }
    }
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    int waiting = 0;
    int unsent = 0;
    if (ioctl(entry->fd, FIONREAD, &waiting) != 0 || ioctl(entry->fd, TIOCOUTQ, &unsent) != 0) {
        return fail_errno(errno, ErrorContext::kTransfer);
    }
    // The errors counted since the last report; reporting them clears them, as on Windows.
    DWORD line_errors = 0;
    if (entry->error_counts_kept) {
        LineErrorCounts now{};
        if (read_line_error_counts(entry->fd, &now)) {
            std::lock_guard lock(entry->mutex);
            line_errors = line_error_mask(entry->error_counts, now);
            entry->error_counts = now;
        }
    }
    if (errors != nullptr) {
        *errors = line_errors;
    }
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(waiting);
        stat->cbOutQue = static_cast<DWORD>(unsent);
    }
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD mask) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    std::lock_guard lock(entry->mutex);
    entry->comm_mask = mask;
    return TRUE;
}

BOOL GetCommMask(HANDLE handle, LPDWORD mask) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    if (mask == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    *mask = entry->comm_mask;
    return TRUE;
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    constexpr DWORD kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if ((flags & ~kAll) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Transfers complete before they return, so the ABORT flags find nothing pending.
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    const bool output = (flags & PURGE_TXCLEAR) != 0;
    if (!input && !output) {
        return TRUE;
    }
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (tcflush(entry->fd, queue) != 0) {
        return fail_errno(errno, ErrorContext::kTransfer);
    }
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
    auto entry = serial_entry(handle);
    if (!entry) {
        return FALSE;
    }
    const int fd = entry->fd;
    // The modem lines are set and cleared with one ioctl each, never read, changed and written
    // back, so the other lines are never disturbed.
    const auto modem_line = [fd](unsigned long request, int line) -> BOOL {
        if (ioctl(fd, request, &line) == 0) {
            return TRUE;
        }
        // A device without modem lines (a pseudo-terminal: ENOTTY or EINVAL) reports what Wine
        // reports for it.
        if (errno == ENOTTY || errno == EINVAL) {
            return fail(ERROR_NOT_SUPPORTED);
        }
        return fail_errno(errno, ErrorContext::kTransfer);
    };
    const auto done = [](int result) -> BOOL {
        return result == 0 ? TRUE : fail_errno(errno, ErrorContext::kTransfer);
    };
    switch (function) {
        case SETXOFF:
            return done(tcflow(fd, TCOOFF));
        case SETXON:
            return done(tcflow(fd, TCOON));
        case SETRTS:
            return modem_line(TIOCMBIS, TIOCM_RTS);
        case CLRRTS:
            return modem_line(TIOCMBIC, TIOCM_RTS);
        case SETDTR:
            return modem_line(TIOCMBIS, TIOCM_DTR);
        case CLRDTR:
            return modem_line(TIOCMBIC, TIOCM_DTR);
        case RESETDEV:
            return TRUE;
        case SETBREAK:
            return done(ioctl(fd, TIOCSBRK));
        case CLRBREAK:
            return done(ioctl(fd, TIOCCBRK));
        default:
            return fail(ERROR_INVALID_PARAMETER);
    }
}
