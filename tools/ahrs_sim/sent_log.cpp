// The sent log's line for a streamed packet.

#include "sent_log.hpp"

namespace ahrs_sim {

void log_sent(sim_common::LogFile* log, const SentPacket& packet, bool heard) {
    if (log->file == nullptr) {
        return;
    }
    std::fprintf(log->file, "%llu %u %lld %s", static_cast<unsigned long long>(packet.index),
                 static_cast<unsigned>(packet.tail_word),
                 static_cast<long long>(sim_common::log_microseconds(packet.start_ns)),
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

}  // namespace ahrs_sim
