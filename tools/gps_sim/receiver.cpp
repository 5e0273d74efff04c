// The simulated receiver on its line.

#include "receiver.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "nmea.hpp"
#include "sim_common/clock.hpp"
#include "sim_common/hashed_random.hpp"

namespace gps_sim {
namespace {

using sim_common::uniform;

// A receiver woken late (a busy machine) sends the epochs of the time it missed, up to this
// much; beyond it the missed time is forgotten: fewer epochs, still one after the other.
constexpr int64_t kMaxLagNs = 20 * sim_common::kNsPerMs;
// More than an epoch's sentences, so a wake-up keeps up; a catch-up spreads over a few.
constexpr int kSentencesPerWake = 64;
constexpr uint32_t kMaxGarbageBytes = 16;
constexpr double kByteValues = 256.0;
constexpr char kLineEnd[] = "\r\n";
constexpr size_t kLineEndLength = 2;

// The faults draw from streams of their own, each by sentence number: a sentence's faults do
// not depend on which other faults are asked for, nor on timing.
enum Stream : uint64_t {
    kChecksumStream = 200,
    kGarbageStream,
    kGarbageLengthStream,
    kGarbageByteStream,
};

char hex_digit(unsigned value) {
    return "0123456789ABCDEF"[value & 0xF];
}

// Replaces the "HH" at the sentence's end by another value: the right one plus one.
void spoil_checksum(std::string* text) {
    const size_t digits = text->size() - 2;
    const unsigned right = static_cast<unsigned>(std::strtoul(text->c_str() + digits, nullptr, 16));
    const unsigned wrong = (right + 1) & 0xFF;
    (*text)[digits] = hex_digit(wrong >> 4);
    (*text)[digits + 1] = hex_digit(wrong);
}

}  // namespace

Receiver::Receiver(const GpsOptions* options, sim_common::LogFile* sent_log, int64_t now)
    : options_(options),
      sent_log_(sent_log),
      period_ns_(std::max<int64_t>(1, std::llround(1e9 / options->rate_hz))),
      next_epoch_ns_(now) {
    init_fix_model(&fix_, options);
    sim_common::init_line_faults(&faults_, options->common.silences, options->common.hangups,
                                 "sentences");
    sim_common::init_transmitter(&tx_, options->common.baud, now);
}

void Receiver::produce(int64_t now, bool heard) {
    SentSentence sent;
    for (int turn = 0; turn < kSentencesPerWake && produce_one(now, &sent); ++turn) {
        log_sent(sent_log_, sent, heard);
        if (!heard) {
            sim_common::discard_output(&tx_);
        }
    }
}

bool Receiver::produce_one(int64_t now, SentSentence* sent) {
    if (silent(faults_)) {
        if (!sim_common::end_silence_if_over(&faults_, now)) {
            return false;
        }
        // The rest of the epoch, and the epochs after, go from the end of the silence.
        epoch_ns_ = std::max(epoch_ns_, now);
        next_epoch_ns_ = std::max(next_epoch_ns_, now);
    }
    if (tx_.write_blocked || sim_common::fault_due(faults_, sentences_sent_)) {
        return false;
    }
    if (next_in_epoch_ == epoch_.size()) {
        next_epoch_ns_ = std::max(next_epoch_ns_, now - kMaxLagNs);
        if (std::max(next_epoch_ns_, tx_.line_free_ns) > now) {
            return false;
        }
        epoch_ = epoch_sentences(next_epoch(&fix_));
        next_in_epoch_ = 0;
        epoch_ns_ = next_epoch_ns_;
        next_epoch_ns_ += period_ns_;
    }
    // An epoch's sentences follow each other back to back from the time the epoch was due; a
    // sentence held up longer than the lag bound (a stall) starts when the receiver wakes.
    const int64_t start = std::max({epoch_ns_, tx_.line_free_ns, now - kMaxLagNs});
    if (start > now) {
        return false;
    }
    *sent = SentSentence{};
    sent->index = sentences_sent_++;
    sent->text = epoch_[next_in_epoch_++];
    const uint64_t seed = options_->common.seed;
    if (uniform(seed, kChecksumStream, sent->index) < options_->bad_checksum_rate) {
        spoil_checksum(&sent->text);
        sent->bad_checksum = true;
    }
    std::string bytes;
    if (uniform(seed, kGarbageStream, sent->index) < options_->garbage_rate) {
        sent->garbage = 1 + static_cast<uint32_t>(uniform(seed, kGarbageLengthStream, sent->index) *
                                                  kMaxGarbageBytes);
        for (uint32_t i = 0; i < sent->garbage; ++i) {
            const double draw =
                uniform(seed, kGarbageByteStream, sent->index * kMaxGarbageBytes + i);
            bytes += static_cast<char>(static_cast<uint8_t>(draw * kByteValues));
        }
    }
    bytes += sent->text;
    bytes.append(kLineEnd, kLineEndLength);
    enqueue(&tx_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), start);
    sent->start_ns = start + static_cast<int64_t>(sent->garbage) * tx_.byte_ns;
    return true;
}

int64_t Receiver::next_item_ns() const {
    const int64_t due = next_in_epoch_ < epoch_.size() ? epoch_ns_ : next_epoch_ns_;
    return std::max(due, tx_.line_free_ns);
}

}  // namespace gps_sim
