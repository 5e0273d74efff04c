#pragma once
// The transmitter: bytes queued to go on the line at their time, paced as a real line of 10
// bits per byte, and handed to the device in one write per wake-up.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim_common {

// Queued bytes that leave the line back to back: the byte at queue offset `begin` starts at
// start_ns, the next one a byte time later, up to the next segment's begin.
struct LineSegment {
    size_t begin;
    int64_t start_ns;
};

// Times are nanoseconds of the monotonic clock. queue[0] is the next byte to hand to the device;
// segments (in queue order, the first at offset 0 while bytes wait) tell when each byte's time
// on the line comes.
struct Transmitter {
    std::vector<uint8_t> queue;
    std::vector<LineSegment> segments;
    int64_t byte_ns = 0;         // time of one byte on the line; 0 = unpaced
    int64_t line_free_ns = 0;    // when the last byte queued has left the line
    int64_t last_write_ns = 0;   // when bytes were last handed to the device
    bool write_blocked = false;  // the device takes no more bytes for now
};

// An idle line of the given baud rate (0: unpaced, bytes go as fast as the device takes them).
void init_transmitter(Transmitter* tx, uint32_t baud, int64_t now);

// Queues bytes that start on the line at start, or once the line has carried the bytes before
// them.
void enqueue(Transmitter* tx, const uint8_t* bytes, size_t count, int64_t start);

// Writes every byte whose time on the line has come to fd, in one write. Returns false when the
// device failed (the other end is gone); the queue is then discarded.
bool transmit(Transmitter* tx, int fd, int64_t now);

// Drops everything waiting to be sent: nobody is listening.
void discard_output(Transmitter* tx);

inline bool output_pending(const Transmitter& tx) {
    return !tx.queue.empty();
}

// While output is pending: when transmit has bytes to write next (INT64_MAX while the device
// takes none: its readiness to write wakes the caller). While bytes flow, wake-ups come about
// every 2 ms, each writing every byte whose time has come.
int64_t transmit_deadline(const Transmitter& tx, int64_t now);

}  // namespace sim_common
