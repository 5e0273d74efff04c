// The live console line of the gyro phase.

#include "ahrs/display.hpp"

#include <cstdio>
#include <cstring>

#include "ahrs/packet.hpp"
#include "ahrs/reading.hpp"
#include "format/fixed.hpp"

namespace ahrs {

namespace {

// A display line under construction, handed to the console in one write: the line is rewritten
// up to 300 times a second at the unit's fastest rate. The values are formatted as "%7.2f " (and
// TEMP "%8.2f ") give them, by the record files' formatter.
struct DisplayLine {
    // Every value the conversions give fits its width (at most 180.01 in magnitude for an angle,
    // 80.00 for a voltage count, 3494.04 for TEMP), so the columns never shift and 13 values
    // take at most 13 * 9 characters.
    char text[160];
    size_t length = 0;

    void add(double value, size_t width) {
        char digits[format::kMaxFixedLength];
        const size_t n = format::format_fixed(value, 2, digits);
        const size_t pad = n < width ? width - n : 0;
        if (length + pad + n + 1 > sizeof text) {
            return;  // cannot happen for the values above; the line stays within its buffer
        }
        std::memset(text + length, ' ', pad);
        std::memcpy(text + length + pad, digits, n);
        length += pad + n;
        text[length++] = ' ';
    }
};

}  // namespace

void print_packet(char mode, const uint8_t* packet) {
    AhrsReading r;
    if (!decode_packet(mode, packet, &r)) {
        return;
    }
    double values[kMaxReadingValues];
    const size_t n = reading_values(mode, r, values);
    DisplayLine line;
    for (size_t i = 0; i + 1 < n; ++i) {
        line.add(values[i], 7);
    }
    // TEMP, last, reaches 3494.04 at the top of its count range, hence eight characters.
    line.add(values[n - 1], 8);
    line.text[line.length++] = '\r';
    std::fwrite(line.text, 1, line.length, stdout);
    // The line is meant to be seen live, also when stdout is a pipe that the C library buffers.
    std::fflush(stdout);
}

}  // namespace ahrs
