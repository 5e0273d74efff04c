// CreateFileA and CloseHandle: the creation dispositions on files and devices, sharing, and the
// exclusive open of serial devices.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/device_names.hpp"
#include "platform/posix/handles.hpp"
#include "platform/posix/line_settings.hpp"

namespace platform::posix {
namespace {

int access_flags(DWORD access) {
    const bool r = (access & GENERIC_READ) != 0;
    const bool w = (access & GENERIC_WRITE) != 0;
    if (r && !w) {
        return O_RDONLY;
    }
    if (w && !r) {
        return O_WRONLY;
    }
    return O_RDWR;
}

HANDLE open_failed(int errno_value) {
    fail_errno(errno_value, ErrorContext::kOpen);
    return INVALID_HANDLE_VALUE;
}

HANDLE open_failed_code(DWORD code) {
    fail(code);
    return INVALID_HANDLE_VALUE;
}

// Gives up what the layer holds of a descriptor and closes it.
void release(HandleEntry& entry) {
    if (entry.locked) {
        if (entry.kind == HandleKind::kSerial) {
            (void)ioctl(entry.fd, TIOCNXCL);
        }
        (void)flock(entry.fd, LOCK_UN);
    }
    // The descriptor is gone after close() even when it reports EINTR, so it is not retried.
    if (entry.fd >= 0) {
        (void)close(entry.fd);
    }
    entry.fd = -1;
}

// open() with EINTR retried. Descriptor 0 (handed out when standard input is closed) would be
// the handle 0, which is never valid: it is moved above 0. Returns -1 with errno set.
int open_descriptor(const std::string& path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd == 0) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        const int error = errno;
        (void)close(fd);
        errno = error;
        fd = moved;
    }
    return fd;
}

// The entry of a descriptor just opened, for the access asked; on failure the descriptor is
// closed and the last error set.
std::shared_ptr<HandleEntry> entry_for(int fd, DWORD access) {
    auto entry =
        make_descriptor_entry(fd, (access & GENERIC_READ) != 0, (access & GENERIC_WRITE) != 0);
    if (!entry) {
        const int error = errno;
        (void)close(fd);
        fail_errno(error, ErrorContext::kOpen);
    }
    return entry;
}

// Takes the lock that makes the open exclusive (share mode 0) or shared; a lock held against it
// is `conflict`. On failure the descriptor is released and the last error set.
bool take_lock(HandleEntry& entry, int operation, DWORD conflict) {
    if (flock(entry.fd, operation | LOCK_NB) != 0) {
        const int error = errno;
        release(entry);
        fail(error == EWOULDBLOCK ? conflict : windows_error(error, ErrorContext::kOpen));
        return false;
    }
    entry.locked = true;
    return true;
}

// Registers an entry of a successful open and sets the last error an open leaves:
// ERROR_ALREADY_EXISTS when a disposition that may create (CREATE_ALWAYS, OPEN_ALWAYS) found
// the file there, else 0.
HANDLE registered(const std::shared_ptr<HandleEntry>& entry, DWORD disposition, bool existed) {
    const HANDLE handle = add_descriptor(entry);
    if (handle == INVALID_HANDLE_VALUE) {
        release(*entry);
        return handle;
    }
    const bool may_create = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(may_create && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// A device is there already: CREATE_NEW refuses it as it refuses an existing file, and every
// other disposition opens it as it is (there is nothing to truncate). A terminal is a serial
// device: opened exclusively, and set up as a Windows port (prepare_line).
HANDLE open_device(const std::string& path, DWORD access, DWORD disposition) {
    if (disposition == CREATE_NEW) {
        return open_failed_code(ERROR_FILE_EXISTS);
    }
    // Non-blocking, so the open does not wait for a carrier and transfers are driven by poll()
    // against their deadlines.
    const int fd =
        open_descriptor(path, access_flags(access) | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        return open_failed(errno);
    }
    std::shared_ptr<HandleEntry> entry = entry_for(fd, access);
    if (!entry) {
        return INVALID_HANDLE_VALUE;
    }
    if (entry->kind == HandleKind::kSerial) {
        // flock holds against every other opener, root included; TIOCEXCL also stops openers
        // that do not take the lock (except root).
        if (!take_lock(*entry, LOCK_EX, ERROR_ACCESS_DENIED)) {
            return INVALID_HANDLE_VALUE;
        }
        (void)ioctl(fd, TIOCEXCL);
        if (!prepare_line(fd)) {
            const int error = errno;
            release(*entry);
            return open_failed(error);
        }
    }
    return registered(entry, disposition, true);
}

HANDLE open_file(const std::string& path, DWORD access, DWORD share_mode, DWORD disposition,
                 bool exists) {
    // The file is truncated only once the sharing check has passed: an open that Windows
    // refuses for sharing leaves the file as it was.
    int flags = access_flags(access) | O_NOCTTY | O_CLOEXEC;
    bool truncate = false;
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT;
            truncate = true;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            truncate = true;
            break;
        default:
            break;
    }
    if (truncate && (access & GENERIC_WRITE) == 0) {
        // Windows truncates only through a handle that may write.
        return open_failed_code(disposition == TRUNCATE_EXISTING ? ERROR_INVALID_PARAMETER
                                                                 : ERROR_ACCESS_DENIED);
    }
    const int fd = open_descriptor(path, flags, 0666);
    if (fd < 0) {
        return open_failed(errno);
    }
    std::shared_ptr<HandleEntry> entry = entry_for(fd, access);
    if (!entry) {
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0 is exclusive among the openers of this layer, as on Windows; an open that
    // shares takes a shared lock, so it is refused while an exclusive opener holds the file and
    // refuses a later exclusive open. (Which kinds of access are shared is not told apart.)
    if (!take_lock(*entry, share_mode == 0 ? LOCK_EX : LOCK_SH, ERROR_SHARING_VIOLATION)) {
        return INVALID_HANDLE_VALUE;
    }
    if (truncate) {
        while (ftruncate(fd, 0) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                release(*entry);
                return open_failed(error);
            }
        }
    }
    return registered(entry, disposition, exists);
}

}  // namespace
}  // namespace platform::posix

using namespace platform::posix;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES,
                   DWORD creation_disposition, DWORD, HANDLE) {
    if (name == nullptr || *name == '\0') {
        return open_failed_code(ERROR_PATH_NOT_FOUND);
    }
    if (creation_disposition < CREATE_NEW || creation_disposition > TRUNCATE_EXISTING) {
        return open_failed_code(ERROR_INVALID_PARAMETER);
    }
    const std::string path = device_path(name);
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        return open_failed_code(ERROR_ACCESS_DENIED);
    }
    if (exists && S_ISCHR(info.st_mode)) {
        return open_device(path, access, creation_disposition);
    }
    return open_file(path, access, share_mode, creation_disposition, exists);
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<HandleEntry> entry = remove_handle(handle);
    if (!entry) {
        return FALSE;
    }
    std::lock_guard lock(entry->mutex);
    release(*entry);
    return TRUE;
}
