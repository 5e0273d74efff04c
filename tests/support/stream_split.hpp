#pragma once
// A byte stream fed to a parser in every split a line can deliver it in: whole, byte by byte, in
// pieces of a few fixed sizes and in random pieces. A parser must cut the same whatever the split.
// Header-only: the unit tests of the Windows build use it too.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// Pieces of `size` bytes (0: random sizes from 1 to 40 drawn with `seed`).
struct StreamSplit {
    size_t size = 0;
    unsigned seed = 1;

    // "pieces of 7 bytes" or "random pieces, seed 3", for SCOPED_TRACE.
    std::string describe() const {
        return size != 0 ? "pieces of " + std::to_string(size) + " bytes"
                         : "random pieces, seed " + std::to_string(seed);
    }
};

// Whole (one piece of up to 1 MiB), byte by byte, pieces of 2 and 7 bytes, random pieces of four
// seeds.
inline std::vector<StreamSplit> every_split() {
    return {{.size = 1 << 20}, {.size = 1}, {.size = 2}, {.size = 7},
            {.seed = 1},       {.seed = 2}, {.seed = 3}, {.seed = 4}};
}

// Feeds size bytes at data to consume in the pieces of split. consume(piece, count) takes what it
// can of the count bytes and returns how many it took, at least one; the rest of the stream comes
// in the next pieces.
inline void feed(const uint8_t* data, size_t size, const StreamSplit& split,
                 const std::function<size_t(const uint8_t*, size_t)>& consume) {
    std::mt19937 random(split.seed);
    for (size_t at = 0; at < size;) {
        const size_t piece = split.size != 0 ? split.size : 1 + random() % 40;
        at += consume(data + at, std::min(piece, size - at));
    }
}

}  // namespace testsupport
