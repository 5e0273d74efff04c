// Synchronous transfers on regular files and other descriptors that are no serial device.

#include "platform/posix/file_io.hpp"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/handles.hpp"

namespace platform::posix {

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

}  // namespace platform::posix
