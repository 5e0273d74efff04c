// CreateFileA, CloseHandle, ReadFile and WriteFile over POSIX descriptors, with the Windows
// COMMTIMEOUTS read semantics on serial devices. Overlapped requests complete before the call
// returns.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/posix/comm_state.hpp"
#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// "COMn" (any case, optionally behind "\\.\") names /dev/ttyS(n-1); a name with '/' is a path.
std::string device_path(const char* name) {
    std::string text = name;
    std::string rest = text;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest = rest.substr(4);
    }
    if (rest.size() > 3 && std::tolower(static_cast<unsigned char>(rest[0])) == 'c' &&
        std::tolower(static_cast<unsigned char>(rest[1])) == 'o' &&
        std::tolower(static_cast<unsigned char>(rest[2])) == 'm') {
        unsigned long number = 0;
        bool digits = rest.size() <= 3 + 6;
        for (size_t i = 3; i < rest.size() && digits; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(rest[i]))) {
                digits = false;
            } else {
                number = number * 10 + static_cast<unsigned long>(rest[i] - '0');
            }
        }
        if (digits && number >= 1) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return text;
}

// Milliseconds to hand to poll() until the deadline: rounded up so a wait never ends early,
// -1 for no deadline.
int poll_timeout(const Deadline& deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

Deadline earlier(const Deadline& a, const Deadline& b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return *a < *b ? a : b;
}

enum class Wait { kReady, kTimedOut, kFailed };

// Waits until the descriptor is ready for `events` or the deadline passes. A signal that
// interrupts the wait resumes it with the time left: it is neither a time-out nor an error.
// On kFailed, *error holds the Windows code.
Wait wait_for(int fd, short events, const Deadline& deadline, DWORD* error) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, poll_timeout(deadline));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = windows_error(errno, ErrorContext::kTransfer);
            return Wait::kFailed;
        }
        if (n == 0) {
            if (deadline && Clock::now() < *deadline) {
                continue;  // poll's millisecond rounding woke us a little early
            }
            return Wait::kTimedOut;
        }
        if ((p.revents & POLLNVAL) != 0) {
            *error = ERROR_INVALID_HANDLE;
            return Wait::kFailed;
        }
        // Readable data is delivered before a hang-up is reported.
        if ((p.revents & events) != 0) {
            return Wait::kReady;
        }
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return Wait::kFailed;
    }
}

// Reads what is waiting, without waiting: returns the byte count (0 when nothing is waiting)
// or -1 with *error set. The read comes first, so a port with bytes waiting costs one system
// call; a raw terminal reads 0 bytes both when nothing is waiting and when it has hung up, and
// only then does poll() tell the two apart. A terminal that polls readable but still reads 0
// bytes has hung up.
long take_waiting(int fd, uint8_t* buffer, DWORD count, DWORD* error) {
    if (count == 0) {
        return 0;
    }
    bool reported_readable = false;
    for (;;) {
        const ssize_t n = read(fd, buffer, count);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = windows_error(errno, ErrorContext::kTransfer);
            return -1;
        }
        if (reported_readable) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            return -1;
        }
        switch (wait_for(fd, POLLIN, Clock::now(), error)) {
            case Wait::kTimedOut:
                return 0;
            case Wait::kFailed:
                return -1;
            case Wait::kReady:
                reported_readable = true;  // a byte raced in, or the device hung up
                break;
        }
    }
}

Deadline after_ms(Clock::time_point from, uint64_t ms) {
    return from + std::chrono::milliseconds(static_cast<int64_t>(ms));
}

// One serial read under the handle's time-outs, as Windows defines them:
//  {MAXDWORD, 0, 0}          return at once with what is waiting, maybe nothing;
//  {MAXDWORD, MAXDWORD, C}   return at once with what is waiting, else wait up to C ms for the
//                            first byte and return what has arrived;
//  {0, 0, 0}                 wait until `count` bytes have arrived;
//  otherwise                 a total time-out of multiplier * count + constant ms and an
//                            interval time-out between bytes once the first has arrived.
// A time-out is success with the bytes gathered so far. Returns false with *error set when the
// device failed before any byte was gathered.
bool serial_read(int fd, uint8_t* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* got,
                 DWORD* error) {
    *got = 0;
    if (count == 0) {
        return true;
    }
    const DWORD interval = t.ReadIntervalTimeout;
    const DWORD multiplier = t.ReadTotalTimeoutMultiplier;
    const DWORD constant = t.ReadTotalTimeoutConstant;

    const long first = take_waiting(fd, buffer, count, error);
    if (first < 0) {
        return false;
    }
    *got = static_cast<DWORD>(first);
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        return true;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD) {
        if (*got > 0) {
            return true;
        }
        switch (wait_for(fd, POLLIN, after_ms(Clock::now(), constant), error)) {
            case Wait::kTimedOut:
                return true;
            case Wait::kFailed:
                return false;
            case Wait::kReady:
                break;
        }
        const long n = take_waiting(fd, buffer, count, error);
        if (n < 0) {
            return false;
        }
        *got = static_cast<DWORD>(n);
        return true;
    }

    const auto start = Clock::now();
    Deadline total;
    if (multiplier != 0 || constant != 0) {
        total = after_ms(start, static_cast<uint64_t>(multiplier) * count + constant);
    }
    // An interval of MAXDWORD outside the two combinations above is about 49 days: no limit.
    const bool has_interval = interval != 0 && interval != MAXDWORD;
    auto last_byte = start;
    while (*got < count) {
        Deadline deadline = total;
        if (has_interval && *got > 0) {
            deadline = earlier(deadline, after_ms(last_byte, interval));
        }
        switch (wait_for(fd, POLLIN, deadline, error)) {
            case Wait::kTimedOut:
                return true;
            case Wait::kFailed:
                return *got > 0;  // deliver what arrived; the next read reports the failure
            case Wait::kReady:
                break;
        }
        const long n = take_waiting(fd, buffer + *got, count - *got, error);
        if (n < 0) {
            return *got > 0;
        }
        if (n > 0) {
            *got += static_cast<DWORD>(n);
            last_byte = Clock::now();
        }
    }
    return true;
}

