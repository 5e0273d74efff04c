// Status lines on standard error.

#include "status.hpp"

#include <cstdarg>
#include <cstdio>

namespace sim_common {
namespace {

const char* g_program = "sim";
bool g_quiet = false;

}  // namespace

void set_status(const char* program, bool quiet) {
    g_program = program;
    g_quiet = quiet;
}

void status(const char* format, ...) {
    if (g_quiet) {
        return;
    }
    char line[256];
    const int prefix = std::snprintf(line, sizeof line, "%s: ", g_program);
    if (prefix < 0 || static_cast<size_t>(prefix) >= sizeof line) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix), format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
}

}  // namespace sim_common
