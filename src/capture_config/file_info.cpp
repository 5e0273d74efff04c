// File names and file versions.

#include "capture_config/file_info.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/win32.hpp"

namespace capture_config {
namespace {

// The longest file name Windows' ANSI calls take, with its terminator.
constexpr size_t kPathSize = 260;

// Lower case of the C locale: only A to Z change, whatever the process's locale.
char to_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

char* split_file_name(char* path, char** extension) {
    *extension = nullptr;
    const size_t length = std::strlen(path);
    if (length == 0) {
        return path;
    }
    // The first character is not looked at for "." or "\\": a name such as ".profile" keeps its
    // dot, and a path that is just "\\" is its own name.
    for (size_t i = length - 1; i >= 1; --i) {
        path[i] = to_lower(path[i]);
        if (*extension == nullptr && path[i] == '.') {
            *extension = path + i + 1;
            path[i] = '\0';
        }
        if (path[i] == '\\') {
            return path + i + 1;
        }
    }
    path[0] = to_lower(path[0]);
    return path;
}

int32_t get_module_version(const char* path, char* output, size_t size) {
    if (size > 0) {
        output[0] = '\0';
    }

    // A name that does not fit is refused rather than cut: a shortened name could name another
    // file, whose version would then be reported.
    char name[kPathSize];
    if (path != nullptr) {
        const size_t length = strnlen(path, kPathSize);
        if (length >= kPathSize) {
            return 0;
        }
        std::memcpy(name, path, length + 1);
    } else {
        const DWORD length = GetModuleFileNameA(nullptr, name, kPathSize);
        if (length == 0 || length >= kPathSize) {
            return 0;
        }
    }

    DWORD unused = 0;
    const DWORD info_size = GetFileVersionInfoSizeA(name, &unused);
    if (info_size == 0) {
        return 0;
    }
    // GMEM_FIXED: the handle is the block's address.
    const HGLOBAL block = GlobalAlloc(GMEM_FIXED, info_size);
    if (block == nullptr) {
        return 0;
    }
    int32_t result = 0;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (GetFileVersionInfoA(name, 0, info_size, block) &&
        VerQueryValueA(block, "\\", reinterpret_cast<LPVOID*>(&fixed), &fixed_size) &&
        fixed != nullptr && fixed_size >= sizeof(VS_FIXEDFILEINFO)) {
        if (size > 0) {
            std::snprintf(output, size, "%d.%d.%d.%d",
                          static_cast<int>(fixed->dwFileVersionMS >> 16),
                          static_cast<int>(fixed->dwFileVersionMS & 0xFFFFu),
                          static_cast<int>(fixed->dwFileVersionLS >> 16),
                          static_cast<int>(fixed->dwFileVersionLS & 0xFFFFu));
        }
        result = 1;
    }
    GlobalFree(block);
    return result;
}

}  // namespace capture_config
