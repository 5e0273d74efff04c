#pragma once
// The file name the platform loader looks for when LoadLibraryExA is given a bare library name.

#include <cstddef>

namespace platform {

// Writes the file name that LoadLibraryExA(name) loads, "<name>.dll" on Windows and
// "lib<name>.so" elsewhere, into buffer (size characters: always terminated, cut when longer),
// and returns buffer. `name` has no path and no extension.
const char* library_file_name(const char* name, char* buffer, size_t size);

}  // namespace platform
