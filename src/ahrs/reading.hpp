#pragma once
// AhrsReading and the conversion of packet fields to engineering units, shared by the gyro file
// records and the console display.

#include <cstddef>
#include <cstdint>

namespace ahrs {

struct AhrsReading {
    double roll, pitch, yaw;  // degrees; angle mode only, 0 otherwise
    double gyro[3];           // X, Y, Z
    double accel[3];
    double mag[3];
    double temp;
    uint16_t tail_word;
};

// Converts a packet of the mode into engineering units. Returns false (reading untouched) for a
// mode letter other than 'a', 'c' and 'r'. The packet must hold the mode's packet length.
bool decode_packet(char mode, const uint8_t* packet, AhrsReading* reading);

constexpr size_t kMaxReadingValues = 13;

// Puts the reading's values in the order the records and the display line show them: roll, pitch
// and yaw (angle mode only), the body rates, the accelerations, the magnetic field, TEMP. Returns
// how many (13 in angle mode, 10 otherwise).
size_t reading_values(char mode, const AhrsReading& reading, double values[kMaxReadingValues]);

}  // namespace ahrs
