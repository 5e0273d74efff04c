#pragma once
// ahrs-sim's sent log (--sent-log) read back: what the simulated unit put on the line, packet by
// packet, for the end-to-end tests and the benchmarks.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One line: "K TAIL_WORD MICROSECONDS sent|unheard [dropped N] [inserted N] [corrupted N]
// [checksum]".
struct SentPacket {
    uint64_t index = 0;        // K, the streamed packets before it
    unsigned tail_word = 0;    // as the last field of a gyro record shows it
    int64_t microseconds = 0;  // when it went on the line (CLOCK_MONOTONIC)
    bool heard = false;        // false: nobody held the line open
    unsigned dropped = 0;
    unsigned inserted = 0;
    unsigned corrupted = 0;
    bool bad_checksum = false;

    // True when the packet went on the line whole and valid.
    bool clean() const {
        return heard && dropped == 0 && inserted == 0 && corrupted == 0 && !bad_checksum;
    }
};

// The lines of a sent log's text, in order; a line that does not parse ends the list.
std::vector<SentPacket> parse_sent_log(const std::string& text);

}  // namespace testsupport
