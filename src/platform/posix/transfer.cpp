// ReadFile, WriteFile and GetOverlappedResult: the serial or file transfer a handle calls for,
// and overlapped requests, which complete before the call returns.

#include <fcntl.h>

#include <cstdint>

#include "platform/posix/file_io.hpp"
#include "platform/posix/handles.hpp"
#include "platform/posix/serial_io.hpp"

using namespace platform::posix;

namespace {

// Makes a descriptor that may block (a library's own, opened blocking) non-blocking while one
// serial transfer runs, so the transfer waits in poll() against its deadlines and never in
// read() or write(), and gives it its flags back afterwards. The layer's own descriptors are
// non-blocking and cost nothing here.
class NonBlocking {
public:
    NonBlocking(int fd, bool may_block) : fd_(fd) {
        if (!may_block) {
            return;
        }
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) == 0 &&
            fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) {
            restore_ = flags;
        }
    }
    ~NonBlocking() {
        if (restore_ >= 0) {
            (void)fcntl(fd_, F_SETFL, restore_);
        }
    }
    NonBlocking(const NonBlocking&) = delete;
    NonBlocking& operator=(const NonBlocking&) = delete;

private:
    int fd_;
    int restore_ = -1;
};

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
            timeouts = entry->serial.timeouts;
        }
        const NonBlocking non_blocking(entry->fd, entry->may_block);
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
