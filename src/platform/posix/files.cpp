// Output files written out to the storage device, on POSIX systems.

#include "platform/files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int write_out_file_data(FILE* file) {
    const int fd = fileno(file);
    if (fd < 0) {
        return 0;  // a stream in memory: no file behind it
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return errno;
    }
    // Devices, pipes and sockets keep no file data to write out; fdatasync refuses some of them.
    if (!S_ISREG(info.st_mode)) {
        return 0;
    }
    while (fdatasync(fd) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

}  // namespace platform
