#include "format/bounded.hpp"

#include <cstdarg>
#include <cstdio>

namespace format {

void bounded(char* out, size_t count, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(out, count, format, arguments);
    va_end(arguments);
    // Some C libraries leave a cut result unterminated.
    out[count - 1] = '\0';
}

}  // namespace format
