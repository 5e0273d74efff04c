// Process tuning for a capture, each operation one platform call on the current process with the
// system's own text for a failure.

#include "capture_config/tuning.hpp"

#include <cstdint>
#include <cstdio>

#include "platform/win32.hpp"

namespace capture_config {
namespace {

// Room for the system's text of an error code.
constexpr DWORD kMessageSize = 512;

// Prints the failure of the last platform call: its error code in decimal and in hexadecimal,
// what was being done (a format with the code, the code again and the text) and the system's
// text for the code (empty when it has none). Returns 0, the failed operation's result.
int32_t report_failure(const char* format) {
    const DWORD code = GetLastError();
    char text[kMessageSize];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, kMessageSize, nullptr);
    if (length == 0) {
        text[0] = '\0';
    }
    std::printf(format, static_cast<int>(code), static_cast<unsigned>(code), text);
    return 0;
}

}  // namespace

int32_t set_priority_above_normal() {
    if (SetPriorityClass(GetCurrentProcess(), ABOVE_NORMAL_PRIORITY_CLASS)) {
        return 1;
    }
    return report_failure(
        "Error %d (0x%08x)\nFailed to set process priority to above normal:\n  %s\n");
}

int32_t set_affinity_first_cpu() {
    // The first processor only.
    if (SetProcessAffinityMask(GetCurrentProcess(), 0x01)) {
        return 1;
    }
    return report_failure(
        "Error %d (0x%08x)\nFailed to set process affinity mask to 0x01:\n  %s\n");
}

int32_t set_priority_normal() {
    if (SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS)) {
        return 1;
    }
    return report_failure("Error %d (0x%08x)\nFailed to set process priority to normal:\n  %s\n");
}

}  // namespace capture_config
