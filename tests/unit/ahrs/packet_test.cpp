// check_packet, the packet checksum and the packet lengths of the modes.

#include "ahrs/packet.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packet_builder.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes set(Bytes bytes, size_t index, uint8_t value) {
    bytes[index] = value;
    return bytes;
}

// Angle-mode packet whose 28 summed bytes are all 0xFF: 28 * 255 = 7140, 0xE4 modulo 256.
Bytes all_ff_angle(uint8_t checksum) {
    Bytes bytes(30, 0xFF);
    bytes[29] = checksum;
    return bytes;
}

// Angle-mode packet of alternating 0x0A and 0x00: 14 * 0x0A = 0x8C.
Bytes newline_angle(uint8_t checksum) {
    Bytes bytes(30, 0x00);
    bytes[0] = 0xFF;
    for (size_t i = 1; i < 29; i += 2) {
        bytes[i] = 0x0A;
    }
    bytes[29] = checksum;
    return bytes;
}

const Bytes kZeroSensor = set(Bytes(24, 0), 0, 0xFF);  // header, all else 0: checksum 0

struct CheckCase {
    const char* legend;
    char mode;
    Bytes bytes;
    uint32_t length;  // handed to check_packet; the buffer holds at least this many bytes
    int result;
    std::string out;  // standard output, byte for byte
};

template <size_t N>
void expect_cases(const CheckCase (&cases)[N]) {
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.legend);
        ASSERT_GE(c.bytes.size(), c.length);
        testing::internal::CaptureStdout();
        const int result = ahrs::check_packet(c.mode, c.bytes.data(), c.length);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(out, c.out);
    }
}

TEST(CheckPacket, AcceptsIntactPacketsSilently) {
    const CheckCase cases[] = {
        {"angle packet with fields set, checksum of bytes 1..28", 'a',
         ahrs_test::make_packet('a', {{ahrs_test::angle::kRoll, 0x1234},
                                      {ahrs_test::angle::kTemp, 0x0800},
                                      {ahrs_test::angle::kTail, 0xFFFF}}),
         30, 1, ""},
        {"header 0xFF and zeros: checksum 0 is right", 'c', kZeroSensor, 24, 1, ""},
        {"voltage mode, same layout length", 'r', kZeroSensor, 24, 1, ""},
        {"sum 7140 wraps to 0xE4", 'a', all_ff_angle(0xE4), 30, 1, ""},
        {"bytes 0x0A and 0x00 are plain data", 'a', newline_angle(0x8C), 30, 1, ""},
        {"buffer longer than length: only length bytes count", 'c',
         set(set(Bytes(25, 0), 0, 0xFF), 24, 0x55), 24, 1, ""},
    };
    expect_cases(cases);
}

TEST(CheckPacket, ReportsHeaderAndChecksumWithOneDump) {
    const CheckCase cases[] = {
        {"header 0xFE, checksum right: header message and dump only", 'c',
         set(kZeroSensor, 0, 0xFE), 24, 0,
         "Gyro \nunrecognized header byte: "
         "fe 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \n"},
        {"checksum byte 1 instead of 0", 'c', set(kZeroSensor, 23, 0x01), 24, 0,
         "\nbad checksum:ff 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 \n"},
        {"header and checksum both wrong: both messages, header first, one dump", 'r',
         set(set(kZeroSensor, 0, 0x00), 1, 0x0A), 24, 0,
         "Gyro \nunrecognized header byte: \nbad checksum:"
         "0 a 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \n"},
        {"the header is not summed: 0xFF + 0x01 = 0x00 is no valid checksum", 'c',
         set(kZeroSensor, 1, 0x01), 24, 0,
         "\nbad checksum:ff 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \n"},
        {"checksum off by one after the wrap", 'a', all_ff_angle(0xE5), 30, 0,
         "\nbad checksum:ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
         "ff ff ff ff ff ff e5 \n"},
        {"dump: 0x0A prints as a, 0x00 as 0, lower case, no leading zeros", 'a',
         newline_angle(0x8D), 30, 0,
         "\nbad checksum:ff a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 a 0 8d \n"},
    };
    expect_cases(cases);
}

TEST(CheckPacket, RejectsWrongLengthWithoutDump) {
    const CheckCase cases[] = {
        {"24 bytes in angle mode", 'a', Bytes(30, 0x11), 24, 0,
         "packet size incorrect: 24 should be 30 for AHRS\n"},
        {"30 bytes in scaled mode: two blanks before 24", 'c', ahrs_test::make_packet('a'), 30, 0,
         "packet size incorrect: 30 should be  24 for AHRS\n"},
        {"nothing received in voltage mode", 'r', Bytes(1, 0), 0, 0,
         "packet size incorrect: 0 should be 24 for AHRS\n"},
        {"nothing received in scaled mode", 'c', Bytes(1, 0), 0, 0,
         "packet size incorrect: 0 should be  24 for AHRS\n"},
        {"a full 255-byte read in angle mode", 'a', Bytes(255, 0xFF), 255, 0,
         "packet size incorrect: 255 should be 30 for AHRS\n"},
        {"one byte short in voltage mode", 'r', kZeroSensor, 23, 0,
         "packet size incorrect: 23 should be 24 for AHRS\n"},
    };
    expect_cases(cases);
}

TEST(CheckPacket, RejectsEveryPacketOfAnUnknownModeBeforeTheLengthTest) {
    const CheckCase cases[] = {
        {"upper-case A with an intact angle packet", 'A', ahrs_test::make_packet('a'), 30, 0,
         "\nunrecognized packet type: A"},
        {"x with nothing received", 'x', Bytes(1, 0), 0, 0, "\nunrecognized packet type: x"},
        {"upper-case C with an intact scaled packet", 'C', kZeroSensor, 24, 0,
         "\nunrecognized packet type: C"},
    };
    expect_cases(cases);
}

TEST(PacketChecksum, SumsBytesBetweenHeaderAndChecksumModulo256) {
    struct {
        const char* legend;
        Bytes bytes;
        uint8_t checksum;
    } const cases[] = {
        {"two bytes: nothing between header and checksum", {0xFF, 0x77}, 0x00},
        {"header and last byte are left out", {0xFF, 0x01, 0x02, 0xFF}, 0x03},
        {"sum 0x100 wraps to 0", {0x00, 0x80, 0x80, 0x00}, 0x00},
        {"28 bytes of 0xFF give 0xE4", all_ff_angle(0), 0xE4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(ahrs::packet_checksum(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())),
                  c.checksum);
    }
}

TEST(PacketLength, FollowsTheMode) {
    struct {
        const char* legend;
        char mode;
        uint32_t length;
    } const cases[] = {
        {"angle mode", 'a', 30},           {"scaled mode", 'c', 24}, {"voltage mode", 'r', 24},
        {"upper case is no mode", 'A', 0}, {"other letter", 'g', 0}, {"NUL", '\0', 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(ahrs::packet_length_of(c.mode), c.length);
    }
}

}  // namespace
