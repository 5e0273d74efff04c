#pragma once
// The simulated unit: its command handling, packet output at the chosen rate, the line's
// byte pacing and the injected faults.

#include <cstdint>
#include <random>
#include <vector>

#include "motion.hpp"
#include "options.hpp"

namespace ahrs_sim {

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

    // The transmitter: bytes waiting to go on the line, paced at 10 bits per byte.
    std::vector<uint8_t> queue;
    size_t queue_head = 0;
    int64_t byte_ns = 0;         // time of one byte on the line; 0 = unpaced
    int64_t next_byte_ns = 0;    // when the byte at queue_head has been sent in full
    int64_t last_write_ns = 0;   // when bytes were last handed to the device
    bool write_blocked = false;  // the device takes no more bytes for now
};

void init_unit(Unit* unit, const SimOptions* options, int64_t now);

// Acts on one received byte: 'P' stops the output (a packet on its way finishes), 'a', 'c' and
// 'r' select the mode and are acknowledged in upper case, 'G' sends one packet, 'C' starts the
// output. Other bytes are ignored. While silent, nothing is sent in answer.
void receive_command(Unit* unit, uint8_t byte, int64_t now);

// Queues the next streamed packet when it is due and the line is free; returns true when it
// did. Ends a silence whose time is over.
bool produce(Unit* unit, int64_t now);

// Starts a silence whose turn has come (its packet count reached, the line idle). Returns the
// milliseconds of a hang-up whose turn has come (0 = for good), or -1 for none.
int64_t start_due_faults(Unit* unit, int64_t now);

// Writes the bytes whose time on the line has come to fd. Returns false when the device failed
// (the other end is gone); the queue is then discarded.
bool transmit(Unit* unit, int fd, int64_t now);

// Drops everything waiting to be sent: nobody is listening.
void discard_output(Unit* unit);

// The earliest time at which the unit has something to do, or INT64_MAX.
int64_t next_deadline(const Unit& unit, int64_t now);

inline bool output_pending(const Unit& unit) {
    return unit.queue_head < unit.queue.size();
}

}  // namespace ahrs_sim
