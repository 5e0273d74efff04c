#pragma once
// save_samples: the captured lines of the sample array as tab-separated text.

#include <cstdint>
#include <cstdio>

namespace laser {

// Writes the header row and lines * 5000 rows of the sample array to file (a text stream), then
// closes it in every case; prints "Error: Can't close the file\n" on stderr when the close fails.
void save_samples(int32_t lines, FILE* file);

}  // namespace laser
