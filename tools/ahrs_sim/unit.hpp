#pragma once
// The simulated unit: its command handling, packet output at the chosen rate and the injected
// faults.

#include <cstdint>
#include <random>

#include "motion.hpp"
#include "options.hpp"
#include "sim_common/line_faults.hpp"
#include "sim_common/transmitter.hpp"

namespace ahrs_sim {

// What one streamed packet was like when it went on the line, for the sent log.
struct SentPacket {
    uint64_t index = 0;  // K: the streamed packets before it
    uint16_t tail_word = 0;
    int64_t start_ns = 0;       // when its first byte starts on the line
    uint32_t dropped = 0;       // bytes left out
    uint32_t inserted = 0;      // extra bytes sent
    uint32_t corrupted = 0;     // bytes with one bit flipped
    bool bad_checksum = false;  // in a bad burst
};

// Times are nanoseconds of the monotonic clock.
struct Unit {
    const SimOptions* options = nullptr;
    MotionModel motion{};
    char mode = 'a';
    bool streaming = false;
    char unacknowledged_mode = 0;  // the last mode letter reported as not acknowledged
    uint64_t packets_sent = 0;   // every packet begun, probes included; TAIL_WORD is this mod 2^16
    uint64_t streamed_sent = 0;  // streamed packets only; the faults count these
    int64_t period_ns = 0;
    int64_t next_packet_ns = 0;     // when the next streamed packet is due
    sim_common::LineFaults faults;  // silences and hang-ups, counted in streamed packets
    std::mt19937_64 fault_random;
    sim_common::Transmitter tx;  // the line, paced at 10 bits per byte
};

void init_unit(Unit* unit, const SimOptions* options, int64_t now);

// Acts on one received byte: 'P' stops the output (the packets on their way finish), 'a', 'c'
// and 'r' select the mode and are acknowledged in upper case, 'G' sends one packet, 'C' starts
// the output. Other bytes are ignored. While silent, nothing is sent in answer.
void receive_command(Unit* unit, uint8_t byte, int64_t now);

// Queues the next streamed packet when its time on the line has begun (it is due and the line
// has carried everything before it), filling *sent; returns true when it did. Call it again
// until it returns false: at high rates several packets fall due between two wake-ups. Queues
// nothing while the device takes no bytes or a silence or hang-up is about to start. Ends a
// silence whose time is over.
bool produce(Unit* unit, int64_t now, SentPacket* sent);

// When the next streamed packet is due on the line; INT64_MAX while not streaming.
int64_t next_packet_due(const Unit& unit);

}  // namespace ahrs_sim
