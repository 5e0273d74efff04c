#pragma once
// File names and file versions: the name and extension of a path, and a module's version number.

#include <cstddef>
#include <cstdint>

namespace capture_config {

// Splits a writable path in place: returns its last component ("\\" separates components),
// lower-cased, with the last extension cut off at its "." (replaced by a zero byte) and handed back
// through *extension (null when there is none). Characters before the last "\\" stay as they are.
char* split_file_name(char* path, char** extension);

// Writes the file version of path (or of the program itself when path is null) as
// "%d.%d.%d.%d" into output, cut to size. Returns 1, or 0 with an empty output on any failure: no
// version information, or a path of 260 characters or more. output should hold at least 24 bytes.
int32_t get_module_version(const char* path, char* output, size_t size);

}  // namespace capture_config
