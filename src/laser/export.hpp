#pragma once
// save_samples: the captured lines of the sample array as tab-separated text.

#include <cstdint>
#include <cstdio>

namespace laser {

// Writes the header row and lines * 5000 rows of the sample array to file (a text stream; lines
// kept within the array, lines_in_array). Returns true when every row reached the stream, false
// from the first write that failed (a full disk takes nothing more). The caller flushes and
// closes the file.
[[nodiscard]] bool save_samples(int32_t lines, FILE* file);

}  // namespace laser
