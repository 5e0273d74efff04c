// The live console line of the gyro phase.

#include "ahrs/display.hpp"

#include <cstdio>

#include "ahrs/packet.hpp"
#include "ahrs/reading.hpp"

namespace ahrs {

namespace {

// Seven characters hold every value the conversions give (at most 180.01 in magnitude for an
// angle, 80.00 for a voltage count), so the columns never shift.
void print_group(double a, double b, double c) {
    std::printf("%7.2f %7.2f %7.2f ", a, b, c);
}

}  // namespace

void print_packet(char mode, const uint8_t* packet) {
    AhrsReading r;
    if (!decode_packet(mode, packet, &r)) {
        return;
    }
    if (mode == kAngleMode) {
        print_group(r.roll, r.pitch, r.yaw);
    }
    print_group(r.gyro[0], r.gyro[1], r.gyro[2]);
    print_group(r.accel[0], r.accel[1], r.accel[2]);
    print_group(r.mag[0], r.mag[1], r.mag[2]);
    // TEMP reaches 3494.04 at the top of its count range, hence eight characters.
    std::printf("%8.2f ", r.temp);
    std::printf("\r");
    // The line is meant to be seen live, also when stdout is a pipe that the C library buffers.
    std::fflush(stdout);
}

}  // namespace ahrs
