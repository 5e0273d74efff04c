// Conversion of packet fields to engineering units.

#include "ahrs/reading.hpp"

#include <initializer_list>

#include "ahrs/packet.hpp"

namespace ahrs {

namespace {

// Full-scale settings per axis X, Y, Z. The unit scales its signed channels so that 32767 is
// 1.5 times the range: 150 deg/s, 6 g and 1.5 gauss.
constexpr double kGyroRange[3] = {100.0, 100.0, 100.0};
constexpr double kAccelRange[3] = {4.0, 4.0, 4.0};
constexpr double kMagRange[3] = {1.0, 1.0, 1.0};
constexpr double kRangeScale = 1.5;

// The divisor is 32767, not 32768: a raw 32767 reads exactly full scale (180 degrees), so -32768
// reads slightly beyond it (-180.005493).
constexpr double kSignedFullScale = 32767.0;
constexpr double kHalfTurnDegrees = 180.0;

// 5/4096 exactly: the converter's 5 V reference over its 12-bit count range.
constexpr double kVoltsPerCount = 0.001220703125;

// Offsets of the fields that follow the angles in angle mode.
constexpr uint32_t kAngleOffset = 1;
constexpr uint32_t kAngleModeSensorOffset = 7;
constexpr uint32_t kSensorModeSensorOffset = 1;
constexpr uint32_t kChannels = 9;  // GYRO, ACCEL, MAG, three axes each

double scaled(int16_t raw, double range) {
    return raw * (range * kRangeScale) / kSignedFullScale;
}

// The temperature sensor gives 1.375 V at 0 degrees and 1/44.44 V per degree; its count uses the
// same 5/4096 scale as the voltage-mode channels.
double temperature(uint16_t raw) {
    return ((raw * 5.0) / 4096.0 - 1.375) * 44.44;
}

}  // namespace

bool decode_packet(char mode, const uint8_t* packet, AhrsReading* reading) {
    uint32_t offset = 0;
    AhrsReading r{};
    switch (mode) {
        case kAngleMode:
            r.roll = get_s16(packet, kAngleOffset) * kHalfTurnDegrees / kSignedFullScale;
            r.pitch = get_s16(packet, kAngleOffset + 2) * kHalfTurnDegrees / kSignedFullScale;
            r.yaw = get_s16(packet, kAngleOffset + 4) * kHalfTurnDegrees / kSignedFullScale;
            offset = kAngleModeSensorOffset;
            break;
        case kScaledMode:
        case kVoltageMode:
            offset = kSensorModeSensorOffset;
            break;
        default:
            return false;
    }

    for (uint32_t axis = 0; axis < 3; ++axis) {
        const uint32_t gyro = offset + 2 * axis;
        const uint32_t accel = gyro + 6;
        const uint32_t mag = gyro + 12;
        if (mode == kVoltageMode) {
            r.gyro[axis] = get_u16(packet, gyro) * kVoltsPerCount;
            r.accel[axis] = get_u16(packet, accel) * kVoltsPerCount;
            r.mag[axis] = get_u16(packet, mag) * kVoltsPerCount;
        } else {
            r.gyro[axis] = scaled(get_s16(packet, gyro), kGyroRange[axis]);
            r.accel[axis] = scaled(get_s16(packet, accel), kAccelRange[axis]);
            r.mag[axis] = scaled(get_s16(packet, mag), kMagRange[axis]);
        }
    }
    const uint32_t temp_offset = offset + 2 * kChannels;
    r.temp = temperature(get_u16(packet, temp_offset));
    r.tail_word = get_u16(packet, temp_offset + 2);
    *reading = r;
    return true;
}

size_t reading_values(char mode, const AhrsReading& reading, double values[kMaxReadingValues]) {
    size_t n = 0;
    if (mode == kAngleMode) {
        values[n++] = reading.roll;
        values[n++] = reading.pitch;
        values[n++] = reading.yaw;
    }
    for (const double* group : {reading.gyro, reading.accel, reading.mag}) {
        for (int axis = 0; axis < 3; ++axis) {
            values[n++] = group[axis];
        }
    }
    values[n++] = reading.temp;
    return n;
}

}  // namespace ahrs
