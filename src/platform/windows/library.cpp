// The loader's file name on Windows: the default extension ".dll" is added.

#include "platform/library.hpp"

#include <cstdio>

namespace platform {

const char* library_file_name(const char* name, char* buffer, size_t size) {
    if (size > 0) {
        std::snprintf(buffer, size, "%s.dll", name);
    }
    return buffer;
}

}  // namespace platform
