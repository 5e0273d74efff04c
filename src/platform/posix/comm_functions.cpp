// The comm functions that keep state for the program or act on the queues and lines: the stored
// time-outs (Get/SetCommTimeouts), the event mask (Get/SetCommMask), PurgeComm and
// EscapeCommFunction.

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "platform/posix/handles.hpp"

using namespace platform::posix;

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    return get_serial_state(handle, &SerialState::timeouts, timeouts);
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    if (!find_serial(handle)) {
        return FALSE;
    }
    // Windows refuses the "return at once" interval with a total time-out of MAXDWORD.
    if (timeouts == nullptr || (timeouts->ReadIntervalTimeout == MAXDWORD &&
                                timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                                timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    return set_serial_state(handle, &SerialState::timeouts, *timeouts);
}

BOOL SetCommMask(HANDLE handle, DWORD mask) {
    return set_serial_state(handle, &SerialState::comm_mask, mask);
}

BOOL GetCommMask(HANDLE handle, LPDWORD mask) {
    return get_serial_state(handle, &SerialState::comm_mask, mask);
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
    auto entry = find_serial(handle);
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
    auto entry = find_serial(handle);
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
