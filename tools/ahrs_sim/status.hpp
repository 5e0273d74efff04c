#pragma once
// Status lines on standard error, one per notable event; standard output carries only the
// device path.

#include <cstdarg>
#include <cstdio>

namespace ahrs_sim {

inline bool& quiet_status() {
    static bool quiet = false;
    return quiet;
}

// Prints "ahrs-sim: " and the formatted text with a line feed on standard error, as one write,
// unless quiet. Longer lines are cut.
__attribute__((format(printf, 1, 2))) inline void status(const char* format, ...) {
    if (quiet_status()) {
        return;
    }
    char line[256] = "ahrs-sim: ";
    constexpr int kPrefix = 10;
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + kPrefix, sizeof line - kPrefix - 1, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
}

}  // namespace ahrs_sim
