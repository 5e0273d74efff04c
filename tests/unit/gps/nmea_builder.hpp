#pragma once
// Builds NMEA sentences for the tests, with their checksum filled in, and runs a stream through
// the splitter in pieces of a chosen size, or through the splitter into the GPS file's writer.

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gps/log.hpp"
#include "gps/sentence.hpp"

namespace gps_test {

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

// The pieces of the stream, fed to a fresh splitter in calls of `split` bytes (0: random sizes
// from 1 to 40), then finished.
inline std::vector<Split> split_stream(const std::string& stream, size_t split, unsigned seed = 1) {
    gps::Splitter splitter;
    std::mt19937 random(seed);
    std::vector<Split> pieces;
    gps::Piece piece;
    const auto take = [&] {
        const auto* bytes = reinterpret_cast<const char*>(piece.bytes);
        pieces.push_back({piece.kind, std::string(bytes, piece.text_size),
                          std::string(bytes + piece.text_size, piece.size - piece.text_size)});
    };
    const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
    const uint8_t* const end = data + stream.size();
    while (data < end) {
        const size_t left = static_cast<size_t>(end - data);
        size_t count = split != 0 ? split : 1 + random() % 40;
        count = count < left ? count : left;
        const uint8_t* const call_end = data + count;
        while (gps::splitter_next(&splitter, &data, call_end, &piece)) {
            take();
        }
    }
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
