#pragma once
// The sent log's line for a sentence, telling tests exactly what the receiver put on the line.

#include <cstdint>
#include <string>

#include "sim_common/log_file.hpp"

namespace gps_sim {

// What one sentence was like when it went on the line.
struct SentSentence {
    uint64_t index = 0;         // K: the sentences before it
    int64_t start_ns = 0;       // when its '$' starts on the line
    uint32_t garbage = 0;       // random bytes sent just before it
    bool bad_checksum = false;  // its "*HH" is wrong
    std::string text;           // as sent, from '$' to the checksum, without CR LF
};

// Writes the sentence's line: "K MICROSECONDS sent|unheard FAULTS SENTENCE", FAULTS "none" or
// a comma-separated list of "garbage=N" and "checksum". heard is false when nobody held the
// line open, so the sentence went nowhere. Nothing without a log file.
void log_sent(sim_common::LogFile* log, const SentSentence& sentence, bool heard);

}  // namespace gps_sim
