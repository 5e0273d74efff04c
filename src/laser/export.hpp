#pragma once
// save_samples: the captured lines of the sample array as tab-separated text.

#include <cstdint>
#include <cstdio>

namespace laser {

// Writes the header row and lines * 5000 rows of the sample array to file (a text stream), writes
// it out to the storage device (platform::flush_to_device), then closes it in every case. Returns
// true when every byte reached the device; when a write, the write-out or the close fails, prints
// "Error: Can't close the file\n" on stderr (the file is then short) and returns false.
[[nodiscard]] bool save_samples(int32_t lines, FILE* file);

}  // namespace laser
