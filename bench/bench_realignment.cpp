// Realignment after lost or extra bytes, end to end: build/morvane recording from ahrs-sim with
// byte faults, natively, and per scenario the packets the unit sent, the records written and the
// packets lost per fault, all from one run each (the sent log and the TAIL_WORD of each record
// tell which packets reached the file). Goals: at most 2 packets lost per dropped or inserted
// byte at 200 packets/s; with whole-packet corruption only, the records are exactly the
// unfaulted packets. The benchmark reports; it does not fail on a goal.

#include <cstdio>
#include <string>
#include <vector>

#include "gyro_run.hpp"

namespace {

using testsupport::SentPacket;

enum class Fault { kDropped, kInserted, kWholePacket };

struct Scenario {
    const char* legend;
    Fault fault;
    double rate;  // packets per second, as given to ahrs-sim
    std::vector<std::string> sim_options;
    const char* baud;  // of the line: 200 packets/s of 30 bytes need more than 38400
};

constexpr double kGoalLostPerByte = 2.0;
constexpr double kSeconds = 20.0;

const Scenario kScenarios[] = {
    {"--drop-rate 0.0005 at 200 packets/s",
     Fault::kDropped,
     200.0,
     {"--rate", "200", "--baud", "115200", "--drop-rate", "0.0005"},
     "115200"},
    {"--insert-rate 0.0005 at 200 packets/s",
     Fault::kInserted,
     200.0,
     {"--rate", "200", "--baud", "115200", "--insert-rate", "0.0005"},
     "115200"},
    // Bursts of fewer than six bad packets, so the link is never restarted.
    {"--corrupt-rate 0.00003 and bad bursts of 5, 3 and 1 at 1000 packets/s",
     Fault::kWholePacket,
     1000.0,
     {"--rate", "1000", "--baud", "921600", "--corrupt-rate", "0.00003", "--bad-burst", "5@3000",
      "--bad-burst", "3@9000", "--bad-burst", "1@15000"},
     "921600"},
};

void report(const Scenario& scenario, const bench::GyroRun& run) {
    const bench::Delivery delivery = bench::match_records(run);
    std::printf("%s, %.0f s:\n", scenario.legend, kSeconds);
    if (delivery.records == 0) {
        std::printf("  no record matches a packet sent (%zu records)\n", run.record_tails.size());
        return;
    }
    size_t sent = 0;
    size_t faults = 0;
    size_t clean_missing = 0;
    size_t faulted_recorded = 0;
    for (size_t k = delivery.first; k <= delivery.last; ++k) {
        const SentPacket& packet = run.sent[k];
        if (!packet.heard) {
            continue;
        }
        ++sent;
        switch (scenario.fault) {
            case Fault::kDropped:
                faults += packet.dropped;
                break;
            case Fault::kInserted:
                faults += packet.inserted;
                break;
            case Fault::kWholePacket:
                faults += packet.clean() ? 0 : 1;
                break;
        }
        clean_missing += packet.clean() && !delivery.recorded[k] ? 1 : 0;
        faulted_recorded += !packet.clean() && delivery.recorded[k] ? 1 : 0;
    }
    // Packets lost to the link restarts are never sent; the unit's clock counts them as time.
    const double window_s = static_cast<double>(run.sent[delivery.last].microseconds -
                                                run.sent[delivery.first].microseconds) *
                            1e-6;
    const double packet_times = window_s * scenario.rate + 1.0;
    const double lost = static_cast<double>(sent - delivery.records);
    const double lost_times = packet_times - static_cast<double>(delivery.records);
    std::printf(
        "  from the first record to the last: unit sent %zu packets in %.0f packet "
        "times, program wrote %zu records (%zu match no packet sent); %u invalid, "
        "%u restarts\n",
        sent, packet_times, delivery.records, delivery.unmatched, run.summary.invalid,
        run.summary.restarts);
    if (scenario.fault == Fault::kWholePacket) {
        std::printf("  %zu packets faulted, %.0f packets lost\n", faults, lost);
        if (clean_missing == 0 && faulted_recorded == 0 && delivery.unmatched == 0) {
            std::printf("  records against unfaulted packets: identical\n");
        } else {
            std::printf(
                "  records against unfaulted packets: differ, %zu unfaulted packets not "
                "recorded, %zu faulted packets recorded, %zu records match no packet\n",
                clean_missing, faulted_recorded, delivery.unmatched);
        }
        return;
    }
    const char* what = scenario.fault == Fault::kDropped ? "dropped" : "inserted";
    const double per_fault = faults > 0 ? 1.0 / static_cast<double>(faults) : 0.0;
    std::printf(
        "  %zu bytes %s: %.1f packets lost per byte %s (%.1f packet times; goal at most "
        "%.0f)\n",
        faults, what, lost * per_fault, what, lost_times * per_fault, kGoalLostPerByte);
}

}  // namespace

int main() {
    int status = 0;
    for (const Scenario& scenario : kScenarios) {
        bench::GyroRunSpec setup;
        setup.sim_options = scenario.sim_options;
        setup.baud = scenario.baud;
        setup.seconds = kSeconds;
        const bench::GyroRun run = bench::run_gyro(setup);
        if (!run.error.empty()) {
            std::fprintf(stderr, "bench_realignment: %s: %s\n", scenario.legend, run.error.c_str());
            status = 1;
            continue;
        }
        report(scenario, run);
    }
    return status;
}
