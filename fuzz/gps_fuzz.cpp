// Fuzz target: the GPS receiver's stream on any bytes, cut into reads of random sizes, through the
// sentence splitter and the GPS file's writer, with holds begun and ended between reads. Besides
// what the sanitizers catch: every byte of the input is in exactly one piece, in order; each
// piece's kind is what a plain reading of the sentence rules gives (so a valid piece is really
// valid); every line of the file is the line of its piece, or a #lost line standing for the
// pieces a full hold buffer could not keep; and the counts agree with the pieces.
//
// Input: bytes 0 and 1 seed the read sizes and the holds; byte 2 picks the hold buffer's size
// (bits 0-1) and whether holds happen (bit 2); the rest is the stream.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gps/log.hpp"
#include "gps/sentence.hpp"
#include "scratch_file.hpp"

namespace {

constexpr size_t kHeaderBytes = 3;
constexpr size_t kHoldSizes[] = {0, 256, 2048, 65536};
constexpr double kReadInterval = 0.0137;  // seconds between reads: times with many digits

struct Taken {
    gps::PieceKind kind;
    std::string bytes;
    uint32_t text_size;
    double seconds;
    bool fix;
};

bool is_start(char c) {
    return c == '$' || c == '!';
}

int hex_value(char c) {
    const char* digits = "0123456789ABCDEF0123456789abcdef";
    const char* at = c != '\0' ? std::strchr(digits, c) : nullptr;
    return at == nullptr ? -1 : static_cast<int>(at - digits) % 16;
}

// The kind a sentence that reached its line end has, read straight from the rules.
gps::PieceKind kind_of_sentence(const std::string& text) {
    const size_t n = text.size();
    if (n < 4 || text[n - 3] != '*' || hex_value(text[n - 2]) < 0 || hex_value(text[n - 1]) < 0) {
        return gps::PieceKind::kNoChecksum;
    }
    bool printable = true;
    for (size_t i = 1; i + 3 < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        printable = printable && c >= 0x20 && c <= 0x7E;
    }
    const unsigned written =
        static_cast<unsigned>(hex_value(text[n - 2]) * 16 + hex_value(text[n - 1]));
    const unsigned sum = gps::nmea_checksum(std::string_view(text).substr(1, n - 4));
    return printable && sum == written ? gps::PieceKind::kSentence : gps::PieceKind::kBadChecksum;
}

// The characters of a sentence held before its end, a last CR that may be the line end aside.
size_t characters(const std::string& bytes) {
    return bytes.size() - (!bytes.empty() && bytes.back() == '\r' ? 1 : 0);
}

void check_pieces(const std::vector<Taken>& pieces) {
    using gps::PieceKind;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Taken& p = pieces[i];
        const std::string& b = p.bytes;
        fuzz::check(!b.empty() && b.size() <= gps::kMaxPieceLength);
        for (size_t j = 0; j < b.size(); ++j) {
            fuzz::check(j == 0 || !is_start(b[j]));
            fuzz::check(j + 1 == b.size() || b[j] != '\n');
        }
        const bool ends_line = b.back() == '\n';
        const size_t line_end = !ends_line ? 0 : b.size() >= 2 && b[b.size() - 2] == '\r' ? 2 : 1;
        fuzz::check(p.text_size == b.size() - line_end);
        const std::string text = b.substr(0, p.text_size);
        // A piece that has no line end ends at a start character, at the end of the stream, or
        // is cut at the most a piece holds.
        const bool cut = !ends_line && b.size() == gps::kMaxPieceLength;
        fuzz::check(ends_line || cut || i + 1 == pieces.size() || is_start(pieces[i + 1].bytes[0]));
        // Whether this piece goes on from a piece of the same kind cut at the most a piece holds.
        const Taken* before = i > 0 ? &pieces[i - 1] : nullptr;
        const bool goes_on = before != nullptr && before->kind == p.kind &&
                             before->bytes.size() == gps::kMaxPieceLength &&
                             before->bytes.back() != '\n' && !is_start(b[0]);
        switch (p.kind) {
            case PieceKind::kNotNmea:
                fuzz::check(!is_start(b[0]));
                fuzz::check(before == nullptr || before->bytes.back() == '\n' || goes_on);
                break;
            case PieceKind::kSentence:
            case PieceKind::kBadChecksum:
            case PieceKind::kNoChecksum:
                fuzz::check(is_start(b[0]) && ends_line);
                fuzz::check(text.size() <= gps::kMaxSentenceLength);
                fuzz::check(p.kind == kind_of_sentence(text));
                break;
            case PieceKind::kNoEnd:
                fuzz::check(is_start(b[0]) && !ends_line && !cut);
                fuzz::check(characters(b) <= gps::kMaxSentenceLength);
                break;
            case PieceKind::kTooLong:
                fuzz::check(goes_on ||
                            (is_start(b[0]) &&
                             (ends_line ? text.size() : characters(b)) > gps::kMaxSentenceLength));
                break;
        }
        fuzz::check(!p.fix || p.kind == PieceKind::kSentence);
    }
}

