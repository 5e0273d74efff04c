#pragma once
// A simulator's sent log as a file: created afresh, written line by line, and handed to the
// file once per wake-up, so a reader sees every line within a few milliseconds at little cost.

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim_common {

struct LogFile {
    std::FILE* file = nullptr;  // null: no log
    bool unflushed = false;     // lines written since the last flush
};

// Creates (or empties) the log at path. Returns true on success; otherwise false with the reason
// in *error.
bool open_log_file(LogFile* log, const std::string& path, std::string* error);

// The log's time of time_ns: microseconds of CLOCK_MONOTONIC, the machine's clock since it
// started, so the logs of two simulators (and a test's own readings) line up.
int64_t log_microseconds(int64_t time_ns);

// Hands the lines written since the last call to the file.
void flush_log_file(LogFile* log);

void close_log_file(LogFile* log);

}  // namespace sim_common
