// print_packet: the live console line.

#include "ahrs/display.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet_builder.hpp"

namespace {

namespace a = ahrs_test::angle;
namespace s = ahrs_test::sensor;
using ahrs_test::make_packet;
using ahrs_test::s16;

std::vector<uint8_t> all_fields(char mode, uint16_t channels, uint16_t temp) {
    std::vector<uint8_t> packet = make_packet(mode);
    const uint32_t temp_offset = mode == 'a' ? a::kTemp : s::kTemp;
    for (uint32_t offset = 1; offset < temp_offset; offset += 2) {
        packet[offset] = static_cast<uint8_t>(channels >> 8);
        packet[offset + 1] = static_cast<uint8_t>(channels & 0xFF);
    }
    packet[temp_offset] = static_cast<uint8_t>(temp >> 8);
    packet[temp_offset + 1] = static_cast<uint8_t>(temp & 0xFF);
    return packet;  // the checksum is of no concern to the display
}

// Every value seven wide with one blank after it, TEMP eight wide; a CR and no line feed ends it.
TEST(DisplayLine, ExampleLinesByteForByte) {
    const std::string kZeroSensorLine =
        "   0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00   -61.10 \r";
    struct {
        const char* legend;
        char mode;
        std::vector<uint8_t> packet;
        std::string line;
    } const cases[] = {
        {"angles 32767, -32768, 16384: seven wide, one blank after each", 'a',
         make_packet('a', {{a::kRoll, 32767}, {a::kPitch, s16(-32768)}, {a::kYaw, 16384}}),
         " 180.00 -180.01   90.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00 "
         "   0.00   -61.10 \r"},
        {"TEMP 1126 is three blanks and -0.02", 'c', make_packet('c', {{s::kTemp, 1126}}),
         "   0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    -0.02 \r"},
        {"voltage count 4096 shows 5.00 in its column", 'r', make_packet('r', {{s::kGyroY, 4096}}),
         "   0.00    5.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00   -61.10 \r"},
        {"scaled channels in order gyro, accel, mag", 'c',
         make_packet('c', {{s::kGyroX, 32767}, {s::kAccelZ, 32767}, {s::kMagZ, s16(-32768)}}),
         " 150.00    0.00    0.00    0.00    0.00    6.00    0.00    0.00   -1.50   -61.10 \r"},
        {"most negative everywhere still fits the columns", 'a',
         all_fields('a', s16(-32768), 65535),
         "-180.01 -180.01 -180.01 -150.00 -150.00 -150.00   -6.00   -6.00   -6.00   -1.50   -1.50 "
         "  -1.50  3494.04 \r"},
        {"largest voltage counts fit", 'r', all_fields('r', 65535, 65535),
         "  80.00   80.00   80.00   80.00   80.00   80.00   80.00   80.00   80.00  3494.04 \r"},
        {"angle mode at zero: 3 angles, 9 channels, TEMP, no line feed", 'a', make_packet('a'),
         "   0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00    0.00 "
         "   0.00   -61.10 \r"},
        {"scaled mode at zero: 9 channels, TEMP", 'c', make_packet('c'), kZeroSensorLine},
        {"voltage mode at zero: 9 channels, TEMP", 'r', make_packet('r'), kZeroSensorLine},
        {"upper-case A is no mode: nothing shown", 'A', make_packet('a'), ""},
        {"an unknown letter shows nothing", 'x', make_packet('c'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        testing::internal::CaptureStdout();
        ahrs::print_packet(c.mode, c.packet.data());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}

}  // namespace
