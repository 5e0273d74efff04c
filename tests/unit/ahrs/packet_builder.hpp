#pragma once
// Builds AHRS packets for the tests: fields by offset, big-endian, with the checksum filled in.

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ahrs/packet.hpp"

namespace ahrs_test {

// Field offsets of angle mode 'a'.
namespace angle {
constexpr uint32_t kRoll = 1, kPitch = 3, kYaw = 5, kGyroX = 7, kGyroY = 9, kGyroZ = 11,
                   kAccelX = 13, kMagX = 19, kMagZ = 23, kTemp = 25, kTail = 27;
}
// Field offsets of scaled mode 'c' and voltage mode 'r'.
namespace sensor {
constexpr uint32_t kGyroX = 1, kGyroY = 3, kGyroZ = 5, kAccelX = 7, kAccelZ = 11, kMagX = 13,
                   kMagZ = 17, kTemp = 19, kTail = 21;
}

using Field = std::pair<uint32_t, uint16_t>;  // offset, raw value (a signed raw as its bits)

// A valid packet of the mode: header 0xFF, the given fields, all else 0, checksum last.
inline std::vector<uint8_t> make_packet(char mode, std::initializer_list<Field> fields = {}) {
    std::vector<uint8_t> bytes(ahrs::packet_length_of(mode), 0);
    bytes[0] = 0xFF;
    unsigned sum = 0;
    for (const Field& f : fields) {
        bytes[f.first] = static_cast<uint8_t>(f.second >> 8);
        bytes[f.first + 1] = static_cast<uint8_t>(f.second & 0xFF);
    }
    for (size_t i = 1; i + 1 < bytes.size(); ++i) {
        sum += bytes[i];
    }
    bytes.back() = static_cast<uint8_t>(sum % 256);
    return bytes;
}

// The bits of a signed raw value, for make_packet.
constexpr uint16_t s16(int value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}

}  // namespace ahrs_test
