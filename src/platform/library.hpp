#pragma once
// The file name the platform loader looks for when LoadLibraryExA is given a bare library name.

#include <cstddef>
#include <cstdio>

namespace platform {

#ifdef _WIN32
constexpr char kLibraryFileName[] = "%s.dll";  // the loader's default extension
#else
constexpr char kLibraryFileName[] = "lib%s.so";  // the shared-object naming convention
#endif

// Writes the file name that LoadLibraryExA(name) loads, "<name>.dll" on Windows and
// "lib<name>.so" elsewhere, into buffer (size characters: always terminated, cut when longer),
// and returns buffer. `name` has no path and no extension.
inline const char* library_file_name(const char* name, char* buffer, size_t size) {
    if (size > 0) {
        std::snprintf(buffer, size, kLibraryFileName, name);
    }
    return buffer;
}

}  // namespace platform
