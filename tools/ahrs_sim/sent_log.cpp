// The sent log.

#include "sent_log.hpp"

#include <cerrno>
#include <cstring>

namespace ahrs_sim {
namespace {

constexpr int64_t kNsPerUs = 1000;

}  // namespace

bool open_sent_log(SentLog* log, const std::string& path, int64_t start_ns, std::string* error) {
    log->file = std::fopen(path.c_str(), "w");
    if (log->file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    log->start_ns = start_ns;
    return true;
}

void log_sent(SentLog* log, const SentPacket& packet, bool heard) {
    if (log->file == nullptr) {
        return;
    }
    std::fprintf(log->file, "%llu %u %lld %s", static_cast<unsigned long long>(packet.index),
                 static_cast<unsigned>(packet.tail_word),
                 static_cast<long long>((packet.start_ns - log->start_ns) / kNsPerUs),
                 heard ? "sent" : "unheard");
    const struct {
        const char* name;
        uint32_t count;
    } faults[] = {{"dropped", packet.dropped},
                  {"inserted", packet.inserted},
                  {"corrupted", packet.corrupted}};
    for (const auto& fault : faults) {
        if (fault.count > 0) {
            std::fprintf(log->file, " %s %u", fault.name, static_cast<unsigned>(fault.count));
        }
    }
    std::fputs(packet.bad_checksum ? " checksum\n" : "\n", log->file);
    log->unflushed = true;
}

void flush_sent_log(SentLog* log) {
    if (log->file != nullptr && log->unflushed) {
        std::fflush(log->file);
        log->unflushed = false;
    }
}

void close_sent_log(SentLog* log) {
    if (log->file != nullptr) {
        std::fclose(log->file);
        log->file = nullptr;
    }
}

}  // namespace ahrs_sim
