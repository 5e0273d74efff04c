#pragma once
// The sent log's line for a streamed packet, telling tests and benchmarks exactly what the unit
// put on the line.

#include "sim_common/log_file.hpp"
#include "unit.hpp"

namespace ahrs_sim {

// Writes the packet's line: "K TAIL_WORD MICROSECONDS sent|unheard", then " dropped N",
// " inserted N", " corrupted N" and " checksum" for the faults it carries. heard is false when
// nobody held the line open, so the packet went nowhere. Nothing without a log.
void log_sent(sim_common::LogFile* log, const SentPacket& packet, bool heard);

}  // namespace ahrs_sim
