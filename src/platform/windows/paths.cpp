// Whether two file names lead to the same file, on Windows.

#include "platform/paths.hpp"

#include <string.h>

#include <cstring>

#include "platform/win32.hpp"

namespace platform {
namespace {

enum class Found { kNothing, kFile, kDevice };

// The volume and file index of an existing file.
Found file_identity(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
    // No access asked and every sharing allowed: the query disturbs no other opener, and
    // FILE_FLAG_BACKUP_SEMANTICS lets it open folders too.
    const HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Found::kNothing;
    }
    Found found = Found::kNothing;
    if (GetFileType(file) == FILE_TYPE_CHAR) {
        found = Found::kDevice;
    } else if (GetFileInformationByHandle(file, info)) {
        found = Found::kFile;
    }
    CloseHandle(file);
    return found;
}

bool same_full_path(const char* a, const char* b) {
    char full_a[MAX_PATH];
    char full_b[MAX_PATH];
    const DWORD length_a = GetFullPathNameA(a, MAX_PATH, full_a, nullptr);
    const DWORD length_b = GetFullPathNameA(b, MAX_PATH, full_b, nullptr);
    if (length_a == 0 || length_a >= MAX_PATH || length_b == 0 || length_b >= MAX_PATH) {
        return _stricmp(a, b) == 0;
    }
    return _stricmp(full_a, full_b) == 0;
}

}  // namespace

bool same_file(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION info_a{};
    BY_HANDLE_FILE_INFORMATION info_b{};
    const Found found_a = file_identity(a, &info_a);
    const Found found_b = file_identity(b, &info_b);
    if (found_a == Found::kDevice || found_b == Found::kDevice) {
        return false;
    }
    if (_stricmp(a, b) == 0) {
        return true;
    }
    const bool a_exists = found_a == Found::kFile;
    const bool b_exists = found_b == Found::kFile;
    if (a_exists && b_exists) {
        return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
               info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
               info_a.nFileIndexLow == info_b.nFileIndexLow;
    }
    if (a_exists != b_exists) {
        return false;
    }
    return same_full_path(a, b);
}

bool same_device(const char* a, const char* b) {
    // "\\.\COM12" and "COM12" name the same port.
    const auto bare = [](const char* name) {
        return std::strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    };
    return _stricmp(bare(a), bare(b)) == 0;
}

}  // namespace platform
