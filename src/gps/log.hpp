#pragma once
// The GPS file: one line per piece of the receiver's stream, the counts of sentences, invalid
// pieces and fixes, every write checked, and the hold that keeps lines in memory while nothing
// may be written to disk.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "format/fixed.hpp"
#include "gps/sentence.hpp"

namespace gps {

// Room of the hold buffer. A hold spans the laser phase: the motor's start, the 5 s wait for the
// mirror, at most 200 lines, the save. At 9600 baud a receiver sends at most 960 bytes a second,
// and a line adds about 12 characters of time to a sentence of about 70, so 1 MiB keeps about
// 15 minutes of sentences (4 minutes of garbage, whose bytes are escaped).
constexpr size_t kHoldCapacity = size_t{1} << 20;

// The longest line: the time, " #", the longest reason word, a blank, every byte of the longest
// piece escaped ("\xHH"), the line feed.
constexpr size_t kMaxLineLength =
    format::kMaxFixedLength + 2 + sizeof "no-checksum" - 1 + 1 + 4 * kMaxPieceLength + 1;

// The GPS file's writer. Read the counts and the state; change them only through the functions
// below.
struct Log {
    FILE* file = nullptr;        // opened binary ("wb"): every line ends in LF alone
    uint32_t sentences = 0;      // every piece received
    uint32_t invalid = 0;        // every piece that is not a valid sentence
    uint32_t fixes = 0;          // valid GGA sentences with a fix (reports_fix)
    uint32_t lost = 0;           // pieces a full hold buffer had no room for
    uint32_t lines_written = 0;  // lines handed to the stream
    uint32_t lines_on_disk = 0;  // lines the last completed flush put on the storage device
    bool failed = false;         // a write or flush failed; nothing more is written
    int error = 0;               // errno of the first failure, 0 while none
    bool held = false;           // lines go to the hold buffer, not to the file
    // The hold buffer, allocated once by log_start.
    std::unique_ptr<char[]> hold;
    size_t hold_capacity = 0;
    size_t hold_used = 0;
    uint32_t held_lines = 0;    // lines in the hold buffer
    uint32_t lost_in_hold = 0;  // pieces the current hold lost
};

// Starts the GPS file's writer on file, open for binary writing, with a hold buffer of
// hold_capacity bytes. Returns false when the buffer cannot be allocated: the writer then works
// without one, and every piece received while held is lost (and counted).
[[nodiscard]] bool log_start(Log* log, FILE* file, size_t hold_capacity = kHoldCapacity);

// Writes the line of one piece at out (room for kMaxLineLength) and returns its length:
// - a valid sentence: "<seconds> <sentence>\n", the sentence without its line end;
// - any other piece: "<seconds> #<reason> <bytes>\n", with every byte of the piece, line end
//   included, and each byte outside 0x20 to 0x7E, and '\', written as "\xHH" (upper-case hex).
// seconds is written as "%f" does (six decimals).
size_t format_line(const Piece& piece, double seconds, char* out);

// Counts the piece and writes its line (format_line) to the file, or to the hold buffer while
// held: there, once a line finds no room, it and every later piece of the hold are counted as
// lost. Returns false when the file has failed, by this write or an earlier one (error tells
// why); the pieces are still counted.
[[nodiscard]] bool log_piece(Log* log, const Piece& piece, double seconds);

// From now on lines gather in the hold buffer; nothing is written to the file.
void log_hold(Log* log);

// Ends the hold: writes the held lines in the order received, then, when pieces were lost, the
// line "<seconds> #lost <n>\n" with the number lost (seconds: the time of the release). Returns
// false when the file has failed, by these writes or earlier ones. Without a hold it writes
// nothing and returns whether the file is still sound.
[[nodiscard]] bool log_release(Log* log, double seconds);

// Flushes the lines handed to the stream into the file and writes them out to the storage device
// (platform::flush_to_device), when there are any since the last flush. Returns true when they
// are all on the device (lines_on_disk is then lines_written), false when the file has failed, by
// this flush or earlier.
[[nodiscard]] bool log_flush(Log* log);

}  // namespace gps
