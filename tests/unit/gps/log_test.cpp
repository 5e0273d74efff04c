// The GPS file's lines byte for byte, its counts, and the hold: lines kept in memory and written
// in order when it ends, and a full hold buffer that says how many pieces it lost.

#include "gps/log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea_builder.hpp"
#include "temp_stream.hpp"

namespace {

using gps::PieceKind;
using namespace gps_test;
constexpr auto line = file_line;

TEST(GpsFile, WritesOneLinePerPieceWithTheBytesOfInvalidOnesEscaped) {
    struct Case {
        const char* legend;
        PieceKind kind;
        std::string text, end = "\r\n";
        double seconds;
        std::string line;
    };
    const Case cases[] = {
        {.legend = "a valid sentence: its text, without the line end",
         .kind = PieceKind::kSentence,
         .text = kGga,
         .seconds = 12.5,
         .line = "12.500000 " + kGga + "\n"},
        {.legend = "the time rounded to six decimals",
         .kind = PieceKind::kSentence,
         .text = "$GPGSA,A,1*2F",
         .end = "\n",
         .seconds = 7.1234567,
         .line = "7.123457 $GPGSA,A,1*2F\n"},
        {.legend = "a wrong checksum, with its CR LF",
         .kind = PieceKind::kBadChecksum,
         .text = "$GPGGA,1*00",
         .seconds = 3.25,
         .line = "3.250000 #checksum $GPGGA,1*00\\x0D\\x0A\n"},
        {.legend = "no checksum, ended by a lone LF",
         .kind = PieceKind::kNoChecksum,
         .text = "$GPGGA,1",
         .end = "\n",
         .seconds = 0,
         .line = "0.000000 #no-checksum $GPGGA,1\\x0A\n"},
        {.legend = "too long, cut without an end",
         .kind = PieceKind::kTooLong,
         .text = "$PAAAA",
         .end = "",
         .seconds = 1,
         .line = "1.000000 #too-long $PAAAA\n"},
        {.legend = "no end, with a CR of its own",
         .kind = PieceKind::kNoEnd,
         .text = "$GPRMC,1\r",
         .end = "",
         .seconds = 1,
         .line = "1.000000 #no-end $GPRMC,1\\x0D\n"},
        {.legend = "not NMEA: control bytes, DEL, high bytes and the backslash escaped",
         .kind = PieceKind::kNotNmea,
         .text = std::string("\0\x1F ~\x7F\x80\xFF\\#a", 10),
         .end = "",
         .seconds = 2,
         .line = "2.000000 #not-nmea \\x00\\x1F ~\\x7F\\x80\\xFF\\x5C#a\n"},
        {.legend = "not NMEA: a lone CR LF",
         .kind = PieceKind::kNotNmea,
         .text = "",
         .seconds = 2,
         .line = "2.000000 #not-nmea \\x0D\\x0A\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string bytes = c.text + c.end;
        const gps::Piece piece{c.kind, reinterpret_cast<const uint8_t*>(bytes.data()),
                               static_cast<uint32_t>(bytes.size()),
                               static_cast<uint32_t>(c.text.size())};
        char out[gps::kMaxLineLength];
        EXPECT_EQ(std::string(out, gps::format_line(piece, c.seconds, out)), c.line);
    }
}

TEST(GpsFile, CountsEveryPieceAndItsLines) {
    testsupport::TempStream file;
    ASSERT_NE(file.get(), nullptr);
    gps::Log log;
    ASSERT_TRUE(gps::log_start(&log, file.get()));
    const std::string no_fix = "$GNGGA,092750.000,5321.6802,N,00630.3372,W,0,00,,,M,,M,,*4F";
    const std::string bad_fix = kGga.substr(0, kGga.size() - 1) + "8";
    EXPECT_TRUE(log_stream(&log, kGga + "\r\n" + kRmc + "\r\n", 1.5));
    EXPECT_TRUE(log_stream(&log, "\xFF\n" + no_fix + "\r\n" + bad_fix + "\r\n$GPGSA,A", 2));
    EXPECT_EQ(file.text(), line(1.5, kGga) + line(1.5, kRmc) + line(2, "#not-nmea \\xFF\\x0A") +
                               line(2, no_fix) + line(2, "#checksum " + bad_fix + "\\x0D\\x0A") +
                               line(2, "#no-end $GPGSA,A"));
    EXPECT_EQ(log.sentences, 6u);
    EXPECT_EQ(log.invalid, 3u);
    EXPECT_EQ(log.fixes, 1u) << "the GNGGA has quality 0, the GGA with a wrong checksum none";
    EXPECT_EQ(log.lines_written, 6u);
    EXPECT_TRUE(gps::log_flush(&log));
    EXPECT_EQ(log.lines_on_disk, 6u);
    EXPECT_FALSE(log.failed);
}

TEST(GpsFile, KeepsLinesDuringAHoldAndSaysHowManyItLost) {
    using Lines = std::vector<std::string>;
    // The pieces received during the hold, at 2 s to 5 s, and their lines: the third is short.
    const std::vector<std::string> during = {kGga + "\r\n", kGsv + "\r\n", "x\n", kRmc + "\r\n"};
    const Lines held = {line(2, kGga), line(3, kGsv), line(4, "#not-nmea x\\x0A"), line(5, kRmc)};
    struct Case {
        const char* legend;
        size_t (*capacity)(const Lines& held);
        std::vector<size_t> kept;  // which of the held lines reach the file
        uint32_t lost;
    };
    const Case cases[] = {
        {.legend = "room for all",
         .capacity = [](const Lines&) { return gps::kHoldCapacity; },
         .kept = {0, 1, 2, 3},
         .lost = 0},
        {.legend = "room for exactly the first two",
         .capacity = [](const Lines& l) { return l[0].size() + l[1].size(); },
         .kept = {0, 1},
         .lost = 2},
        {.legend = "one byte short of the second",
         .capacity = [](const Lines& l) { return l[0].size() + l[1].size() - 1; },
         .kept = {0},
         .lost = 3},
        {.legend = "the short third would fit, but the second found no room before it",
         .capacity = [](const Lines& l) { return l[0].size() + l[2].size(); },
         .kept = {0},
         .lost = 3},
        {.legend = "no room",
         .capacity = [](const Lines&) { return size_t{0}; },
         .kept = {},
         .lost = 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        testsupport::TempStream file;
        ASSERT_NE(file.get(), nullptr);
        gps::Log log;
        ASSERT_TRUE(gps::log_start(&log, file.get(), c.capacity(held)));
        ASSERT_TRUE(log_stream(&log, kGsa + "\r\n", 1));
        gps::log_hold(&log);
        for (size_t i = 0; i < during.size(); ++i) {
            EXPECT_TRUE(log_stream(&log, during[i], 2.0 + static_cast<double>(i)));
        }
        EXPECT_TRUE(gps::log_flush(&log));
        EXPECT_EQ(file.text(), line(1, kGsa)) << "nothing is written while held";
        EXPECT_EQ(log.lines_on_disk, 1u);

        EXPECT_TRUE(gps::log_release(&log, 9));
        ASSERT_TRUE(log_stream(&log, kGsa + "\r\n", 10));
        std::string expected = line(1, kGsa);
        for (const size_t i : c.kept) {
            expected += held[i];
        }
        if (c.lost > 0) {
            expected += line(9, "#lost " + std::to_string(c.lost));
        }
        expected += line(10, kGsa);
        EXPECT_EQ(file.text(), expected);
        EXPECT_EQ(log.lost, c.lost);
        EXPECT_EQ(log.sentences, 6u) << "lost pieces are counted too";
        EXPECT_EQ(log.lines_written, 2 + c.kept.size() + (c.lost > 0 ? 1 : 0));

        // A later hold starts with an empty buffer and no loss of its own.
        gps::log_hold(&log);
        ASSERT_TRUE(log_stream(&log, "x\n", 11));
        EXPECT_TRUE(gps::log_release(&log, 12));
        const std::string short_line = line(11, "#not-nmea x\\x0A");
        EXPECT_EQ(
            file.text(),
            expected + (c.capacity(held) >= short_line.size() ? short_line : line(12, "#lost 1")));
    }
}

}  // namespace
