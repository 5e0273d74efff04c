// A simulator's sent log as a file.

#include "log_file.hpp"

#include <cerrno>
#include <cstring>

#include "clock.hpp"

namespace sim_common {

bool open_log_file(LogFile* log, const std::string& path, std::string* error) {
    log->file = std::fopen(path.c_str(), "w");
    if (log->file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int64_t log_microseconds(int64_t time_ns) {
    return time_ns / kNsPerUs;
}

void flush_log_file(LogFile* log) {
    if (log->file != nullptr && log->unflushed) {
        std::fflush(log->file);
        log->unflushed = false;
    }
}

void close_log_file(LogFile* log) {
    if (log->file != nullptr) {
        std::fclose(log->file);
        log->file = nullptr;
    }
}

}  // namespace sim_common
