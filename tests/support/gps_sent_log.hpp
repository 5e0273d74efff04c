#pragma once
// gps-sim's sent log (--sent-log) read back, and NMEA 0183 sentences taken apart: what the
// simulated receiver put on the line, sentence by sentence, for the end-to-end tests.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One line: "K MICROSECONDS sent|unheard FAULTS SENTENCE", FAULTS "none" or a comma-separated
// list of "garbage=N" and "checksum".
struct SentSentence {
    uint64_t index = 0;        // K, the sentences before it
    int64_t microseconds = 0;  // when its '$' went on the line (CLOCK_MONOTONIC)
    bool heard = false;        // false: nobody held the line open
    unsigned garbage = 0;      // random bytes on the line just before it
    bool bad_checksum = false;
    std::string text;  // from '$' to the checksum, without CR LF
};

// The whole lines of a sent log's text, in order (a last line without its line feed is still
// being written and left out); a line that does not parse ends the list.
std::vector<SentSentence> parse_gps_sent_log(const std::string& text);

// The fields of a sentence between '$' and '*' (or its end), split at the commas: "GPGGA" first.
std::vector<std::string> nmea_fields(const std::string& sentence);

// True when the sentence ends in "*HH", the exclusive or of the characters between '$' and '*'
// in two upper-case hexadecimal digits.
bool nmea_checksum_ok(const std::string& sentence);

}  // namespace testsupport
