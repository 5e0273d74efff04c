#pragma once
// Short texts from a format, bounded: at most count - 1 characters and a terminator, a longer
// result cut. The device names ("COM%d") and line-error texts ("<CE-%u>") are made this way.

#include <cstddef>

namespace format {

// Formats into out, which holds count characters (count at least 1); always terminates.
void bounded(char* out, size_t count, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace format
