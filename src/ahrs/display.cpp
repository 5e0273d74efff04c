// The live console line of the gyro phase.

#include "ahrs/display.hpp"

#include <algorithm>
#include <cstdio>

#include "ahrs/packet.hpp"
#include "ahrs/reading.hpp"

namespace ahrs {

namespace {

// A display line under construction, handed to the console in one write: the line is rewritten
// up to 300 times a second at the unit's fastest rate.
struct DisplayLine {
    char text[256];
    size_t length = 0;

    // Seven characters hold every value the conversions give (at most 180.01 in magnitude for
    // an angle, 80.00 for a voltage count), so the columns never shift.
    void add_group(double a, double b, double c) { add("%7.2f %7.2f %7.2f ", a, b, c); }

    template <typename... Values>
    void add(const char* format, Values... values) {
        const int n = std::snprintf(text + length, sizeof text - length, format, values...);
        if (n > 0) {
            length = std::min(sizeof text - 1, length + static_cast<size_t>(n));
        }
    }
};

}  // namespace

void print_packet(char mode, const uint8_t* packet) {
    AhrsReading r;
    if (!decode_packet(mode, packet, &r)) {
        return;
    }
    DisplayLine line;
    if (mode == kAngleMode) {
        line.add_group(r.roll, r.pitch, r.yaw);
    }
    line.add_group(r.gyro[0], r.gyro[1], r.gyro[2]);
    line.add_group(r.accel[0], r.accel[1], r.accel[2]);
    line.add_group(r.mag[0], r.mag[1], r.mag[2]);
    // TEMP reaches 3494.04 at the top of its count range, hence eight characters.
    line.add("%8.2f \r", r.temp);
    std::fwrite(line.text, 1, line.length, stdout);
    // The line is meant to be seen live, also when stdout is a pipe that the C library buffers.
    std::fflush(stdout);
}

}  // namespace ahrs
