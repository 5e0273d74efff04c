// The simulated unit.

#include "unit.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

#include "ahrs/packet.hpp"
#include "status.hpp"

namespace ahrs_sim {
namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kNsPerMs = 1000000;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// While bytes flow the transmitter wakes at most about every 2 ms and then writes every byte
// whose time has come: about 8 bytes per write at 38400 baud, 6 packets at 921600, well inside
// the logger's 5 ms read wait, and little CPU. The first byte after a pause goes out on time, so
// an acknowledgement is not delayed.
constexpr int64_t kPacingSliceNs = 2 * kNsPerMs;
// A unit woken late (a busy machine) sends the packets of the time it missed, up to this much:
// the rate holds through short stalls, and no burst carries more than this of the line's time.
// Beyond it, the missed time is forgotten: fewer packets, their TAIL_WORDs still without gaps.
constexpr int64_t kMaxLagNs = 20 * kNsPerMs;
// A hang-up comes this long after the last byte went on the line. Closing the pty discards what
// the logger has not read yet, and a logger reads what has arrived within a few milliseconds: so
// the K packets before a hang-up reach it.
constexpr int64_t kHangupSettleNs = 100 * kNsPerMs;
constexpr char kStopCommand = 'P';
constexpr char kProbeCommand = 'G';
constexpr char kContinuousCommand = 'C';
constexpr int kAckOffset = 32;  // the acknowledgement is the mode letter in upper case

bool is_mode_letter(uint8_t byte) {
    return byte == ahrs::kAngleMode || byte == ahrs::kScaledMode || byte == ahrs::kVoltageMode;
}

bool silent(const Unit& unit) {
    return unit.silent_until_ns != 0;
}

// Queues bytes that the unit starts sending at start, or once the line has carried the bytes
// before them.
void enqueue(Unit* unit, const uint8_t* bytes, size_t count, int64_t start) {
    if (count == 0) {
        return;
    }
    start = std::max(start, unit->line_free_ns);
    if (unit->queue.empty() || start > unit->line_free_ns) {
        unit->segments.push_back(LineSegment{unit->queue.size(), start});
    }
    unit->queue.insert(unit->queue.end(), bytes, bytes + count);
    unit->line_free_ns = start + static_cast<int64_t>(count) * unit->byte_ns;
}

// The queue offset up to which bytes have finished their time on the line by now.
size_t bytes_due(const Unit& unit, int64_t now) {
    if (unit.byte_ns == 0) {
        return unit.queue.size();
    }
    size_t due = 0;
    for (size_t i = 0; i < unit.segments.size(); ++i) {
        const LineSegment& segment = unit.segments[i];
        const size_t end =
            i + 1 < unit.segments.size() ? unit.segments[i + 1].begin : unit.queue.size();
        const int64_t finished =
            now < segment.start_ns ? 0 : (now - segment.start_ns) / unit.byte_ns;
        due = std::min(end, segment.begin + static_cast<size_t>(finished));
        if (due < end) {
            break;
        }
    }
    return due;
}

// Removes the first count bytes, which the device has taken, from the queue and its segments.
void take_from_queue(Unit* unit, size_t count) {
    std::vector<LineSegment>& segments = unit->segments;
    size_t gone = 0;
    while (gone < segments.size()) {
        const size_t end =
            gone + 1 < segments.size() ? segments[gone + 1].begin : unit->queue.size();
        if (end > count) {
            break;
        }
        ++gone;
    }
    segments.erase(segments.begin(), segments.begin() + static_cast<std::ptrdiff_t>(gone));
    if (!segments.empty() && segments.front().begin < count) {
        segments.front().start_ns +=
            static_cast<int64_t>(count - segments.front().begin) * unit->byte_ns;
        segments.front().begin = count;
    }
    for (LineSegment& segment : segments) {
        segment.begin -= count;
    }
    unit->queue.erase(unit->queue.begin(),
                      unit->queue.begin() + static_cast<std::ptrdiff_t>(count));
}

// The first fault of the list whose packet count is reached and that has not happened, or -1.
int due_event(const std::vector<FaultEvent>& events, const std::vector<bool>& done,
              uint64_t streamed) {
    for (size_t i = 0; i < events.size(); ++i) {
        if (!done[i] && streamed >= events[i].after_packets) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int due_hangup(const Unit& unit) {
    return due_event(unit.options->hangups, unit.hangup_done, unit.streamed_sent);
}

int due_silence(const Unit& unit) {
    return due_event(unit.options->silences, unit.silence_done, unit.streamed_sent);
}

// True when a silence or a hang-up waits for the line to go idle: no more packets until then.
bool fault_due(const Unit& unit) {
    return due_hangup(unit) >= 0 || due_silence(unit) >= 0;
}

// When the fault that is due may start: a silence once the line is idle, a hang-up a settling
// time later.
int64_t fault_start_ns(const Unit& unit) {
    return unit.line_free_ns + (due_hangup(unit) >= 0 ? kHangupSettleNs : 0);
}

// Builds the next packet of the current mode into packet and counts it as sent.
uint32_t build_packet(Unit* unit, uint8_t* packet) {
    const uint64_t sequence = unit->packets_sent;
    // The motion runs on the packet sequence at the nominal rate, so a packet's values depend
    // only on the seed, the rate and its TAIL_WORD.
    const double t = static_cast<double>(sequence) / unit->options->rate_hz;
    const SensorSample sample = sample_motion(unit->motion, t, sequence);
    const uint16_t tail_word = static_cast<uint16_t>(sequence & 0xFFFF);
    ++unit->packets_sent;
    return encode_packet(unit->mode, sample, tail_word, packet);
}

bool in_bad_burst(const Unit& unit, uint64_t index) {
    for (const FaultEvent& burst : unit.options->bad_bursts) {
        if (index >= burst.after_packets && index - burst.after_packets < burst.amount) {
            return true;
        }
    }
    return false;
}

}  // namespace

void init_unit(Unit* unit, const SimOptions* options, int64_t now) {
    unit->options = options;
    unit->motion = make_motion(options->seed);
    unit->mode = options->mode;
    unit->streaming = options->streaming;
    unit->period_ns = std::max<int64_t>(1, std::llround(1e9 / options->rate_hz));
    unit->next_packet_ns = now;
    unit->silence_done.assign(options->silences.size(), false);
    unit->hangup_done.assign(options->hangups.size(), false);
    // The faults draw from their own generator, so the motion stays the same with or without
    // them.
    unit->fault_random.seed(options->seed ^ 0x5DEECE66Dull);
    unit->byte_ns = options->baud == 0 ? 0 : kBitsPerByte * kNsPerSecond / options->baud;
    unit->line_free_ns = now;
}

void receive_command(Unit* unit, uint8_t byte, int64_t now) {
    const bool answer = !silent(*unit);
    if (byte == kStopCommand) {
        if (unit->streaming) {
            status("output stopped");
        }
        unit->streaming = false;
    } else if (is_mode_letter(byte)) {
        unit->mode = static_cast<char>(byte);
        if (unit->options->no_ack) {
            // A logger repeats the letter until acknowledged: one line per new letter is enough.
            if (unit->unacknowledged_mode != unit->mode) {
                unit->unacknowledged_mode = unit->mode;
                status("mode %c selected, not acknowledged", byte);
            }
        } else if (answer) {
            const uint8_t ack = static_cast<uint8_t>(byte - kAckOffset);
            enqueue(unit, &ack, 1, now);
            status("mode %c acknowledged", byte);
        }
    } else if (byte == kProbeCommand) {
        if (answer) {
            uint8_t packet[ahrs::kAnglePacketLength];
            const uint32_t length = build_packet(unit, packet);
            const int probe_bytes = unit->options->probe_bytes;
            const uint32_t count =
                probe_bytes < 0 ? length : std::min(length, static_cast<uint32_t>(probe_bytes));
            enqueue(unit, packet, count, now);
            status("probe answered, %u bytes", count);
        }
    } else if (byte == kContinuousCommand) {
        if (!unit->streaming) {
            unit->streaming = true;
            unit->next_packet_ns = now;
            status("output started, mode %c", unit->mode);
        }
    }
}

bool produce(Unit* unit, int64_t now, SentPacket* sent) {
    if (silent(*unit)) {
        if (now < unit->silent_until_ns) {
            return false;
        }
        unit->silent_until_ns = 0;
        unit->next_packet_ns = std::max(unit->next_packet_ns, now);
        status("silence over");
    }
    if (!unit->streaming || unit->write_blocked || fault_due(*unit)) {
        return false;
    }
    unit->next_packet_ns = std::max(unit->next_packet_ns, now - kMaxLagNs);
    // The packet goes on the line when it was due, even if the unit wakes a little later, so
    // the rate holds whatever the wake-ups; on a line still busy with earlier bytes, after them.
    const int64_t start = std::max(unit->next_packet_ns, unit->line_free_ns);
    if (start > now) {
        return false;
    }
    *sent = SentPacket{};
    sent->index = unit->streamed_sent++;
    sent->tail_word = static_cast<uint16_t>(unit->packets_sent & 0xFFFF);
    sent->start_ns = start;
    uint8_t packet[ahrs::kAnglePacketLength];
    const uint32_t length = build_packet(unit, packet);
    if (in_bad_burst(*unit, sent->index)) {
        // Any other value is wrong: the checksum plus one.
        packet[length - 1] = static_cast<uint8_t>(packet[length - 1] + 1);
        sent->bad_checksum = true;
    }
    const SimOptions& options = *unit->options;
    uint8_t line[2 * ahrs::kAnglePacketLength];  // room for an extra byte after each byte
    size_t count = 0;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> bit(0, 7);
    std::uniform_int_distribution<int> any_byte(0, 255);
    for (uint32_t i = 0; i < length; ++i) {
        if (options.drop_rate > 0.0 && chance(unit->fault_random) < options.drop_rate) {
            ++sent->dropped;
        } else {
            uint8_t byte = packet[i];
            if (options.corrupt_rate > 0.0 && chance(unit->fault_random) < options.corrupt_rate) {
                byte = static_cast<uint8_t>(byte ^ (1u << bit(unit->fault_random)));
                ++sent->corrupted;
            }
            line[count++] = byte;
        }
        if (options.insert_rate > 0.0 && chance(unit->fault_random) < options.insert_rate) {
            line[count++] = static_cast<uint8_t>(any_byte(unit->fault_random));
            ++sent->inserted;
        }
    }
    enqueue(unit, line, count, start);
    unit->next_packet_ns += unit->period_ns;
    return true;
}

int64_t start_due_faults(Unit* unit, int64_t now) {
    if (silent(*unit) || output_pending(*unit) || now < fault_start_ns(*unit)) {
        return -1;
    }
    const SimOptions& options = *unit->options;
    const int hangup = due_hangup(*unit);
    if (hangup >= 0) {
        unit->hangup_done[static_cast<size_t>(hangup)] = true;
        return static_cast<int64_t>(options.hangups[static_cast<size_t>(hangup)].amount);
    }
    const int silence = due_silence(*unit);
    if (silence >= 0) {
        unit->silence_done[static_cast<size_t>(silence)] = true;
        const int64_t length_ms =
            static_cast<int64_t>(options.silences[static_cast<size_t>(silence)].amount);
        unit->silent_until_ns = now + length_ms * kNsPerMs;
        status("silent for %lld ms after %llu streamed packets", static_cast<long long>(length_ms),
               static_cast<unsigned long long>(unit->streamed_sent));
    }
    return -1;
}

bool transmit(Unit* unit, int fd, int64_t now) {
    unit->write_blocked = false;
    const size_t due = bytes_due(*unit, now);
    if (due == 0) {
        return true;
    }
    ssize_t written;
    do {
        written = write(fd, unit->queue.data(), due);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            unit->write_blocked = true;
            return true;
        }
        discard_output(unit);
        return false;
    }
    unit->last_write_ns = now;
    take_from_queue(unit, static_cast<size_t>(written));
    // Bytes the device did not take go as soon as it takes them again.
    unit->write_blocked = static_cast<size_t>(written) < due;
    return true;
}

void discard_output(Unit* unit) {
    unit->queue.clear();
    unit->segments.clear();
    unit->write_blocked = false;
}

int64_t next_deadline(const Unit& unit, int64_t now, bool line_open) {
    int64_t deadline = INT64_MAX;
    if (output_pending(unit)) {
        if (!unit.write_blocked) {
            const int64_t first_byte_done = unit.segments.front().start_ns + unit.byte_ns;
            deadline = unit.byte_ns == 0
                           ? now
                           : std::max(first_byte_done, unit.last_write_ns + kPacingSliceNs);
        }
    } else if (silent(unit)) {
        return unit.silent_until_ns;
    } else if (fault_due(unit)) {
        deadline = line_open ? fault_start_ns(unit) : INT64_MAX;
    } else if (unit.streaming) {
        deadline = std::max(unit.next_packet_ns, unit.line_free_ns);
    }
    return deadline;
}

}  // namespace ahrs_sim