std::string time_of(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", seconds);
    return text;
}

// The line of a piece, written out plainly.
std::string line_of(const Taken& p) {
    if (p.kind == gps::PieceKind::kSentence) {
        return time_of(p.seconds) + " " + p.bytes.substr(0, p.text_size);
    }
    std::string line = time_of(p.seconds) + " #" + gps::reason_word(p.kind) + " ";
    for (const char c : p.bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || byte == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

// Walks the file's lines along the pieces: each line is its piece's, or "<time> #lost <n>"
// standing for the n pieces before the next line. Returns the pieces the #lost lines stand for.
uint32_t check_lines(const std::string& file, const std::vector<Taken>& pieces, uint32_t lines) {
    fuzz::check(file.empty() || file.back() == '\n');
    size_t next = 0;
    uint32_t lost = 0;
    uint32_t count = 0;
    for (size_t at = 0; at < file.size();) {
        const size_t end = file.find('\n', at);
        const std::string line = file.substr(at, end - at);
        at = end + 1;
        ++count;
        const size_t mark = line.find(" #lost ");
        if (mark != std::string::npos && line.find(' ') == mark) {
            const std::string number = line.substr(mark + 7);
            fuzz::check(!number.empty() &&
                        number.find_first_not_of("0123456789") == std::string::npos);
            const auto n = static_cast<uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
            fuzz::check(n > 0 && next + n <= pieces.size());
            next += n;
            lost += n;
            continue;
        }
        fuzz::check(next < pieces.size());
        fuzz::check(line == line_of(pieces[next]));
        ++next;
    }
    fuzz::check(next == pieces.size());
    fuzz::check(count == lines);
    return lost;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes) {
        return 0;
    }
    std::minstd_rand random(static_cast<uint32_t>(data[0] << 8 | data[1]) + 1u);
    const size_t hold_size = kHoldSizes[data[2] & 3u];
    const bool holds = (data[2] & 4u) != 0;
    const uint8_t* stream = data + kHeaderBytes;
    const size_t stream_size = size - kHeaderBytes;

    char* text = nullptr;
    size_t text_length = 0;
    FILE* file = open_memstream(&text, &text_length);
    fuzz::check(file != nullptr);
    gps::Log log;
    fuzz::check(gps::log_start(&log, file, hold_size));
    gps::Splitter splitter;

    std::vector<Taken> pieces;
    gps::Piece piece;
    double seconds = 0.0;
    const auto take = [&] {
        pieces.push_back({piece.kind,
                          std::string(reinterpret_cast<const char*>(piece.bytes), piece.size),
                          piece.text_size, seconds, gps::reports_fix(piece)});
        fuzz::check(gps::log_piece(&log, piece, seconds));
    };
    const uint8_t* at = stream;
    const uint8_t* const end = stream + stream_size;
    while (at < end) {
        const size_t left = static_cast<size_t>(end - at);
        const size_t count = std::min(left, size_t{1 + random() % 300});
        const uint8_t* const read_end = at + count;
        while (gps::splitter_next(&splitter, &at, read_end, &piece)) {
            take();
        }
        fuzz::check(at == read_end);
        if (holds && random() % 4 == 0) {
            if (log.held) {
                fuzz::check(gps::log_release(&log, seconds));
            } else {
                gps::log_hold(&log);
            }
        }
        seconds += kReadInterval;
    }
    if (gps::splitter_finish(&splitter, &piece)) {
        take();
    }
    fuzz::check(!gps::splitter_finish(&splitter, &piece));
    fuzz::check(gps::log_release(&log, seconds));
    fuzz::check(gps::log_flush(&log));
    std::fclose(file);

    std::string joined;
    uint32_t invalid = 0;
    uint32_t fixes = 0;
    for (const Taken& p : pieces) {
        joined += p.bytes;
        invalid += p.kind != gps::PieceKind::kSentence ? 1 : 0;
        fixes += p.fix ? 1 : 0;
    }
    fuzz::check(joined == std::string(reinterpret_cast<const char*>(stream), stream_size));
    check_pieces(pieces);
    fuzz::check(log.sentences == pieces.size());
    fuzz::check(log.invalid == invalid);
    fuzz::check(log.fixes == fixes);
    fuzz::check(log.lines_on_disk == log.lines_written);
    fuzz::check(!log.failed && log.error == 0);
    const uint32_t lost = check_lines(std::string(text, text_length), pieces, log.lines_written);
    fuzz::check(lost == log.lost);
    std::free(text);
    return 0;
}
