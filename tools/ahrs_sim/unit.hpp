#pragma once
// The simulated unit: its command handling, packet output at the chosen rate, the line's
// byte pacing and the injected faults.

#include <cstdint>
#include <random>
#include <vector>

#include "motion.hpp"
#include "options.hpp"

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

// Queued bytes that leave the line back to back: the byte at queue offset `begin` starts at
// start_ns, the next one a byte time later, up to the next segment's begin.
struct LineSegment {
    size_t begin;
    int64_t start_ns;
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
    int64_t next_packet_ns = 0;   // when the next streamed packet is due
    int64_t silent_until_ns = 0;  // 0 = not silent
    std::vector<bool> silence_done;
    std::vector<bool> hangup_done;
    std::mt19937_64 fault_random;

    // The transmitter: bytes waiting to go on the line, paced at 10 bits per byte. queue[0] is
    // the next byte to hand to the device; segments (in queue order, the first at offset 0 while
    // bytes wait) tell when each byte's time on the line comes.
    std::vector<uint8_t> queue;
    std::vector<LineSegment> segments;
    int64_t byte_ns = 0;         // time of one byte on the line; 0 = unpaced
    int64_t line_free_ns = 0;    // when the last byte queued has left the line
    int64_t last_write_ns = 0;   // when bytes were last handed to the device
    bool write_blocked = false;  // the device takes no more bytes for now
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

// Starts a silence whose turn has come (its packet count reached, the line idle). Returns the
// milliseconds of a hang-up whose turn has come (0 = for good; the line idle for 100 ms, so the
// logger has read the packets before it), or -1 for none.
int64_t start_due_faults(Unit* unit, int64_t now);

// Writes every byte whose time on the line has come to fd, in one write. Returns false when the
// device failed (the other end is gone); the queue is then discarded.
bool transmit(Unit* unit, int fd, int64_t now);

// Drops everything waiting to be sent: nobody is listening.
void discard_output(Unit* unit);

// The earliest time at which the unit has something to do, or INT64_MAX. A silence or hang-up
// that is due starts once the line is idle (a hang-up 100 ms later), on an open line only.
int64_t next_deadline(const Unit& unit, int64_t now, bool line_open);

inline bool output_pending(const Unit& unit) {
    return !unit.queue.empty();
}

}  // namespace ahrs_sim
