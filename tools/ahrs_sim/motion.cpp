// The simulated motion and the packet encoder: the inverse of the logger's conversions.

#include "motion.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "ahrs/packet.hpp"
#include "sim_common/hashed_random.hpp"

namespace ahrs_sim {
namespace {

using sim_common::uniform;

constexpr double kPi = std::numbers::pi;
constexpr double kDegToRad = kPi / 180.0;

// Full scales of the unit's signed outputs (raw 32767): range x 1.5 with the ranges 100 deg/s,
// 4 g and 1 gauss of the unit's configuration.
constexpr double kAngleFullScaleDeg = 180.0;
constexpr double kGyroFullScaleDps = 150.0;
constexpr double kAccelFullScaleG = 6.0;
constexpr double kMagFullScaleGauss = 1.5;
constexpr double kSignedFullScaleRaw = 32767.0;

// The converter: 12 bits over 0..5 V. In voltage mode every sensor sits at 2.5 V at rest and
// swings 2 V at full scale, so the counts stay inside the converter's range.
constexpr double kCountsPerVolt = 4096.0 / 5.0;
constexpr double kMaxCount = 4095.0;
constexpr double kSensorCentreV = 2.5;
constexpr double kSensorSwingV = 2.0;

// The temperature sensor: T = (volts - 1.375) x 44.44, read through the same converter.
constexpr double kTempOffsetV = 1.375;
constexpr double kTempDegPerVolt = 44.44;

// The earth's field at a mid-latitude survey site, in gauss: north, east, down.
constexpr double kEarthField[3] = {0.20, 0.0, 0.45};

// Noise levels (one standard deviation, roughly) of each kind of channel.
constexpr double kGyroNoiseDps = 0.05;
constexpr double kAccelNoiseG = 0.002;
constexpr double kMagNoiseGauss = 0.002;
constexpr double kTempNoiseC = 0.05;

double between(uint64_t seed, uint64_t stream, double low, double high) {
    return low + (high - low) * uniform(seed, stream, 0);
}

// Zero-mean noise of about the given size (the sum of two uniforms, triangular).
double noise(uint64_t seed, uint64_t sequence, uint64_t channel, double size) {
    const uint64_t stream = 1000 + channel;
    return size *
           (uniform(seed, stream, 2 * sequence) + uniform(seed, stream, 2 * sequence + 1) - 1.0) *
           std::numbers::sqrt2 * std::numbers::sqrt3;
}

int16_t signed_raw(double value, double full_scale) {
    const double raw = std::round(value * kSignedFullScaleRaw / full_scale);
    return static_cast<int16_t>(std::clamp(raw, -32768.0, 32767.0));
}

uint16_t volts_counts(double value, double full_scale) {
    const double volts = kSensorCentreV + value / full_scale * kSensorSwingV;
    return static_cast<uint16_t>(std::clamp(std::round(volts * kCountsPerVolt), 0.0, kMaxCount));
}

uint16_t temp_raw(double temp_c) {
    const double volts = temp_c / kTempDegPerVolt + kTempOffsetV;
    return static_cast<uint16_t>(std::clamp(std::round(volts * kCountsPerVolt), 0.0, kMaxCount));
}

void put_u16(uint8_t* packet, uint32_t offset, uint16_t value) {
    packet[offset] = static_cast<uint8_t>(value >> 8);
    packet[offset + 1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace

MotionModel make_motion(uint64_t seed) {
    MotionModel m{};
    m.seed = seed;
    m.roll_amplitude_deg = between(seed, 1, 2.5, 5.0);
    m.roll_period_s = between(seed, 2, 6.0, 10.0);
    m.roll_phase = between(seed, 3, 0.0, 2.0 * kPi);
    m.pitch_amplitude_deg = between(seed, 4, 1.0, 3.0);
    m.pitch_period_s = between(seed, 5, 4.0, 7.0);
    m.pitch_phase = between(seed, 6, 0.0, 2.0 * kPi);
    m.heading0_deg = between(seed, 7, -180.0, 180.0);
    m.turn_rate_dps = between(seed, 8, 0.5, 2.0) * (uniform(seed, 9, 0) < 0.5 ? -1.0 : 1.0);
    m.yaw_wobble_deg = between(seed, 10, 0.5, 1.5);
    m.yaw_wobble_period_s = between(seed, 11, 8.0, 14.0);
    m.yaw_wobble_phase = between(seed, 12, 0.0, 2.0 * kPi);
    m.heave_g = between(seed, 13, 0.02, 0.06);
    m.heave_period_s = between(seed, 14, 5.0, 8.0);
    m.heave_phase = between(seed, 15, 0.0, 2.0 * kPi);
    m.temp_base_c = between(seed, 16, 24.0, 26.0);
    return m;
}

SensorSample sample_motion(const MotionModel& m, double t, uint64_t sequence) {
    SensorSample s{};
    const double wr = 2.0 * kPi / m.roll_period_s;
    const double wp = 2.0 * kPi / m.pitch_period_s;
    const double wy = 2.0 * kPi / m.yaw_wobble_period_s;
    const double wh = 2.0 * kPi / m.heave_period_s;

    // Euler angles (degrees) and their rates (degrees per second).
    const double roll = m.roll_amplitude_deg * std::sin(wr * t + m.roll_phase);
    const double roll_rate = m.roll_amplitude_deg * wr * std::cos(wr * t + m.roll_phase);
    const double pitch = m.pitch_amplitude_deg * std::sin(wp * t + m.pitch_phase);
    const double pitch_rate = m.pitch_amplitude_deg * wp * std::cos(wp * t + m.pitch_phase);
    const double yaw_unwrapped = m.heading0_deg + m.turn_rate_dps * t +
                                 m.yaw_wobble_deg * std::sin(wy * t + m.yaw_wobble_phase);
    const double yaw_rate =
        m.turn_rate_dps + m.yaw_wobble_deg * wy * std::cos(wy * t + m.yaw_wobble_phase);
    double yaw = std::fmod(yaw_unwrapped + 180.0, 360.0);
    yaw = (yaw < 0.0 ? yaw + 360.0 : yaw) - 180.0;
    s.roll_deg = roll;
    s.pitch_deg = pitch;
    s.yaw_deg = yaw;

    const double sr = std::sin(roll * kDegToRad), cr = std::cos(roll * kDegToRad);
    const double sp = std::sin(pitch * kDegToRad), cp = std::cos(pitch * kDegToRad);
    const double sy = std::sin(yaw * kDegToRad), cy = std::cos(yaw * kDegToRad);

    // Body rates from the Euler angle rates (roll, pitch, yaw order).
    const uint64_t seed = m.seed;
    s.gyro_dps[0] = roll_rate - yaw_rate * sp + noise(seed, sequence, 0, kGyroNoiseDps);
    s.gyro_dps[1] = pitch_rate * cr + yaw_rate * sr * cp + noise(seed, sequence, 1, kGyroNoiseDps);
    s.gyro_dps[2] = -pitch_rate * sr + yaw_rate * cr * cp + noise(seed, sequence, 2, kGyroNoiseDps);

    // Specific force: gravity seen in the body axes, scaled by the heave.
    const double vertical = 1.0 + m.heave_g * std::sin(wh * t + m.heave_phase);
    s.accel_g[0] = vertical * sp + noise(seed, sequence, 3, kAccelNoiseG);
    s.accel_g[1] = -vertical * sr * cp + noise(seed, sequence, 4, kAccelNoiseG);
    s.accel_g[2] = -vertical * cr * cp + noise(seed, sequence, 5, kAccelNoiseG);

    // The earth's field rotated from north-east-down into the body axes.
    const double rotation[3][3] = {
        {cp * cy, cp * sy, -sp},
        {sr * sp * cy - cr * sy, sr * sp * sy + cr * cy, sr * cp},
        {cr * sp * cy + sr * sy, cr * sp * sy - sr * cy, cr * cp},
    };
    for (int axis = 0; axis < 3; ++axis) {
        s.mag_gauss[axis] = rotation[axis][0] * kEarthField[0] +
                            rotation[axis][1] * kEarthField[1] +
                            rotation[axis][2] * kEarthField[2] +
                            noise(seed, sequence, static_cast<uint64_t>(6 + axis), kMagNoiseGauss);
    }

    // The sensor warms a little over the first minutes and then holds.
    s.temp_c =
        m.temp_base_c + 0.5 * (1.0 - std::exp(-t / 300.0)) + noise(seed, sequence, 9, kTempNoiseC);
    return s;
}

uint32_t encode_packet(char mode, const SensorSample& s, uint16_t tail_word, uint8_t* packet) {
    const uint32_t length = ahrs::packet_length_of(mode);
    if (length == 0) {
        return 0;
    }
    packet[0] = ahrs::kHeaderByte;
    uint32_t offset = 1;
    if (mode == ahrs::kAngleMode) {
        put_u16(packet, 1, static_cast<uint16_t>(signed_raw(s.roll_deg, kAngleFullScaleDeg)));
        put_u16(packet, 3, static_cast<uint16_t>(signed_raw(s.pitch_deg, kAngleFullScaleDeg)));
        put_u16(packet, 5, static_cast<uint16_t>(signed_raw(s.yaw_deg, kAngleFullScaleDeg)));
        offset = 7;
    }
    // The nine sensor channels in packet order: gyro, accel, mag, each X, Y, Z.
    const double* channels[3] = {s.gyro_dps, s.accel_g, s.mag_gauss};
    const double full_scales[3] = {kGyroFullScaleDps, kAccelFullScaleG, kMagFullScaleGauss};
    for (int group = 0; group < 3; ++group) {
        for (int axis = 0; axis < 3; ++axis) {
            const double value = channels[group][axis];
            const uint16_t raw = mode == ahrs::kVoltageMode
                                     ? volts_counts(value, full_scales[group])
                                     : static_cast<uint16_t>(signed_raw(value, full_scales[group]));
            put_u16(packet, offset, raw);
            offset += 2;
        }
    }
    put_u16(packet, offset, temp_raw(s.temp_c));
    put_u16(packet, offset + 2, tail_word);
    packet[length - 1] = ahrs::packet_checksum(packet, length);
    return length;
}

}  // namespace ahrs_sim
