// Packet lengths, the checksum and check_packet.

#include "ahrs/packet.hpp"

#include <cstdio>

namespace ahrs {

uint32_t packet_length_of(char mode) {
    switch (mode) {
        case kAngleMode:
            return kAnglePacketLength;
        case kScaledMode:
        case kVoltageMode:
            return kSensorPacketLength;
        default:
            return 0;
    }
}

uint8_t packet_checksum(const uint8_t* packet, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 1; i + 1 < length; ++i) {
        sum += packet[i];
    }
    return static_cast<uint8_t>(sum & 0xFFu);
}

bool packet_is_valid(char mode, const uint8_t* packet, uint32_t length) {
    return length != 0 && length == packet_length_of(mode) && packet[0] == kHeaderByte &&
           packet_checksum(packet, length) == packet[length - 1];
}

int check_packet(char mode, const uint8_t* packet, uint32_t length) {
    const uint32_t expected = packet_length_of(mode);
    if (expected == 0) {
        std::printf("\nunrecognized packet type: %c", mode);
        return 0;
    }
    if (length != expected) {
        // The scaled mode's message has two blanks before the expected length.
        if (mode == kScaledMode) {
            std::printf("packet size incorrect: %d should be  %d for AHRS\n",
                        static_cast<int>(length), static_cast<int>(expected));
        } else {
            std::printf("packet size incorrect: %d should be %d for AHRS\n",
                        static_cast<int>(length), static_cast<int>(expected));
        }
        return 0;
    }

    bool bad = false;
    if (packet[0] != kHeaderByte) {
        std::printf("Gyro \nunrecognized header byte: ");
        bad = true;
    }
    if (packet_checksum(packet, length) != packet[length - 1]) {
        std::printf("\nbad checksum:");
        bad = true;
    }
    if (!bad) {
        return 1;
    }
    for (uint32_t i = 0; i < length; ++i) {
        std::printf("%x ", static_cast<unsigned>(packet[i]));
    }
    std::printf("\n");
    return 0;
}

}  // namespace ahrs
