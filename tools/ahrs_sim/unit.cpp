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
// whose time has come: about 8 bytes per write at 38400 baud, well inside the logger's 5 ms read
// wait, and little CPU. The first byte after a pause goes out on time, so an acknowledgement is
// not delayed.
constexpr int64_t kPacingSliceNs = 2 * kNsPerMs;
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

// Queues bytes that the unit starts sending at start (or, on a busy line, after the bytes
// before them).
void enqueue(Unit* unit, const uint8_t* bytes, size_t count, int64_t start) {
    if (count == 0) {
        return;
    }
    if (!output_pending(*unit)) {
        unit->queue.clear();
        unit->queue_head = 0;
        const int64_t line_free = unit->next_byte_ns - unit->byte_ns;
        unit->next_byte_ns = std::max(start, line_free) + unit->byte_ns;
    }
    unit->queue.insert(unit->queue.end(), bytes, bytes + count);
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
    unit->next_byte_ns = now;
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

bool produce(Unit* unit, int64_t now) {
    if (silent(*unit)) {
        if (now < unit->silent_until_ns) {
            return false;
        }
        unit->silent_until_ns = 0;
        unit->next_packet_ns = std::max(unit->next_packet_ns, now);
        status("silence over");
    }
    if (!unit->streaming || output_pending(*unit) || now < unit->next_packet_ns) {
        return false;
    }
    const uint64_t index = unit->streamed_sent++;
    uint8_t packet[ahrs::kAnglePacketLength];
    const uint32_t length = build_packet(unit, packet);
    if (in_bad_burst(*unit, index)) {
        // Any other value is wrong: the checksum plus one.
        packet[length - 1] = static_cast<uint8_t>(packet[length - 1] + 1);
    }
    const SimOptions& options = *unit->options;
    uint8_t line[ahrs::kAnglePacketLength];
    size_t count = 0;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> bit(0, 7);
    for (uint32_t i = 0; i < length; ++i) {
        if (options.drop_rate > 0.0 && chance(unit->fault_random) < options.drop_rate) {
            continue;
        }
        uint8_t byte = packet[i];
        if (options.corrupt_rate > 0.0 && chance(unit->fault_random) < options.corrupt_rate) {
            byte = static_cast<uint8_t>(byte ^ (1u << bit(unit->fault_random)));
        }
        line[count++] = byte;
    }
    // The packet goes on the line when it was due, even if the unit wakes a little later, so
    // the rate holds whatever the wake-ups. The next one is due a period later; a line that fell
    // behind does not catch up in a burst.
    const int64_t due = unit->next_packet_ns;
    enqueue(unit, line, count, due);
    unit->next_packet_ns = std::max(due + unit->period_ns, now);
    return true;
}

int64_t start_due_faults(Unit* unit, int64_t now) {
    if (silent(*unit) || output_pending(*unit)) {
        return -1;
    }
    const SimOptions& options = *unit->options;
    for (size_t i = 0; i < options.hangups.size(); ++i) {
        if (!unit->hangup_done[i] && unit->streamed_sent >= options.hangups[i].after_packets) {
            unit->hangup_done[i] = true;
            return static_cast<int64_t>(options.hangups[i].amount);
        }
    }
    for (size_t i = 0; i < options.silences.size(); ++i) {
        if (!unit->silence_done[i] && unit->streamed_sent >= options.silences[i].after_packets) {
            unit->silence_done[i] = true;
            const int64_t length_ms = static_cast<int64_t>(options.silences[i].amount);
            unit->silent_until_ns = now + length_ms * kNsPerMs;
            status("silent for %lld ms after %llu streamed packets",
                   static_cast<long long>(length_ms),
                   static_cast<unsigned long long>(unit->streamed_sent));
            break;
        }
    }
    return -1;
}

bool transmit(Unit* unit, int fd, int64_t now) {
    unit->write_blocked = false;
    if (!output_pending(*unit)) {
        return true;
    }
    const size_t waiting = unit->queue.size() - unit->queue_head;
    size_t due = waiting;
    if (unit->byte_ns > 0) {
        if (now < unit->next_byte_ns) {
            return true;
        }
        const int64_t more = (now - unit->next_byte_ns) / unit->byte_ns;
        due = std::min(waiting, static_cast<size_t>(more) + 1);
    }
    ssize_t written;
    do {
        written = write(fd, unit->queue.data() + unit->queue_head, due);
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
    unit->queue_head += static_cast<size_t>(written);
    unit->next_byte_ns += static_cast<int64_t>(written) * unit->byte_ns;
    // Bytes the device did not take go as soon as it takes them again.
    unit->write_blocked = static_cast<size_t>(written) < due;
    return true;
}

void discard_output(Unit* unit) {
    unit->queue.clear();
    unit->queue_head = 0;
    unit->write_blocked = false;
}

int64_t next_deadline(const Unit& unit, int64_t now) {
    int64_t deadline = INT64_MAX;
    if (output_pending(unit)) {
        if (!unit.write_blocked) {
            deadline = unit.byte_ns == 0
                           ? now
                           : std::max(unit.next_byte_ns, unit.last_write_ns + kPacingSliceNs);
        }
    } else if (unit.streaming && !silent(unit)) {
        deadline = unit.next_packet_ns;
    }
    if (silent(unit)) {
        deadline = std::min(deadline, unit.silent_until_ns);
    }
    return deadline;
}

}  // namespace ahrs_sim
