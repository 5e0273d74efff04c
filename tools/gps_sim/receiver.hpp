#pragma once
// The simulated receiver on its line: an epoch's sentences queued at the chosen rate, each with
// its CR LF and the faults asked for, and logged.

#include <cstdint>
#include <string>
#include <vector>

#include "fix.hpp"
#include "options.hpp"
#include "sent_log.hpp"
#include "sim_common/line_faults.hpp"
#include "sim_common/log_file.hpp"
#include "sim_common/serve.hpp"
#include "sim_common/transmitter.hpp"

namespace gps_sim {

// Times are nanoseconds of the monotonic clock.
class Receiver final : public sim_common::LineDevice {
public:
    // options and sent_log (which may hold no file) must outlive the receiver.
    Receiver(const GpsOptions* options, sim_common::LogFile* sent_log, int64_t now);

    sim_common::Transmitter& transmitter() override { return tx_; }
    sim_common::LineFaults& line_faults() override { return faults_; }
    uint64_t items_sent() const override { return sentences_sent_; }
    // A receiver takes no commands: what the logger sends is read and ignored.
    void receive(const uint8_t*, size_t, int64_t) override {}
    void produce(int64_t now, bool heard) override;
    int64_t next_item_ns() const override;

private:
    // Queues the next sentence when its time on the line has begun, filling *sent; false when
    // none is due yet or the line faults hold the output.
    bool produce_one(int64_t now, SentSentence* sent);

    const GpsOptions* options_;
    sim_common::LogFile* sent_log_;
    FixModel fix_;
    int64_t period_ns_;
    int64_t next_epoch_ns_;           // when the next epoch's first sentence is due
    int64_t epoch_ns_ = 0;            // when the current epoch was due
    std::vector<std::string> epoch_;  // the current epoch's sentences
    size_t next_in_epoch_ = 0;        // the first of them not yet sent
    uint64_t sentences_sent_ = 0;
    sim_common::LineFaults faults_;
    sim_common::Transmitter tx_;
};

}  // namespace gps_sim
