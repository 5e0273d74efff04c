// The handle table, the per-thread last error, errno translation and Sleep.

#include "platform/posix/handles.hpp"

#include <cerrno>
#include <ctime>
#include <unordered_map>

namespace platform::posix {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<HandleEntry>> entries;
    // Handles are multiples of 4 from 0x100 on, as Windows hands them out; a freed value is not
    // reused until the counter wraps, so a stale handle is refused rather than aliased.
    HANDLE next = 0x100;
};

HandleTable& table() {
    // Never destroyed: handles may still be closed from atexit handlers.
    static auto* instance = new HandleTable;
    return *instance;
}

thread_local DWORD last_error = ERROR_SUCCESS;

struct ErrnoRow {
    int errno_value;
    DWORD at_open;      // the code when opening the device or file
    DWORD at_transfer;  // the code on a device that was open
};

// A device node whose hardware is absent (ENXIO, ENODEV, EIO at open) is "not found" on
// Windows, where such a port would not exist; the same errors during a transfer mean the device
// went away.
constexpr ErrnoRow kErrnoTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
    {ENAMETOOLONG, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EWOULDBLOCK, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EEXIST, ERROR_FILE_EXISTS, ERROR_FILE_EXISTS},
    {EBADF, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {EINVAL, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
    {ENOTTY, ERROR_INVALID_FUNCTION, ERROR_INVALID_FUNCTION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},
    {EIO, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
    {ENXIO, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
    {ENODEV, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
    {EPIPE, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_NOT_CONNECTED},
    {ECANCELED, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
};

}  // namespace

HANDLE add_handle(std::shared_ptr<HandleEntry> entry) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    for (int tries = 0; tries < (1 << 30); ++tries) {
        HANDLE candidate = t.next;
        t.next += 4;
        if (t.next < 0x100) {
            t.next = 0x100;  // wrapped
        }
        if (candidate == 0 || candidate == INVALID_HANDLE_VALUE ||
            t.entries.count(candidate) != 0) {
            continue;
        }
        t.entries.emplace(candidate, std::move(entry));
        return candidate;
    }
    fail(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

std::shared_ptr<HandleEntry> find_handle(HANDLE handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(handle);
    if (it == t.entries.end()) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<HandleEntry> remove_handle(HANDLE handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(handle);
    if (it == t.entries.end()) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<HandleEntry> entry = std::move(it->second);
    t.entries.erase(it);
    return entry;
}

int descriptor_of(HANDLE handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(handle);
    return it == t.entries.end() ? -1 : it->second->fd;
}

DWORD windows_error(int errno_value, ErrorContext context) {
    for (const ErrnoRow& row : kErrnoTable) {
        if (row.errno_value == errno_value) {
            return context == ErrorContext::kOpen ? row.at_open : row.at_transfer;
        }
    }
    return ERROR_GEN_FAILURE;
}

BOOL fail_errno(int errno_value, ErrorContext context) {
    return fail(windows_error(errno_value, context));
}

BOOL fail(DWORD code) {
    last_error = code;
    return FALSE;
}

}  // namespace platform::posix

DWORD GetLastError() {
    return platform::posix::last_error;
}

void SetLastError(DWORD code) {
    platform::posix::last_error = code;
}

void Sleep(DWORD milliseconds) {
    // An absolute monotonic deadline, so a signal that interrupts the sleep neither shortens
    // nor lengthens it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
