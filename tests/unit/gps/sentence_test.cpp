// The splitter: the same pieces from a stream fed whole, byte by byte and in random splits, every
// byte in one piece; and the fix of a GGA sentence.

#include "gps/sentence.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea_builder.hpp"

namespace {

using gps::PieceKind;
using namespace gps_test;

const std::string kCrLf = "\r\n";

// A proprietary sentence of exactly `length` characters before its line end.
std::string sentence_of_length(size_t length) {
    std::string body(length - 4, 'A');
    body[0] = 'P';
    return sentence(body);
}

Split valid(const std::string& text, const std::string& end = kCrLf) {
    return {PieceKind::kSentence, text, end};
}

TEST(Splitter, CutsTheSameInWhateverSplitsTheStreamArrives) {
    const std::string long_run = "$P" + std::string(600, 'A');
    struct Case {
        const char* legend;
        std::string stream;
        std::vector<Split> pieces;
    };
    const Case cases[] = {
        {.legend = "GGA, RMC, GSA, GSV",
         .stream = kGga + kCrLf + kRmc + kCrLf + kGsa + kCrLf + kGsv + kCrLf,
         .pieces = {valid(kGga), valid(kRmc), valid(kGsa), valid(kGsv)}},
        {.legend = "a lower-case checksum; '!' starts a sentence too",
         .stream = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a\r\n" +
                   sentence("AIVDM,1,1,,A,13u?etPv2;0n:dDPwUM1U1Cb069D,0", '!') + kCrLf,
         .pieces = {valid("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a"),
                    valid(sentence("AIVDM,1,1,,A,13u?etPv2;0n:dDPwUM1U1Cb069D,0", '!'))}},
        {.legend = "a wrong checksum",
         .stream = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*38\r\n",
         .pieces = {{PieceKind::kBadChecksum, "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*38",
                     kCrLf}}},
        {.legend = "no '*', a checksum that is not hex, one hex digit, an empty sentence",
         .stream = "$GPGGA,1,2\r\n$GPGGA,1*4G\r\n$GPGGA,1*4\r\n$\r\n",
         .pieces = {{PieceKind::kNoChecksum, "$GPGGA,1,2", kCrLf},
                    {PieceKind::kNoChecksum, "$GPGGA,1*4G", kCrLf},
                    {PieceKind::kNoChecksum, "$GPGGA,1*4", kCrLf},
                    {PieceKind::kNoChecksum, "$", kCrLf}}},
        {.legend = "a lone LF ends a sentence",
         .stream = kGga + "\n" + kRmc + kCrLf,
         .pieces = {valid(kGga, "\n"), valid(kRmc)}},
        {.legend = "a CR inside is no end, and no checksum makes a control character valid",
         .stream = sentence("GPGSA,A,3\r,04") + kCrLf + kGga + "\r\r\n",
         .pieces = {{PieceKind::kBadChecksum, sentence("GPGSA,A,3\r,04"), kCrLf},
                    {PieceKind::kNoChecksum, kGga + "\r", kCrLf}}},
        {.legend = "NUL and 0xFF bytes, outside and inside a sentence",
         .stream = std::string("\0\xFF\0", 3) + kGga + kCrLf +
                   sentence(std::string("GPGGA,\xFF\0,1", 10)) + kCrLf,
         .pieces = {{PieceKind::kNotNmea, std::string("\0\xFF\0", 3), ""},
                    valid(kGga),
                    {PieceKind::kBadChecksum, sentence(std::string("GPGGA,\xFF\0,1", 10)), kCrLf}}},
        {.legend = "120 characters are valid, with a CR that turns out to be the line end",
         .stream = sentence_of_length(120) + kCrLf + sentence_of_length(120) + "\n",
         .pieces = {valid(sentence_of_length(120)), valid(sentence_of_length(120), "\n")}},
        {.legend = "121 characters are too long",
         .stream = sentence_of_length(121) + kCrLf,
         .pieces = {{PieceKind::kTooLong, sentence_of_length(121), kCrLf}}},
        {.legend = "a too-long sentence takes the bytes up to its line end or a start character",
         .stream = sentence_of_length(200) + kCrLf + "$P" + std::string(150, 'B') + kGga + kCrLf,
         .pieces = {{PieceKind::kTooLong, sentence_of_length(200), kCrLf},
                    {PieceKind::kTooLong, "$P" + std::string(150, 'B'), ""},
                    valid(kGga)}},
        {.legend = "a too-long sentence longer than a piece is cut into pieces",
         .stream = long_run + kCrLf + kGsa + kCrLf,
         .pieces = {{PieceKind::kTooLong, long_run.substr(0, 256), ""},
                    {PieceKind::kTooLong, long_run.substr(256, 256), ""},
                    {PieceKind::kTooLong, long_run.substr(512), kCrLf},
                    valid(kGsa)}},
        {.legend = "a start character before the line end; a CR before it belongs to the text",
         .stream = "$GPGGA,123519,48" + kRmc + kCrLf + "$GPGSA,A,3\r" + kGsa + kCrLf,
         .pieces = {{PieceKind::kNoEnd, "$GPGGA,123519,48", ""},
                    valid(kRmc),
                    {PieceKind::kNoEnd, "$GPGSA,A,3\r", ""},
                    valid(kGsa)}},
        {.legend = "garbage between sentences ends at a start character or a line end",
         .stream = kGga + kCrLf + "noise\x01 ~" + kRmc + kCrLf + "line noise\r\n" + kGsa + kCrLf,
         .pieces = {valid(kGga),
                    {PieceKind::kNotNmea, "noise\x01 ~", ""},
                    valid(kRmc),
                    {PieceKind::kNotNmea, "line noise", kCrLf},
                    valid(kGsa)}},
        {.legend = "bytes before the first '$', a lone CR LF, a lone CR in garbage",
         .stream = ",01131.000,E*47\r\n\r\nab\rc\n" + kGga + kCrLf,
         .pieces = {{PieceKind::kNotNmea, ",01131.000,E*47", kCrLf},
                    {PieceKind::kNotNmea, "", kCrLf},
                    {PieceKind::kNotNmea, "ab\rc", "\n"},
                    valid(kGga)}},
        {.legend = "a very long stretch of garbage is cut into pieces",
         .stream = std::string(600, 'x') + "\n" + kGga + kCrLf,
         .pieces = {{PieceKind::kNotNmea, std::string(256, 'x'), ""},
                    {PieceKind::kNotNmea, std::string(256, 'x'), ""},
                    {PieceKind::kNotNmea, std::string(88, 'x'), "\n"},
                    valid(kGga)}},
        {.legend = "the stream ends mid-sentence",
         .stream = kGga + kCrLf + "$GPRMC,1235",
         .pieces = {valid(kGga), {PieceKind::kNoEnd, "$GPRMC,1235", ""}}},
        {.legend = "the stream ends after the CR of a sentence",
         .stream = kGga + "\r",
         .pieces = {{PieceKind::kNoEnd, kGga + "\r", ""}}},
        {.legend = "the stream ends in garbage",
         .stream = "\xFF\xFE",
         .pieces = {{PieceKind::kNotNmea, "\xFF\xFE", ""}}},
        {.legend = "nothing received", .stream = "", .pieces = {}},
    };
    for (const Case& c : cases) {
        for (const testsupport::StreamSplit& split : testsupport::every_split()) {
            SCOPED_TRACE(std::string(c.legend) + ", " + split.describe());
            EXPECT_EQ(split_stream(c.stream, split), c.pieces);
        }
    }
}

TEST(Splitter, TellsAFixFromTheQualityOfAValidGga) {
    struct Case {
        const char* legend;
        std::string line;
        bool fix;
    };
    const Case cases[] = {
        {.legend = "GPGGA, quality 1", .line = kGga, .fix = true},
        {.legend = "GNGGA, quality 2",
         .line = sentence("GNGGA,092750.000,5321.6802,N,00630.3372,W,2,08,1.03,61.7,M,55.2,M,,"),
         .fix = true},
        {.legend = "quality 0",
         .line = "$GNGGA,092750.000,5321.6802,N,00630.3372,W,0,00,,,M,,M,,*4F",
         .fix = false},
        {.legend = "quality empty", .line = sentence("GPGGA,,,,,,,00,,,M,,M,,"), .fix = false},
        {.legend = "quality the last field", .line = sentence("GPGGA,1,2,N,3,E,6"), .fix = true},
        {.legend = "quality not a number",
         .line = sentence("GPGGA,123519,4807.038,N,01131.000,E,X,08"),
         .fix = false},
        {.legend = "cut before the quality field",
         .line = sentence("GPGGA,123519,4807.038,N,01131.000,E"),
         .fix = false},
        {.legend = "a wrong checksum",
         .line = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46",
         .fix = false},
        {.legend = "not a GGA",
         .line = sentence("GPGSA,123519,4807.038,N,01131.000,E,1,08"),
         .fix = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string stream = c.line + kCrLf;
        gps::Splitter splitter;
        const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
        gps::Piece piece;
        ASSERT_TRUE(gps::splitter_next(&splitter, &data, data + stream.size(), &piece));
        EXPECT_EQ(gps::reports_fix(piece), c.fix);
    }
}

}  // namespace
