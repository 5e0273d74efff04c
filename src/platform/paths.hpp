#pragma once
// Whether two file names lead to the same file: the check that keeps the output files of a run
// apart before any of them is created.

namespace platform {

// True when a and b name the same file: the same existing file through any names (device and
// inode on POSIX, volume and file index on Windows), or, for names that do not exist yet, the
// same place once the folders are resolved (on Windows without regard to case). A character
// device (/dev/null, NUL) is not a file that one output could overwrite with another: false.
bool same_file(const char* a, const char* b);

// True when two device names (as CreateFileA takes them: "COM3", "\\.\COM12", or on POSIX a
// path) lead to the same device: on Windows the same name without regard to case or the "\\.\"
// prefix; on POSIX the same device node ("COMn" standing for /dev/ttyS(n-1)), also through a
// link.
bool same_device(const char* a, const char* b);

}  // namespace platform
