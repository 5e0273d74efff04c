// The handle table (descriptors by their number, events by their value), the per-thread last
// error and errno translation.

#include "platform/posix/handles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

#include "platform/posix/line_settings.hpp"

namespace platform::posix {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<int, std::shared_ptr<HandleEntry>> descriptors;
    std::unordered_map<HANDLE, std::shared_ptr<HandleEntry>> objects;
    // Object handles are multiples of 4 from kFirstObjectHandle on, as Windows hands out
    // multiples of 4; a freed value is not reused until the counter wraps, so a stale event
    // handle is refused rather than aliased. INVALID_HANDLE_VALUE is no multiple of 4.
    HANDLE next_object = kFirstObjectHandle;
};

constexpr HANDLE kObjectHandleCount = (0xFFFFFFFFu - kFirstObjectHandle) / 4 + 1;

HandleTable& table() {
    // Never destroyed: handles may still be closed from atexit handlers.
    static auto* instance = new HandleTable;
    return *instance;
}

bool is_descriptor(HANDLE handle) {
    return handle != 0 && handle < kFirstObjectHandle;
}

bool same_file(const HandleEntry& entry, const struct stat& info) {
    return entry.device == info.st_dev && entry.inode == info.st_ino;
}

// The entry of an open descriptor: the one in the table while it still names the same file,
// else a fresh one that replaces it. One fstat() on the way, which is what a stale entry costs
// to detect.
std::shared_ptr<HandleEntry> find_descriptor(int fd) {
    HandleTable& t = table();
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        // Not open: an entry left by a descriptor closed behind the layer's back goes too.
        std::lock_guard lock(t.mutex);
        t.descriptors.erase(fd);
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    {
        std::lock_guard lock(t.mutex);
        auto it = t.descriptors.find(fd);
        if (it != t.descriptors.end() && same_file(*it->second, info)) {
            return it->second;
        }
    }
    const int flags = fcntl(fd, F_GETFL);
    const int mode = flags & O_ACCMODE;
    std::shared_ptr<HandleEntry> entry =
        flags < 0 ? nullptr : make_descriptor_entry(fd, mode != O_WRONLY, mode != O_RDONLY);
    if (!entry) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::lock_guard lock(t.mutex);
    t.descriptors[fd] = entry;
    return entry;
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

std::shared_ptr<HandleEntry> make_descriptor_entry(int fd, bool can_read, bool can_write) {
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fstat(fd, &info) != 0) {
        return nullptr;
    }
    auto entry = std::make_shared<HandleEntry>();
    entry->fd = fd;
    entry->can_read = can_read;
    entry->can_write = can_write;
    entry->may_block = (flags & O_NONBLOCK) == 0;
    entry->device = info.st_dev;
    entry->inode = info.st_ino;
    if (isatty(fd)) {
        if (!read_dcb(fd, &entry->serial.dcb)) {
            return nullptr;
        }
        entry->kind = HandleKind::kSerial;
        // Errors counted before the handle was made are not its to report.
        entry->serial.error_counts_kept = read_line_error_counts(fd, &entry->serial.error_counts);
    }
    return entry;
}

HANDLE add_descriptor(std::shared_ptr<HandleEntry> entry) {
    const int fd = entry->fd;
    if (fd <= 0 || static_cast<HANDLE>(fd) >= kFirstObjectHandle) {
        fail(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    // An entry still there is stale: its descriptor was closed behind the layer's back.
    t.descriptors[fd] = std::move(entry);
    return static_cast<HANDLE>(fd);
}

HANDLE add_object(std::shared_ptr<HandleEntry> entry) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    for (HANDLE tries = 0; tries < kObjectHandleCount; ++tries) {
        const HANDLE candidate = t.next_object;
        t.next_object += 4;
        if (t.next_object < kFirstObjectHandle) {
            t.next_object = kFirstObjectHandle;  // wrapped
        }
        if (t.objects.count(candidate) == 0) {
            t.objects.emplace(candidate, std::move(entry));
            return candidate;
        }
    }
    fail(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

std::shared_ptr<HandleEntry> find_handle(HANDLE handle) {
    return is_descriptor(handle) ? find_descriptor(static_cast<int>(handle)) : find_object(handle);
}

std::shared_ptr<HandleEntry> find_serial(HANDLE handle) {
    return of_kind(find_handle(handle), HandleKind::kSerial, ERROR_INVALID_FUNCTION);
}

std::shared_ptr<HandleEntry> of_kind(std::shared_ptr<HandleEntry> found, HandleKind kind,
                                     DWORD error) {
    if (found && found->kind != kind) {
        fail(error);
        return nullptr;
    }
    return found;
}

std::shared_ptr<HandleEntry> find_object(HANDLE handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(handle);
    if (it == t.objects.end()) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<HandleEntry> remove_handle(HANDLE handle) {
    std::shared_ptr<HandleEntry> entry = find_handle(handle);
    if (!entry) {
        return nullptr;
    }
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    if (is_descriptor(handle)) {
        auto it = t.descriptors.find(static_cast<int>(handle));
        if (it != t.descriptors.end() && it->second == entry) {
            t.descriptors.erase(it);
        }
    } else {
        t.objects.erase(handle);
    }
    return entry;
}

int descriptor_of(HANDLE handle) {
    const int fd = static_cast<int>(handle);
    return is_descriptor(handle) && fcntl(fd, F_GETFD) != -1 ? fd : -1;
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
