// The simulated unit.

#include "unit.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "ahrs/packet.hpp"
#include "sim_common/clock.hpp"
#include "sim_common/status.hpp"

namespace ahrs_sim {
namespace {

using sim_common::enqueue;
using sim_common::status;

// A unit woken late (a busy machine) sends the packets of the time it missed, up to this much:
// the rate holds through short stalls, and no burst carries more than this of the line's time.
// Beyond it, the missed time is forgotten: fewer packets, their TAIL_WORDs still without gaps.
constexpr int64_t kMaxLagNs = 20 * sim_common::kNsPerMs;
constexpr char kStopCommand = 'P';
constexpr char kProbeCommand = 'G';
constexpr char kContinuousCommand = 'C';
constexpr int kAckOffset = 32;  // the acknowledgement is the mode letter in upper case

bool is_mode_letter(uint8_t byte) {
    return byte == ahrs::kAngleMode || byte == ahrs::kScaledMode || byte == ahrs::kVoltageMode;
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
        if (index >= burst.after_count && index - burst.after_count < burst.amount) {
            return true;
        }
    }
    return false;
}

}  // namespace

void init_unit(Unit* unit, const SimOptions* options, int64_t now) {
    unit->options = options;
    unit->motion = make_motion(options->common.seed);
    unit->mode = options->mode;
    unit->streaming = options->streaming;
    unit->period_ns = std::max<int64_t>(1, std::llround(1e9 / options->rate_hz));
    unit->next_packet_ns = now;
    sim_common::init_line_faults(&unit->faults, options->common.silences, options->common.hangups,
                                 "streamed packets");
    // The faults draw from their own generator, so the motion stays the same with or without
    // them.
    unit->fault_random.seed(options->common.seed ^ 0x5DEECE66Dull);
    sim_common::init_transmitter(&unit->tx, options->common.baud, now);
}

void receive_command(Unit* unit, uint8_t byte, int64_t now) {
    const bool answer = !silent(unit->faults);
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
            enqueue(&unit->tx, &ack, 1, now);
            status("mode %c acknowledged", byte);
        }
    } else if (byte == kProbeCommand) {
        if (answer) {
            uint8_t packet[ahrs::kAnglePacketLength];
            const uint32_t length = build_packet(unit, packet);
            const int probe_bytes = unit->options->probe_bytes;
            const uint32_t count =
                probe_bytes < 0 ? length : std::min(length, static_cast<uint32_t>(probe_bytes));
            enqueue(&unit->tx, packet, count, now);
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
    if (silent(unit->faults)) {
        if (!sim_common::end_silence_if_over(&unit->faults, now)) {
            return false;
        }
        unit->next_packet_ns = std::max(unit->next_packet_ns, now);
    }
    if (!unit->streaming || unit->tx.write_blocked ||
        sim_common::fault_due(unit->faults, unit->streamed_sent)) {
        return false;
    }
    unit->next_packet_ns = std::max(unit->next_packet_ns, now - kMaxLagNs);
    // The packet goes on the line when it was due, even if the unit wakes a little later, so
    // the rate holds whatever the wake-ups; on a line still busy with earlier bytes, after them.
    const int64_t start = std::max(unit->next_packet_ns, unit->tx.line_free_ns);
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
    enqueue(&unit->tx, line, count, start);
    unit->next_packet_ns += unit->period_ns;
    return true;
}

int64_t next_packet_due(const Unit& unit) {
    return unit.streaming ? std::max(unit.next_packet_ns, unit.tx.line_free_ns) : INT64_MAX;
}

}  // namespace ahrs_sim
