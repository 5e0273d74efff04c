// File version information: files here carry none, so the queries answer as Windows answers
// for a file without a version resource.

#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/handles.hpp"

using namespace platform::posix;

namespace {

// The failure of a version query on `file`: the open's code when it is not there, else "no
// version resource". Returns FALSE.
BOOL no_version_information(LPCSTR file) {
    if (file == nullptr || *file == '\0') {
        return fail(ERROR_INVALID_PARAMETER);
    }
    struct stat info {};
    if (stat(file, &info) != 0) {
        return fail_errno(errno, ErrorContext::kOpen);
    }
    return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
}

}  // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR file, LPDWORD handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    (void)no_version_information(file);
    return 0;
}

BOOL GetFileVersionInfoA(LPCSTR file, DWORD, DWORD, LPVOID) {
    return no_version_information(file);
}

BOOL VerQueryValueA(LPCVOID, LPCSTR, LPVOID* value, PUINT length) {
    if (value != nullptr) {
        *value = nullptr;
    }
    if (length != nullptr) {
        *length = 0;
    }
    return FALSE;
}
