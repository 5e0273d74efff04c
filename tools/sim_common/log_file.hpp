#pragma once
// A simulator's sent log as a file: created afresh, written line by line, and handed to the
// file once per wake-up, so a reader sees every line within a few milliseconds at little cost.

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim_common {

struct LogFile {
    std::FILE* file = nullptr;  // null: no log
    int64_t start_ns = 0;       // the simulator's start, time 0 of the log's lines
    bool unflushed = false;     // lines written since the last flush
};

// Creates (or empties) the log at path. Returns true on success; otherwise false with the reason
// in *error.
bool open_log_file(LogFile* log, const std::string& path, int64_t start_ns, std::string* error);

// Microseconds from the log's time 0 to time_ns.
int64_t log_microseconds(const LogFile& log, int64_t time_ns);

// Hands the lines written since the last call to the file.
void flush_log_file(LogFile* log);

void close_log_file(LogFile* log);

}  // namespace sim_common
