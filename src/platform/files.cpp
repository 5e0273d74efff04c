// Output files written out to the storage device: the stream's part, the same everywhere.

#include "platform/files.hpp"

#include <cerrno>

namespace platform {

int flush_to_device(FILE* file) {
    errno = 0;
    // A stream that failed before has dropped what it held: that data never reaches the device.
    if (std::ferror(file) != 0 || std::fflush(file) != 0) {
        return errno != 0 ? errno : EIO;
    }
    return write_out_file_data(file);
}

}  // namespace platform
