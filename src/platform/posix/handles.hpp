#pragma once
// The POSIX layer's handle table and its error translation: what a HANDLE stands for (a file
// descriptor, or an event numbered apart from them), the Windows state termios cannot hold, and
// errno mapped to Windows codes.

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/posix/serial_kernel.hpp"
#include "platform/win32.hpp"

namespace platform::posix {

// What an open handle refers to. Serial devices carry line settings and time-outs; other files
// (regular files, character devices that are not terminals) only read and write; events have no
// descriptor, only their signalled state.
enum class HandleKind { kSerial, kFile, kEvent };

// Handles of devices and files are their descriptors. Handles of anything else (events) are
// multiples of 4 from here up, where no descriptor reaches: Linux caps descriptors below 2^30
// (fs.nr_open), and neither 0 nor INVALID_HANDLE_VALUE is one of them.
constexpr HANDLE kFirstObjectHandle = 0x40000000u;

// The Windows state of a serial device that termios cannot hold.
struct SerialState {
    DCB dcb{};                // the settings last applied (read from the device at first)
    COMMTIMEOUTS timeouts{};  // all zero at first, as on Windows
    DWORD comm_mask = 0;      // the SetCommMask events; none at first, as on Windows
    // Line errors: whether the driver keeps counts at all, and the counts last reported.
    bool error_counts_kept = false;
    LineErrorCounts error_counts{};
};

// The state of an event: whether it is signalled, and the waiters on it.
struct EventState {
    bool manual_reset = false;
    bool signalled = false;
    std::condition_variable changed;
};

// The state behind one handle: `kind` says which of `serial` and `event` is in use (a file has
// neither). `fd`, `kind`, the access rights and the file's identity are fixed for the handle's
// life; the rest is guarded by `mutex`, so a read on one thread and SetCommTimeouts on another
// see whole values.
struct HandleEntry {
    int fd = -1;  // -1 for an event
    HandleKind kind = HandleKind::kFile;
    bool can_read = false;
    bool can_write = false;
    bool locked = false;     // this layer holds flock() on it (and TIOCEXCL on a serial device)
    bool may_block = false;  // opened without O_NONBLOCK (by a library): see transfer.cpp
    // The file the descriptor was open on when the entry was made: a descriptor number closed
    // behind the layer's back and handed out again names another file.
    dev_t device = 0;
    ino_t inode = 0;
    std::mutex mutex;
    SerialState serial;  // kind kSerial
    EventState event;    // kind kEvent
};

// The state of an open descriptor as a fresh handle has it: a terminal is a serial device (its
// DCB read from the device as it is, its line-error counts as they stand), anything else a
// file; time-outs all zero, no event mask, no lock; whether it was opened blocking. Returns nullptr
// with errno set when the descriptor is not open. The one place entries of descriptors are made.
std::shared_ptr<HandleEntry> make_descriptor_entry(int fd, bool can_read, bool can_write);

// Registers an entry made by make_descriptor_entry; its handle is the descriptor. Returns the
// handle, or INVALID_HANDLE_VALUE (last error ERROR_TOO_MANY_OPEN_FILES) when the descriptor is
// 0 or reaches kFirstObjectHandle.
HANDLE add_descriptor(std::shared_ptr<HandleEntry> entry);

// Registers an object without a descriptor (an event) under a new handle from
// kFirstObjectHandle up, never INVALID_HANDLE_VALUE. Returns INVALID_HANDLE_VALUE (last error
// ERROR_TOO_MANY_OPEN_FILES) when no value is free.
HANDLE add_object(std::shared_ptr<HandleEntry> entry);

// Returns the entry of a handle, or nullptr (last error ERROR_INVALID_HANDLE) when the handle
// is not open. An open descriptor the layer has not seen (a library opened it itself), or one
// whose number now names another file than its entry was made for, gets a fresh entry
// (make_descriptor_entry, access from its open flags). The entry stays valid for the holder
// even if the handle is closed meanwhile.
std::shared_ptr<HandleEntry> find_handle(HANDLE handle);

// Like find_handle, but only for serial devices: another handle is ERROR_INVALID_FUNCTION.
std::shared_ptr<HandleEntry> find_serial(HANDLE handle);

// The entry found when it is of `kind`; otherwise nullptr, with `error` as the last error when an
// entry of another kind was found. Narrows a find_* result to the kind a function works on.
std::shared_ptr<HandleEntry> of_kind(std::shared_ptr<HandleEntry> found, HandleKind kind,
                                     DWORD error);

// Like find_handle, but only for objects: a descriptor is ERROR_INVALID_HANDLE.
std::shared_ptr<HandleEntry> find_object(HANDLE handle);

// Removes a handle from the table and returns its entry (found as find_handle finds it), or
// nullptr (last error ERROR_INVALID_HANDLE) when it is not open. Closes nothing.
std::shared_ptr<HandleEntry> remove_handle(HANDLE handle);

// The descriptor behind a handle, or -1 when the handle is no open descriptor. For conformance
// tests that check what reached the device.
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

// Signals an event handle (SetEvent); false with ERROR_INVALID_HANDLE when it is not an event.
bool signal_event(HANDLE handle);

// Copies one field of a serial device's state into *out under the entry's lock (GetCommState,
// GetCommTimeouts, GetCommMask): TRUE, or FALSE with the last error set when the handle is no
// serial device (find_serial) or out is null (ERROR_INVALID_PARAMETER).
template <typename T>
BOOL get_serial_state(HANDLE handle, T SerialState::*field, T* out) {
    std::shared_ptr<HandleEntry> entry = find_serial(handle);
    if (!entry) {
        return FALSE;
    }
    if (out == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(entry->mutex);
    *out = entry->serial.*field;
    return TRUE;
}

// Stores one field of a serial device's state under the entry's lock (SetCommTimeouts,
// SetCommMask): TRUE, or FALSE with the last error set when the handle is no serial device.
template <typename T>
BOOL set_serial_state(HANDLE handle, T SerialState::*field, const T& value) {
    std::shared_ptr<HandleEntry> entry = find_serial(handle);
    if (!entry) {
        return FALSE;
    }
    std::lock_guard lock(entry->mutex);
    entry->serial.*field = value;
    return TRUE;
}

}  // namespace platform::posix
