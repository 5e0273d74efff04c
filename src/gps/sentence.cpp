// The sentence splitter, the reasons' words and the fix of a GGA sentence.

#include "gps/sentence.hpp"

#include <cstring>

namespace gps {
namespace {

constexpr uint8_t kCr = '\r';
constexpr uint8_t kLf = '\n';
constexpr uint8_t kChecksumMark = '*';
constexpr uint32_t kChecksumLength = 3;  // "*HH"
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;

bool is_start(uint8_t byte) {
    return byte == '$' || byte == '!';
}

// The value of a hex digit of either case, or -1.
int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The kind of a sentence that reached its line end: text is the sentence without the line end,
// its start character first, at most kMaxSentenceLength characters.
PieceKind check_sentence(const uint8_t* text, uint32_t size) {
    if (size < 1 + kChecksumLength || text[size - kChecksumLength] != kChecksumMark) {
        return PieceKind::kNoChecksum;
    }
    const int high = hex_value(text[size - 2]);
    const int low = hex_value(text[size - 1]);
    if (high < 0 || low < 0) {
        return PieceKind::kNoChecksum;
    }
    const std::string_view body(reinterpret_cast<const char*>(text) + 1,
                                size - 1 - kChecksumLength);
    bool printable = true;
    for (const char c : body) {
        const auto byte = static_cast<uint8_t>(c);
        printable = printable && byte >= kFirstPrintable && byte <= kLastPrintable;
    }
    return printable && nmea_checksum(body) == high * 16 + low ? PieceKind::kSentence
                                                               : PieceKind::kBadChecksum;
}

// Hands out the bytes held as a piece of this kind; the next call starts a new piece.
bool hand_out(Splitter* s, PieceKind kind, Piece* piece) {
    uint32_t text_size = s->size;
    if (text_size > 0 && s->bytes[text_size - 1] == kLf) {
        --text_size;
        if (text_size > 0 && s->bytes[text_size - 1] == kCr) {
            --text_size;
        }
    }
    *piece = Piece{kind, s->bytes, s->size, text_size};
    s->handed_out = true;
    return true;
}

// The kind of the bytes held in this state when a start character or the end of the stream
// comes before their end.
PieceKind cut_short(Splitter::State state) {
    switch (state) {
        case Splitter::kOutside:
            return PieceKind::kNotNmea;
        case Splitter::kInSentence:
            return PieceKind::kNoEnd;
        case Splitter::kInTooLong:
            return PieceKind::kTooLong;
    }
    return PieceKind::kNotNmea;
}

}  // namespace

uint8_t nmea_checksum(std::string_view body) {
    uint8_t sum = 0;
    for (const char c : body) {
        sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(c));
    }
    return sum;
}

void splitter_reset(Splitter* splitter) {
    splitter->state = Splitter::kOutside;
    splitter->handed_out = false;
    splitter->size = 0;
}

bool splitter_next(Splitter* s, const uint8_t** data, const uint8_t* end, Piece* piece) {
    if (s->handed_out) {
        s->handed_out = false;
        s->size = 0;
    }
    while (*data < end) {
        const uint8_t byte = **data;
        if (is_start(byte)) {
            // A start character ends whatever is held and begins a sentence; it stays in the
            // input until the piece before it is handed out.
            const Splitter::State state = s->state;
            s->state = Splitter::kOutside;
            if (s->size > 0) {
                return hand_out(s, cut_short(state), piece);
            }
            s->state = Splitter::kInSentence;
        }
        ++*data;
        s->bytes[s->size++] = byte;
        switch (s->state) {
            case Splitter::kOutside:
                if (byte == kLf || s->size == kMaxPieceLength) {
                    return hand_out(s, PieceKind::kNotNmea, piece);
                }
                break;
            case Splitter::kInSentence:
                if (byte == kLf) {
                    s->state = Splitter::kOutside;
                    const uint32_t line_end = s->size >= 2 && s->bytes[s->size - 2] == kCr ? 2 : 1;
                    return hand_out(s, check_sentence(s->bytes, s->size - line_end), piece);
                }
                // A CR at the end may still turn out to be the line end.
                if (s->size - (byte == kCr ? 1u : 0u) > kMaxSentenceLength) {
                    s->state = Splitter::kInTooLong;
                }
                break;
            case Splitter::kInTooLong:
                if (byte == kLf) {
                    s->state = Splitter::kOutside;
                    return hand_out(s, PieceKind::kTooLong, piece);
                }
                if (s->size == kMaxPieceLength) {
                    return hand_out(s, PieceKind::kTooLong, piece);
                }
                break;
        }
    }
    return false;
}

bool splitter_finish(Splitter* s, Piece* piece) {
    if (s->handed_out) {
        s->handed_out = false;
        s->size = 0;
    }
    const Splitter::State state = s->state;
    s->state = Splitter::kOutside;
    if (s->size == 0) {
        return false;
    }
    // The piece's bytes stay where they are until the next call empties the splitter.
    return hand_out(s, cut_short(state), piece);
}

const char* reason_word(PieceKind kind) {
    // In PieceKind's order.
    static constexpr const char* kWords[] = {"",         "checksum", "no-checksum",
                                             "too-long", "no-end",   "not-nmea"};
    static_assert(sizeof kWords / sizeof kWords[0] == static_cast<size_t>(PieceKind::kNotNmea) + 1);
    const auto index = static_cast<size_t>(kind);
    return index < sizeof kWords / sizeof kWords[0] ? kWords[index] : "";
}

bool reports_fix(const Piece& piece) {
    // "$ttGGA," then the fields; the quality is the sixth: time, latitude, N/S, longitude, E/W.
    constexpr uint32_t kNameEnd = 6;  // where the comma after "$ttGGA" is
    constexpr int kQualityField = 6;
    const auto* text = reinterpret_cast<const char*>(piece.bytes);
    const uint32_t size = piece.text_size;
    if (piece.kind != PieceKind::kSentence || size <= kNameEnd || text[0] != '$' ||
        std::memcmp(text + 3, "GGA,", 4) != 0) {
        return false;
    }
    uint32_t at = kNameEnd;
    for (int field = 0; field < kQualityField; ++field) {
        while (at < size && text[at] != ',') {
            ++at;
        }
        if (at == size) {
            return false;
        }
        ++at;  // past the comma before the field
    }
    bool digits = false;
    bool above_zero = false;
    for (; at < size && text[at] != ',' && text[at] != '*'; ++at) {
        if (text[at] < '0' || text[at] > '9') {
            return false;
        }
        digits = true;
        above_zero = above_zero || text[at] != '0';
    }
    return digits && above_zero;
}

}  // namespace gps
