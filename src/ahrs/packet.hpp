#pragma once
// The AHRS packet layouts, the packet checksum and check_packet, the test every packet passes.

#include <cstdint>

namespace ahrs {

// Output modes, chosen by the mode letter sent to the unit.
constexpr char kAngleMode = 'a';    // attitude angles and the nine sensor channels
constexpr char kScaledMode = 'c';   // the nine sensor channels, signed
constexpr char kVoltageMode = 'r';  // the nine sensor channels, unsigned converter counts

constexpr uint32_t kAnglePacketLength = 30;
constexpr uint32_t kSensorPacketLength = 24;
constexpr uint32_t kMaxPacketLength = 255;  // the unit's answer is read into 255 bytes at most
constexpr uint8_t kHeaderByte = 0xFF;

// Returns the packet length of the mode: 30 for 'a', 24 for 'c' and 'r', 0 for any other letter.
uint32_t packet_length_of(char mode);

// Returns the sum of bytes 1 to length - 2 modulo 256: the header and the checksum byte itself
// are not summed. length must be at least 2.
uint8_t packet_checksum(const uint8_t* packet, uint32_t length);

// Reads the 16-bit big-endian field at offset.
inline uint16_t get_u16(const uint8_t* packet, uint32_t offset) {
    return static_cast<uint16_t>(packet[offset] << 8 | packet[offset + 1]);
}
inline int16_t get_s16(const uint8_t* packet, uint32_t offset) {
    return static_cast<int16_t>(get_u16(packet, offset));
}

// True when the packet is valid for the mode (length, header 0xFF, checksum); prints nothing.
bool packet_is_valid(char mode, const uint8_t* packet, uint32_t length);

// Returns 1 when the packet is valid for the mode (length, header 0xFF, checksum), 0 otherwise;
// prints why on standard output, with a hex dump of a packet whose header or checksum is wrong.
int check_packet(char mode, const uint8_t* packet, uint32_t length);

}  // namespace ahrs
