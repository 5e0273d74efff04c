#pragma once
// The POSIX layer's handle table and its error translation: what a HANDLE stands for (an open
// descriptor with the Windows state termios cannot hold), and errno mapped to Windows codes.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32.hpp"

namespace platform::posix {

// What an open handle refers to. Serial devices carry line settings and time-outs; other files
// (regular files, character devices that are not terminals) only read and write; events have no
// descriptor, only their signalled state.
enum class HandleKind { kSerial, kFile, kEvent };

// The line-error counters a serial driver keeps (Linux: TIOCGICOUNT), as last seen by
// ClearCommError on the handle.
struct LineErrorCounts {
    int frame = 0;
    int overrun = 0;  // the receiver lost a character
    int parity = 0;
    int brk = 0;          // breaks received
    int buf_overrun = 0;  // the input queue overflowed
};

// The state behind one handle. `fd` is fixed for the handle's life; the rest is guarded by
// `mutex`, so a read on one thread and SetCommTimeouts on another see whole values.
struct HandleEntry {
    int fd = -1;
    HandleKind kind = HandleKind::kFile;
    bool can_read = false;
    bool can_write = false;
    bool locked = false;  // holds flock(LOCK_EX) on the device
    std::mutex mutex;
    DCB dcb{};                // the settings last applied (read from the device at open)
    COMMTIMEOUTS timeouts{};  // all zero at open, as on Windows
    DWORD comm_mask = 0;      // the SetCommMask events; none at open, as on Windows
    // Line errors: whether the driver keeps counts at all, and the counts last reported.
    bool error_counts_kept = false;
    LineErrorCounts error_counts{};

    // Events: the state and the waiters on it (under `mutex`).
    bool manual_reset = false;
    bool signalled = false;
    std::condition_variable changed;
};

// Signals an event handle (SetEvent); false with ERROR_INVALID_HANDLE when it is not an event.
bool signal_event(HANDLE handle);

// Registers an open descriptor and returns its new handle, never 0 nor INVALID_HANDLE_VALUE.
// Returns INVALID_HANDLE_VALUE (last error ERROR_TOO_MANY_OPEN_FILES) when no value is free.
HANDLE add_handle(std::shared_ptr<HandleEntry> entry);

// Returns the entry of a handle, or nullptr (last error ERROR_INVALID_HANDLE) when the handle
// is not open. The entry stays valid for the holder even if the handle is closed meanwhile.
std::shared_ptr<HandleEntry> find_handle(HANDLE handle);

// Removes a handle from the table and returns its entry, or nullptr (last error
// ERROR_INVALID_HANDLE) when it is not open.
std::shared_ptr<HandleEntry> remove_handle(HANDLE handle);

// The descriptor behind a handle, or -1 when the handle is not open. For conformance tests that
// check what reached the device.
int descriptor_of(HANDLE handle);

// Where an errno value arose: opening a device decides "not there" differently from a transfer
// on a device that was there.
enum class ErrorContext { kOpen, kTransfer };

// The Windows error code that stands for an errno value, from one table. Unknown values give
// ERROR_GEN_FAILURE.
DWORD windows_error(int errno_value, ErrorContext context);

// Sets the calling thread's last error from an errno value and returns FALSE, so failure paths
// read `return fail_errno(errno, ErrorContext::kTransfer);`.
BOOL fail_errno(int errno_value, ErrorContext context);

// Sets the calling thread's last error and returns FALSE.
BOOL fail(DWORD code);

}  // namespace platform::posix