// Writes everything, waiting for room as long as the write time-outs allow (no limit when both
// are zero). A time-out is success with the bytes written so far.
bool serial_write(int fd, const uint8_t* data, DWORD count, const COMMTIMEOUTS& t, DWORD* done,
                  DWORD* error) {
    *done = 0;
    Deadline deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        deadline =
            after_ms(Clock::now(), static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
                                       t.WriteTotalTimeoutConstant);
    }
    while (*done < count) {
        const ssize_t n = write(fd, data + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            switch (wait_for(fd, POLLOUT, deadline, error)) {
                case Wait::kTimedOut:
                    return true;
                case Wait::kFailed:
                    return false;
                case Wait::kReady:
                    continue;
            }
        }
        *error =
            n == 0 ? ERROR_DEVICE_NOT_CONNECTED : windows_error(errno, ErrorContext::kTransfer);
        return false;
    }
    return true;
}

bool file_read(int fd, uint8_t* buffer, DWORD count, DWORD* got, DWORD* error) {
    *got = 0;
    while (*got < count) {
        const ssize_t n = read(fd, buffer + *got, count - *got);
        if (n > 0) {
            *got += static_cast<DWORD>(n);
            continue;
        }
        if (n == 0) {
            return true;  // end of file: success with what was read
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN && *got > 0) {
            return true;
        }
        *error = windows_error(errno, ErrorContext::kTransfer);
        return false;
    }
    return true;
}

bool file_write(int fd, const uint8_t* data, DWORD count, DWORD* done, DWORD* error) {
    *done = 0;
    while (*done < count) {
        const ssize_t n = write(fd, data + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            *error = n == 0 ? ERROR_GEN_FAILURE : windows_error(errno, ErrorContext::kTransfer);
            return false;
        }
    }
    return true;
}

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

// Opens a terminal device as a serial port: exclusive, set up as a Windows port is
// (prepare_line), time-outs all zero.
HANDLE open_serial(int fd, DWORD access) {
    // flock holds against every other opener, root included; TIOCEXCL also stops openers that
    // do not take the lock (except root).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return open_failed_code(error == EWOULDBLOCK ? ERROR_ACCESS_DENIED
                                                     : windows_error(error, ErrorContext::kOpen));
    }
    (void)ioctl(fd, TIOCEXCL);
    auto entry = std::make_shared<HandleEntry>();
    if (!prepare_line(fd) || !read_dcb(fd, &entry->dcb)) {
        const int error = errno;
        (void)ioctl(fd, TIOCNXCL);
        close(fd);
        return open_failed(error);
    }
    entry->fd = fd;
    entry->kind = HandleKind::kSerial;
    // Errors counted before the open are not this handle's to report.
    entry->error_counts_kept = read_line_error_counts(fd, &entry->error_counts);
    entry->can_read = (access & GENERIC_READ) != 0;
    entry->can_write = (access & GENERIC_WRITE) != 0;
    entry->locked = true;
    const HANDLE handle = add_handle(entry);
    if (handle == INVALID_HANDLE_VALUE) {
        (void)ioctl(fd, TIOCNXCL);
        close(fd);
    }
    return handle;
}

