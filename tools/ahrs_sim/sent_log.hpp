#pragma once
// The sent log: one line per streamed packet, telling tests and benchmarks exactly what the unit
// put on the line.

#include <cstdint>
#include <cstdio>
#include <string>

#include "unit.hpp"

namespace ahrs_sim {

// Lines are buffered and handed to the file once per wake-up of the unit, so a reader sees
// every packet the unit has sent so far within a few milliseconds, at little cost.
struct SentLog {
    std::FILE* file = nullptr;  // null: no log
    int64_t start_ns = 0;       // the unit's start, time 0 of the log
    bool unflushed = false;
};

// Creates (or empties) the log at path. Returns true on success; otherwise false with the reason
// in *error.
bool open_sent_log(SentLog* log, const std::string& path, int64_t start_ns, std::string* error);

// Writes the packet's line: "K TAIL_WORD MICROSECONDS sent|unheard", then " dropped N",
// " inserted N", " corrupted N" and " checksum" for the faults it carries. heard is false when
// nobody held the line open, so the packet went nowhere.
void log_sent(SentLog* log, const SentPacket& packet, bool heard);

// Hands the lines written since the last call to the file.
void flush_sent_log(SentLog* log);

void close_sent_log(SentLog* log);

}  // namespace ahrs_sim
