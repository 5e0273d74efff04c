// The program at the rate of a full 921600 baud line, end to end: build/morvane recording in
// mode a from ahrs-sim at 3072 packets/s for about 10 s, q, then the program's CPU share while it
// recorded (a percentage of one core; goal at most 3 %) and the packets the unit sent against
// the records written, side by side in one run.

#include <cstdio>

#include "gyro_run.hpp"

namespace {

constexpr double kGoalCpuPercent = 3.0;
constexpr double kSeconds = 10.0;

}  // namespace

int main() {
    bench::GyroRunSpec setup;
    setup.sim_options = {"--baud", "921600", "--rate", "3072"};
    setup.baud = "921600";
    setup.seconds = kSeconds;
    const bench::GyroRun run = bench::run_gyro(setup);
    const bench::Delivery delivery = bench::match_records(run);
    if (!run.error.empty() || delivery.records == 0) {
        std::fprintf(stderr, "bench_line_rate: %s\n",
                     run.error.empty() ? "no record matches a packet sent" : run.error.c_str());
        return 1;
    }
    size_t sent = 0;
    for (size_t k = delivery.first; k <= delivery.last && k < run.sent.size(); ++k) {
        sent += run.sent[k].heard ? 1 : 0;
    }
    const double line_seconds = static_cast<double>(run.sent[delivery.last].microseconds -
                                                    run.sent[delivery.first].microseconds) *
                                1e-6;
    std::printf("line rate, end to end: ahrs-sim --baud 921600 --rate 3072, build/morvane -M a\n");
    std::printf(
        "  from the first record to the last: unit sent %zu packets (%.0f per second), "
        "program wrote %zu of them (ratio %.4f); %zu records match no packet; "
        "%u invalid, %u restarts\n",
        sent, line_seconds > 0.0 ? static_cast<double>(sent - 1) / line_seconds : 0.0,
        delivery.records,
        sent > 0 ? static_cast<double>(delivery.records) / static_cast<double>(sent) : 0.0,
        delivery.unmatched, run.summary.invalid, run.summary.restarts);
    std::printf(
        "  program CPU while recording: %.2f s in %.1f s, %.1f %% of a core (goal at most "
        "%.0f %%)\n",
        run.recording_cpu_seconds, run.recording_seconds,
        bench::cpu_percent(run.recording_cpu_seconds, run.recording_seconds), kGoalCpuPercent);
    std::printf(
        "  whole run (wait4): program %.1f %% of a core over %.1f s, ahrs-sim %.1f %% over "
        "%.1f s\n",
        bench::cpu_percent(run.program.cpu_seconds, run.program.wall_seconds),
        run.program.wall_seconds, bench::cpu_percent(run.sim.cpu_seconds, run.sim.wall_seconds),
        run.sim.wall_seconds);
    return 0;
}
