// SetupComm, GetCommState and SetCommState: the DCB applied to termios and read back from it.

#include "platform/posix/line_settings.hpp"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "platform/posix/handles.hpp"
#include "platform/posix/serial_kernel.hpp"

namespace platform::posix {
namespace {

// Input processing a Windows port has no setting for, so none of it is ever on: no break or
// parity marks, no bit stripping, no CR/NL translation, no restart of output by any character.
// (IXON, IXOFF and INPCK are the DCB's fOutX, fInX and fParity.)
constexpr tcflag_t kInputWithoutDcbField =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IGNPAR;

// The character framing bits: what a pseudo-terminal does not keep.
constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | kMarkSpaceParity;

// Windows DCB defaults for the fields termios has no place for.
constexpr WORD kDefaultXonLim = 2048;
constexpr WORD kDefaultXoffLim = 512;
constexpr WORD kDcbLength = sizeof(DCB);

DWORD rate_of(int fd, const termios& t) {
    const DWORD rate = standard_rate(cfgetospeed(&t));
    return rate != 0 ? rate : custom_rate(fd);
}

BYTE parity_of(const termios& t) {
    if ((t.c_cflag & PARENB) == 0) {
        return NOPARITY;
    }
    if ((t.c_cflag & kMarkSpaceParity) != 0) {
        return (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    }
    return (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
}

// The termios parity flags of a DCB parity (mark and space only where the system has them).
tcflag_t parity_flags(BYTE parity) {
    switch (parity) {
        case ODDPARITY:
            return PARENB | PARODD;
        case EVENPARITY:
            return PARENB;
        case MARKPARITY:
            return PARENB | PARODD | kMarkSpaceParity;
        case SPACEPARITY:
            return PARENB | kMarkSpaceParity;
        default:
            return 0;
    }
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
    speed_t speed{};
    if (dcb.BaudRate == 0 || (!kHasCustomRates && !standard_speed(dcb.BaudRate, &speed))) {
        return false;
    }
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY) {
        return false;
    }
    if (kMarkSpaceParity == 0 && (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY)) {
        return false;
    }
    // One and a half stop bits have no termios setting.
    if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) {
        return false;
    }
    if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) {
        return false;
    }
    // Windows refuses software flow control whose two characters cannot be told apart.
    return !((dcb.fOutX != 0 || dcb.fInX != 0) && dcb.XonChar == dcb.XoffChar);
}

// The termios settings of `original` with what the DCB expresses in place of its own, the speed
// aside. The line stays binary whatever fBinary says: Windows supports nothing else.
termios with_dcb(const termios& original, const DCB& dcb) {
    termios t = original;
    t.c_iflag &= ~(kInputWithoutDcbField | IXON | IXOFF | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(kFraming | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | size_flag(dcb.ByteSize) | parity_flags(dcb.Parity);
    if (dcb.Parity != NOPARITY && dcb.fParity != 0) {
        t.c_iflag |= INPCK;
    }
    if (dcb.StopBits == TWOSTOPBITS) {
        t.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow != 0) {
        t.c_cflag |= CRTSCTS;
    }
    if (dcb.fOutX != 0) {
        t.c_iflag |= IXON;
    }
    if (dcb.fInX != 0) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return t;
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

// Applies `wanted` at once. On a pseudo-terminal the framing bits the driver does not keep are
// not an error (the C library reports them as a failed tcsetattr although everything else was
// applied).
bool apply(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) {
        return true;
    }
    const int error = errno;
    if (error == EINVAL && is_pseudo_terminal(fd)) {
        termios now{};
        if (tcgetattr(fd, &now) == 0 && (now.c_cflag & ~kFraming) == (wanted.c_cflag & ~kFraming) &&
            now.c_iflag == wanted.c_iflag && now.c_lflag == wanted.c_lflag &&
            now.c_oflag == wanted.c_oflag) {
            return true;
        }
    }
    errno = error;
    return false;
}

// Applies the DCB to the device, all or nothing: on any refusal the device keeps `original`.
// Returns false with the last error set.
bool apply_dcb(int fd, const termios& original, const DCB& dcb) {
    termios t = with_dcb(original, dcb);
    speed_t speed{};
    const bool standard = standard_speed(dcb.BaudRate, &speed);
    if (standard) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (!apply(fd, t)) {
        const int error = errno;
        (void)tcsetattr(fd, TCSANOW, &original);
        fail_errno(error, ErrorContext::kTransfer);
        return false;
    }
    if (!standard && !set_custom_rate(fd, dcb.BaudRate)) {
        (void)tcsetattr(fd, TCSANOW, &original);
        fail(ERROR_INVALID_PARAMETER);
        return false;
    }
    set_modem_lines(fd, dcb);
    return true;
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

using namespace platform::posix;

BOOL SetupComm(HANDLE handle, DWORD, DWORD) {
    // The system sizes tty queues itself; asking is accepted as Windows accepts it.
    return find_serial(handle) ? TRUE : FALSE;
}

// Returns the settings last applied, as Windows does: some drivers (pseudo-terminals) accept
// parity and byte size without keeping them, and the caller's read-modify-write must not see
// its own fields change under it.
BOOL GetCommState(HANDLE handle, LPDCB dcb) {
    return platform::posix::get_serial_state(handle, &platform::posix::SerialState::dcb, dcb);
}

BOOL SetCommState(HANDLE handle, LPDCB dcb) {
    auto entry = find_serial(handle);
    if (!entry) {
        return FALSE;
    }
    if (dcb == nullptr || !platform::posix::valid(*dcb)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    termios original{};
    if (tcgetattr(entry->fd, &original) != 0) {
        return fail_errno(errno, ErrorContext::kTransfer);
    }
    if (!platform::posix::apply_dcb(entry->fd, original, *dcb)) {
        return FALSE;
    }
    entry->serial.dcb = *dcb;
    entry->serial.dcb.fBinary = 1;
    return TRUE;
}
