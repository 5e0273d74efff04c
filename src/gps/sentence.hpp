#pragma once
// The sentence splitter: cuts the bytes received from the GPS receiver into pieces (NMEA 0183
// sentences, checked, and the bytes around them), fed any number of bytes at a time; the words
// of the reasons, and whether a sentence reports a fix.

#include <cstdint>
#include <string_view>

namespace gps {

// The checksum of a sentence's body, the characters between its start character and '*': their
// exclusive or. A sentence carries it as "*HH", two hexadecimal digits.
uint8_t nmea_checksum(std::string_view body);

// Characters a sentence may have before its line end, the start character included. NMEA 0183
// allows 82 with the CR LF (80 before it); proprietary "$P..." sentences of some receivers run
// longer, so the splitter takes up to half as much again before it calls a sentence too long.
constexpr uint32_t kMaxSentenceLength = 120;

// The most bytes one piece holds. A longer stretch of garbage, or of a sentence already too long,
// is cut into several pieces of this size, which bounds the splitter's memory and the GPS file's
// longest line (about 1 KiB, at 4 characters per escaped byte). A sentence of the longest length
// with its CR LF (122 bytes) fits with room to spare.
constexpr uint32_t kMaxPieceLength = 256;

enum class PieceKind : uint8_t {
    kSentence,     // a valid sentence
    kBadChecksum,  // ends in *HH, but the checksum is wrong or a character is not printable
    kNoChecksum,   // ended without *HH
    kTooLong,      // more than kMaxSentenceLength characters before its end
    kNoEnd,        // cut short by a start character or by the end of the stream
    kNotNmea,      // bytes outside any sentence
};

// One piece of the stream, in the order received.
struct Piece {
    PieceKind kind;
    const uint8_t* bytes;  // every byte of the stream in the piece, line end included
    uint32_t size;         // 1 to kMaxPieceLength
    uint32_t text_size;    // the bytes before the line end (CR LF or LF); size when it has none
};

// What the splitter holds between calls: the piece being gathered.
struct Splitter {
    enum State : uint8_t { kOutside, kInSentence, kInTooLong } state = kOutside;
    bool handed_out = false;  // bytes[0, size) are the piece the last call handed out
    uint32_t size = 0;        // bytes held
    uint8_t bytes[kMaxPieceLength];
};

// Empties the splitter for a new stream; a fresh Splitter is already empty.
void splitter_reset(Splitter* splitter);

// Takes bytes from [*data, end) until a piece is complete: returns true with *piece set and
// *data just after the piece's last byte (a start character that ends a piece is left for the
// next call), or false with *data == end when every byte is taken and the piece they belong to
// goes on. Call it again with the rest until it returns false. The pieces, and their order, do
// not depend on how the stream is cut into calls. piece->bytes points into the splitter and
// stays valid until the next call.
//
// The pieces:
// - a sentence: '$' or '!', the characters up to "*HH" (two hex digits of either case, the XOR of
//   the characters between the start character and '*'), a line end (CR LF, or LF alone; a CR
//   followed by anything else is a character of the sentence). It is valid when the checksum
//   matches and every character is printable ASCII (0x20 to 0x7E): no checksum makes a sentence
//   with a control character valid, and the GPS file writes valid sentences as they are.
// - a sentence that grows past kMaxSentenceLength characters is kTooLong, together with the bytes
//   after it up to the next start character or line end.
// - a sentence that a start character cuts short is kNoEnd.
// - bytes outside a sentence are kNotNmea, up to the next start character or line end.
bool splitter_next(Splitter* splitter, const uint8_t** data, const uint8_t* end, Piece* piece);

// At the end of the stream: returns true with *piece set to the bytes still held (a sentence
// without its end is kNoEnd), or false when none are held. Empties the splitter in both cases.
bool splitter_finish(Splitter* splitter, Piece* piece);

// The word the GPS file gives the kind: "checksum", "no-checksum", "too-long", "no-end",
// "not-nmea"; "" for a valid sentence, which has no reason.
const char* reason_word(PieceKind kind);

// True when the piece is a valid GGA sentence of any talker ("$GPGGA", "$GNGGA", ...) whose fix
// quality, the sixth field after the sentence name, is a number above 0; false for any other
// piece and for an empty or non-numeric quality field.
bool reports_fix(const Piece& piece);

}  // namespace gps
