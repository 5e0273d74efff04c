#pragma once
// Output files that must survive a power cut: a stream's data written out to the storage device,
// not only handed to the system's cache.

#include <cstdio>

namespace platform {

// Flushes the stream's buffer to the system, then waits until the system has written the file's
// data to the storage device (fdatasync on POSIX, FlushFileBuffers on Windows). A stream on
// anything but a disk file (a device such as /dev/null or NUL, a pipe, memory) has nothing more to
// write out once flushed. A stream that failed before (ferror) has lost data and fails again.
// Returns 0 when the data is on the device, otherwise an errno value saying why not (ENOSPC for a
// full disk, EIO when the system gives no closer reason).
[[nodiscard]] int flush_to_device(FILE* file);

// flush_to_device's second half, one per platform: waits until the system has written the data of
// the flushed stream's file to the storage device. Returns 0 or an errno value.
[[nodiscard]] int write_out_file_data(FILE* file);

}  // namespace platform
