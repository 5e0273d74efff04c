// Output files written out to the storage device, on Windows.

#include "platform/files.hpp"

#include <io.h>

#include <cerrno>

#include "platform/win32.hpp"

namespace platform {
namespace {

// The errno value that says why FlushFileBuffers failed, for the same messages as a failed write.
int errno_of(DWORD code) {
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        default:
            return EIO;
    }
}

}  // namespace

int write_out_file_data(FILE* file) {
    const int fd = _fileno(file);
    if (fd < 0) {
        return 0;  // a stream with no file behind it
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        return EBADF;
    }
    // The console, NUL and pipes keep no file data to write out, and FlushFileBuffers refuses
    // some of them.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return 0;
    }
    if (!FlushFileBuffers(handle)) {
        return errno_of(GetLastError());
    }
    return 0;
}

}  // namespace platform
