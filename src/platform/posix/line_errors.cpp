// ClearCommError: what waits in each direction, and the line errors counted since the last call.

#include "platform/posix/line_errors.hpp"

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/handles.hpp"

namespace platform::posix {

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

using namespace platform::posix;

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT stat) {
    auto entry = find_serial(handle);
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
    if (entry->serial.error_counts_kept) {
        LineErrorCounts now{};
        if (read_line_error_counts(entry->fd, &now)) {
            std::lock_guard lock(entry->mutex);
            line_errors = line_error_mask(entry->serial.error_counts, now);
            entry->serial.error_counts = now;
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