void release(HandleEntry& entry) {
    if (entry.kind == HandleKind::kSerial) {
        (void)ioctl(entry.fd, TIOCNXCL);
    }
    if (entry.locked) {
        (void)flock(entry.fd, LOCK_UN);
    }
    // The descriptor is gone after close() even when it reports EINTR, so it is not retried.
    if (entry.fd >= 0) {
        (void)close(entry.fd);
    }
    entry.fd = -1;
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
    const int base = access_flags(access) | O_NOCTTY | O_CLOEXEC;

    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        return open_failed_code(ERROR_ACCESS_DENIED);
    }
    if (exists && S_ISCHR(info.st_mode)) {
        // Non-blocking, so the open does not wait for a carrier and transfers are driven by
        // poll() against their deadlines.
        const int fd = open(path.c_str(), base | O_NONBLOCK);
        if (fd < 0) {
            return open_failed(errno);
        }
        if (isatty(fd)) {
            return open_serial(fd, access);
        }
        auto entry = std::make_shared<HandleEntry>();
        entry->fd = fd;
        entry->can_read = (access & GENERIC_READ) != 0;
        entry->can_write = (access & GENERIC_WRITE) != 0;
        const HANDLE handle = add_handle(entry);
        if (handle == INVALID_HANDLE_VALUE) {
            close(fd);
        }
        return handle;
    }

    // The file is truncated only once the sharing check has passed: an open that Windows
    // refuses for sharing leaves the file as it was.
    int flags = base;
    bool truncate = false;
    switch (creation_disposition) {
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
        return open_failed_code(creation_disposition == TRUNCATE_EXISTING ? ERROR_INVALID_PARAMETER
                                                                          : ERROR_ACCESS_DENIED);
    }
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        return open_failed(errno);
    }
    auto entry = std::make_shared<HandleEntry>();
    entry->fd = fd;
    entry->can_read = (access & GENERIC_READ) != 0;
    entry->can_write = (access & GENERIC_WRITE) != 0;
    // Share mode 0 is exclusive among the openers of this layer, as on Windows; an open that
    // shares takes a shared lock, so it is refused while an exclusive opener holds the file and
    // refuses a later exclusive open. (Which kinds of access are shared is not told apart.)
    if (flock(fd, (share_mode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return open_failed_code(error == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
                                                     : windows_error(error, ErrorContext::kOpen));
    }
    entry->locked = true;
    if (truncate) {
        while (ftruncate(fd, 0) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                close(fd);
                return open_failed(error);
            }
        }
    }
    const HANDLE handle = add_handle(entry);
    if (handle == INVALID_HANDLE_VALUE) {
        close(fd);
        return handle;
    }
    // Windows tells an open that found the file already there, for the dispositions that may
    // create one.
    const bool may_create =
        creation_disposition == CREATE_ALWAYS || creation_disposition == OPEN_ALWAYS;
    SetLastError(may_create && exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
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

namespace {

// What ReadFile and WriteFile share: the argument checks, the serial or file transfer, the count
// handed back, and the completion of an overlapped request, which ends before the call returns.
template <typename Byte, typename SerialTransfer, typename FileTransfer>
BOOL transfer(HANDLE handle, Byte* bytes, DWORD count, LPDWORD count_done, LPOVERLAPPED overlapped,
              bool HandleEntry::*permitted, SerialTransfer serial, FileTransfer file) {
    if (count_done != nullptr) {
        *count_done = 0;
    }
    auto entry = find_handle(handle);
    if (!entry) {
        return FALSE;
    }
    if (entry->kind == HandleKind::kEvent) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if ((count_done == nullptr && overlapped == nullptr) || (bytes == nullptr && count > 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!((*entry).*permitted)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    DWORD done = 0;
    DWORD error = ERROR_SUCCESS;
    bool ok = false;
    if (entry->kind == HandleKind::kSerial) {
        COMMTIMEOUTS timeouts{};
        {
            std::lock_guard lock(entry->mutex);
            timeouts = entry->timeouts;
        }
        ok = serial(entry->fd, bytes, count, timeouts, &done, &error);
    } else {
        ok = file(entry->fd, bytes, count, &done, &error);
    }
    if (count_done != nullptr) {
        *count_done = done;
    }
    if (overlapped != nullptr) {
        overlapped->Internal = ok ? 0 : error;
        overlapped->InternalHigh = done;
        // The request has completed: its event is signalled, as Windows signals it at completion.
        if (overlapped->hEvent != 0) {
            (void)signal_event(overlapped->hEvent);
        }
    }
    return ok ? TRUE : fail(error);
}

}  // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD to_read, LPDWORD read_count,
              LPOVERLAPPED overlapped) {
    return transfer(handle, static_cast<uint8_t*>(buffer), to_read, read_count, overlapped,
                    &HandleEntry::can_read, serial_read, file_read);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD to_write, LPDWORD written,
               LPOVERLAPPED overlapped) {
    return transfer(handle, static_cast<const uint8_t*>(buffer), to_write, written, overlapped,
                    &HandleEntry::can_write, serial_write, file_write);
}

BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count, BOOL) {
    if (overlapped == nullptr || count == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!find_handle(handle)) {
        return FALSE;
    }
    // The request completed inside ReadFile or WriteFile, which left its outcome in the block.
    *count = overlapped->InternalHigh;
    if (overlapped->Internal != ERROR_SUCCESS) {
        return fail(overlapped->Internal);
    }
    return TRUE;
}
