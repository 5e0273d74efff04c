// FormatMessageA over a table of the system texts for the codes this layer produces, and the
// LocalAlloc and GlobalAlloc memory blocks.

#include <cstdlib>
#include <cstring>

#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

struct MessageRow {
    DWORD code;
    const char* text;
};

// The English texts Windows gives for these codes, byte for byte, each ending in "\r\n". They
// are the codes the layer sets as the last error, and those callers test for.
constexpr MessageRow kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_BAD_COMMAND, "The device does not recognize the command.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request.\r\n"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.\r\n"},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
    {ERROR_RESOURCE_TYPE_NOT_FOUND,
     "The specified resource type cannot be found in the image file.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
};

const char* message_text(DWORD code) {
    for (const MessageRow& row : kMessages) {
        if (row.code == code) {
            return row.text;
        }
    }
    return nullptr;
}

// The languages the texts above stand for: neutral, the user's and the system's default, and US
// English.
bool known_language(DWORD language) {
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           language == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) ||
           language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

void* allocate(UINT flags, SIZE_T bytes, UINT zero_flag) {
    if ((flags & ~zero_flag) != 0) {
        fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A block of 0 bytes is still a block that Free accepts.
    void* block = (flags & zero_flag) != 0 ? std::calloc(bytes == 0 ? 1 : bytes, 1)
                                           : std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

}  // namespace
}  // namespace platform::posix

using namespace platform::posix;

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list*) {
    const DWORD source = flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE |
                                  FORMAT_MESSAGE_FROM_SYSTEM);
    if (source != FORMAT_MESSAGE_FROM_SYSTEM || buffer == nullptr) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!known_language(language_id)) {
        fail(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char* text = message_text(message_id);
    if (text == nullptr) {
        fail(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // Inserts need arguments, which this layer never takes.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = std::strlen(text);
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        const size_t bytes = length + 1 > size ? length + 1 : size;
        auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
        if (block == nullptr) {
            return 0;
        }
        std::memcpy(block, text, length + 1);
        char* out = block;
        std::memcpy(buffer, &out, sizeof out);
        return static_cast<DWORD>(length);
    }
    if (length + 1 > size) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    return allocate(flags, bytes, LMEM_ZEROINIT);
}

HLOCAL LocalFree(HLOCAL block) {
    std::free(block);
    return nullptr;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    return allocate(flags, bytes, GMEM_ZEROINIT);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    std::free(block);
    return nullptr;
}
