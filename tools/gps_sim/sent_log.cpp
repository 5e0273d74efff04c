// The sent log's line for a sentence.

#include "sent_log.hpp"

#include <cstdio>

namespace gps_sim {

void log_sent(sim_common::LogFile* log, const SentSentence& sentence, bool heard) {
    if (log->file == nullptr) {
        return;
    }
    std::fprintf(log->file, "%llu %lld %s ", static_cast<unsigned long long>(sentence.index),
                 static_cast<long long>(sim_common::log_microseconds(sentence.start_ns)),
                 heard ? "sent" : "unheard");
    if (sentence.garbage > 0) {
        std::fprintf(log->file, "garbage=%u%s", static_cast<unsigned>(sentence.garbage),
                     sentence.bad_checksum ? ",checksum" : "");
    } else {
        std::fputs(sentence.bad_checksum ? "checksum" : "none", log->file);
    }
    std::fprintf(log->file, " %s\n", sentence.text.c_str());
    log->unflushed = true;
}

}  // namespace gps_sim
