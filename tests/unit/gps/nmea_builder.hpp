#pragma once
// NMEA sentences for the tests, built with their checksum filled in, the GPS file's lines, and a
// stream run through the splitter in pieces of a chosen size, or into the GPS file's writer.

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gps/log.hpp"
#include "gps/sentence.hpp"
#include "stream_split.hpp"

namespace gps_test {

// Sentences as receivers send them, checksums as sent, without their line end.
inline const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
inline const std::string kRmc =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
inline const std::string kGsa = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39";
inline const std::string kGsv =
    "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75";

// The line the GPS file holds for a piece: the time as "%f" writes it, a blank, the rest, LF.
inline std::string file_line(double seconds, const std::string& rest) {
    char time[64];
    std::snprintf(time, sizeof time, "%f ", seconds);
    return time + rest + "\n";
}

// start + body + "*HH": the checksum is the XOR of the body's characters, in upper-case hex.
inline std::string sentence(const std::string& body, char start = '$') {
    char checksum[4];
    std::snprintf(checksum, sizeof checksum, "*%02X", gps::nmea_checksum(body));
    return start + body + checksum;
}

struct Split {
    gps::PieceKind kind;
    std::string text;  // the piece's bytes before its line end
    std::string end;   // its line end: "\r\n", "\n" or ""

    bool operator==(const Split&) const = default;
};

inline void PrintTo(const Split& s, std::ostream* os) {
    *os << "{" << (s.kind == gps::PieceKind::kSentence ? "sentence" : gps::reason_word(s.kind))
        << " " << testing::PrintToString(s.text) << " " << testing::PrintToString(s.end) << "}";
}

// The pieces of the stream, fed to a fresh splitter in the pieces of split, then finished.
inline std::vector<Split> split_stream(const std::string& stream,
                                       const testsupport::StreamSplit& split) {
    gps::Splitter splitter;
    std::vector<Split> pieces;
    gps::Piece piece;
    const auto take = [&] {
        const auto* bytes = reinterpret_cast<const char*>(piece.bytes);
        pieces.push_back({piece.kind, std::string(bytes, piece.text_size),
                          std::string(bytes + piece.text_size, piece.size - piece.text_size)});
    };
    const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
    testsupport::feed(data, stream.size(), split, [&](const uint8_t* call, size_t count) {
        const uint8_t* const call_end = call + count;
        while (gps::splitter_next(&splitter, &call, call_end, &piece)) {
            take();
        }
        return count;
    });
    if (gps::splitter_finish(&splitter, &piece)) {
        take();
    }
    return pieces;
}

// Splits the stream and logs each piece at `seconds`; true when log_piece took every line.
inline bool log_stream(gps::Log* log, const std::string& stream, double seconds) {
    gps::Splitter splitter;
    const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
    const uint8_t* const end = data + stream.size();
    gps::Piece piece;
    bool ok = true;
    while (gps::splitter_next(&splitter, &data, end, &piece)) {
        ok = gps::log_piece(log, piece, seconds) && ok;
    }
    if (gps::splitter_finish(&splitter, &piece)) {
        ok = gps::log_piece(log, piece, seconds) && ok;
    }
    return ok;
}

}  // namespace gps_test
