// Transfers that need no device: the line-error text, the senders on a port no open has filled.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serial/transfer.hpp"

namespace {

// "<CE-%u>" cut into 10 characters: up to 4 digits fit whole; longer values lose the closing
// bracket first, then digits.
TEST(LineErrorText, IsBoundedToNineCharacters) {
    struct Case {
        const char* legend;
        uint32_t value;
        const char* text;
    };
    const Case cases[] = {
        {"no error", 0, "<CE-0>"},
        {"a break (mask 16)", 16, "<CE-16>"},
        {"every line error", 0x1F, "<CE-31>"},
        {"4 digits fit whole", 9999, "<CE-9999>"},
        {"5 digits lose the bracket", 12345, "<CE-12345"},
        {"10 digits are cut", 4294967295u, "<CE-42949"},
    };
    for (const Case& c : cases) {
        char text[serial::kLineErrorTextSize + 4];
        std::memset(text, 'X', sizeof text);
        serial::format_line_error(c.value, text);
        EXPECT_STREQ(text, c.text) << c.legend;
        EXPECT_LE(std::strlen(text), serial::kLineErrorTextSize - 1) << c.legend;
        EXPECT_EQ(text[serial::kLineErrorTextSize], 'X') << c.legend << ": nothing past 10";
    }
    char text[serial::kLineErrorTextSize];
    serial::format_line_error(16, text);
    EXPECT_EQ(std::strlen(text), 7u) << "the mask 16";
}

// The module's default port before any open: writes fail, so send_str_default reports 0; the
// binary sender still returns its sum.
TEST(DefaultPort, WithoutAnOpenNothingIsSent) {
    EXPECT_EQ(serial::send_str_default("I"), 0);
    EXPECT_EQ(serial::send_str_default(""), 0);
    const uint8_t data[] = {0x01, 0xFF};
    EXPECT_EQ(serial::send_binary(&serial::default_port, data, 2), 256);
    EXPECT_EQ(serial::write_port(&serial::default_port, "x", 1), 0);
}

}  // namespace
