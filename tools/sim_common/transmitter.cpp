// The transmitter.

#include "transmitter.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "clock.hpp"

namespace sim_common {
namespace {

constexpr int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// While bytes flow the transmitter wakes at most about every 2 ms and then writes every byte
// whose time has come: about 8 bytes per write at 38400 baud, 6 AHRS packets at 921600, well
// inside a logger's 5 ms read wait, and little CPU. The first byte after a pause goes out on
// time, so an answer is not delayed.
constexpr int64_t kPacingSliceNs = 2 * kNsPerMs;

// The queue offset up to which bytes have finished their time on the line by now.
size_t bytes_due(const Transmitter& tx, int64_t now) {
    if (tx.byte_ns == 0) {
        return tx.queue.size();
    }
    size_t due = 0;
    for (size_t i = 0; i < tx.segments.size(); ++i) {
        const LineSegment& segment = tx.segments[i];
        const size_t end = i + 1 < tx.segments.size() ? tx.segments[i + 1].begin : tx.queue.size();
        const int64_t finished = now < segment.start_ns ? 0 : (now - segment.start_ns) / tx.byte_ns;
        due = std::min(end, segment.begin + static_cast<size_t>(finished));
        if (due < end) {
            break;
        }
    }
    return due;
}

// Removes the first count bytes, which the device has taken, from the queue and its segments.
void take_from_queue(Transmitter* tx, size_t count) {
    std::vector<LineSegment>& segments = tx->segments;
    size_t gone = 0;
    while (gone < segments.size()) {
        const size_t end = gone + 1 < segments.size() ? segments[gone + 1].begin : tx->queue.size();
        if (end > count) {
            break;
        }
        ++gone;
    }
    segments.erase(segments.begin(), segments.begin() + static_cast<std::ptrdiff_t>(gone));
    if (!segments.empty() && segments.front().begin < count) {
        segments.front().start_ns +=
            static_cast<int64_t>(count - segments.front().begin) * tx->byte_ns;
        segments.front().begin = count;
    }
    for (LineSegment& segment : segments) {
        segment.begin -= count;
    }
    tx->queue.erase(tx->queue.begin(), tx->queue.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace

void init_transmitter(Transmitter* tx, uint32_t baud, int64_t now) {
    *tx = Transmitter{};
    tx->byte_ns = baud == 0 ? 0 : kBitsPerByte * kNsPerSecond / baud;
    tx->line_free_ns = now;
}

void enqueue(Transmitter* tx, const uint8_t* bytes, size_t count, int64_t start) {
    if (count == 0) {
        return;
    }
    start = std::max(start, tx->line_free_ns);
    if (tx->queue.empty() || start > tx->line_free_ns) {
        tx->segments.push_back(LineSegment{tx->queue.size(), start});
    }
    tx->queue.insert(tx->queue.end(), bytes, bytes + count);
    tx->line_free_ns = start + static_cast<int64_t>(count) * tx->byte_ns;
}

bool transmit(Transmitter* tx, int fd, int64_t now) {
    tx->write_blocked = false;
    const size_t due = bytes_due(*tx, now);
    if (due == 0) {
        return true;
    }
    ssize_t written;
    do {
        written = write(fd, tx->queue.data(), due);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            tx->write_blocked = true;
            return true;
        }
        discard_output(tx);
        return false;
    }
    tx->last_write_ns = now;
    take_from_queue(tx, static_cast<size_t>(written));
    // Bytes the device did not take go as soon as it takes them again.
    tx->write_blocked = static_cast<size_t>(written) < due;
    return true;
}

void discard_output(Transmitter* tx) {
    tx->queue.clear();
    tx->segments.clear();
    tx->write_blocked = false;
}

int64_t transmit_deadline(const Transmitter& tx, int64_t now) {
    if (tx.write_blocked || tx.segments.empty()) {
        return INT64_MAX;
    }
    if (tx.byte_ns == 0) {
        return now;
    }
    const int64_t first_byte_done = tx.segments.front().start_ns + tx.byte_ns;
    return std::max(first_byte_done, tx.last_write_ns + kPacingSliceNs);
}

}  // namespace sim_common
