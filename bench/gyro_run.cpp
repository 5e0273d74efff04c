// One gyro recording run for the end-to-end benchmarks.

#include "gyro_run.hpp"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "text.hpp"

namespace bench {
namespace {

namespace fs = std::filesystem;
using testsupport::milliseconds;

constexpr milliseconds kSimStart(5000);
constexpr milliseconds kFirstRecord(20000);  // the start-up exchange, on a busy machine
constexpr milliseconds kExitWait(30000);

size_t records_in(const fs::path& file) {
    return testsupport::count_of(testsupport::read_file(file), "\n");
}

// User and system time of a running process so far, from /proc (clock-tick resolution); -1
// when it cannot be read.
double cpu_seconds_so_far(pid_t pid) {
    const std::string stat = testsupport::read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t name_end = stat.rfind(')');  // the program name may hold blanks
    if (name_end == std::string::npos) {
        return -1.0;
    }
    // After the name: state, then fields 4 to 13, then utime and stime (fields 14 and 15).
    std::istringstream fields(stat.substr(name_end + 2));
    std::string skipped;
    for (int field = 3; field <= 13; ++field) {
        fields >> skipped;
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (!(fields >> user >> system)) {
        return -1.0;
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

GyroSummary parse_summary(const std::string& out) {
    GyroSummary summary;
    const size_t at = out.rfind("Gyro - ");
    if (at != std::string::npos) {
        std::sscanf(out.c_str() + at, "Gyro - %u packets, %u invalid, %u restarts, %u records",
                    &summary.packets, &summary.invalid, &summary.restarts, &summary.records);
    }
    return summary;
}

std::vector<unsigned> record_tails(const std::string& file) {
    std::vector<unsigned> tails;
    for (const std::string& line : testsupport::split(file, '\n')) {
        const size_t blank = line.rfind(' ');
        tails.push_back(static_cast<unsigned>(std::strtoul(
            line.c_str() + (blank == std::string::npos ? 0 : blank + 1), nullptr, 10)));
    }
    return tails;
}

}  // namespace

GyroRun run_gyro(const GyroRunSpec& setup) {
    GyroRun run;
    char pattern[] = "/tmp/morvane-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        run.error = "cannot make a temporary folder";
        return run;
    }
    const fs::path dir = pattern;
    const std::string link = (dir / "gyro-link").string();
    const fs::path sent_log = dir / "sent.log";
    const fs::path gyro_file = dir / "gyro.txt";

    testsupport::Process sim;
    std::vector<std::string> sim_argv{AHRS_SIM_PATH, "--quiet",    "--link",
                                      link,          "--sent-log", sent_log.string()};
    sim_argv.insert(sim_argv.end(), setup.sim_options.begin(), setup.sim_options.end());
    testsupport::Process program;
    if (!sim.start(sim_argv) || testsupport::first_line(sim, kSimStart).empty()) {
        run.error = "ahrs-sim did not start: " + sim.error() + sim.err();
    } else if (!program.start({MORVANE_PATH, "laser.txt", "gyro.txt", "gps.txt", "-C", link, "-M",
                               "a", "-B", setup.baud},
                              {}, dir.string())) {
        run.error = "the program did not start: " + program.error();
    } else if (!testsupport::wait_until([&] { return records_in(gyro_file) > 0; }, kFirstRecord,
                                        milliseconds(20))) {
        run.error = "no record within 20 s:\n" + program.out() + program.err();
    } else {
        const double cpu_before = cpu_seconds_so_far(program.pid());
        const auto recording_start = testsupport::Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(setup.seconds));
        const double cpu_after = cpu_seconds_so_far(program.pid());
        run.recording_cpu_seconds = cpu_after - cpu_before;
        run.recording_seconds =
            std::chrono::duration<double>(testsupport::Clock::now() - recording_start).count();
        if (cpu_before < 0.0 || cpu_after < 0.0) {
            run.error = "cannot read the program's CPU time in /proc";
        }
        program.send("q");
        run.program = program.wait(kExitWait);
        sim.signal(SIGTERM);
        run.sim = sim.wait(kExitWait);
        run.sent = testsupport::parse_sent_log(testsupport::read_file(sent_log));
        run.record_tails = record_tails(testsupport::read_file(gyro_file));
        run.summary = parse_summary(program.out());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return run;
}

Delivery match_records(const GyroRun& run) {
    // A record's packet is at most this far past the previous record's: more than a link restart
    // takes at any rate the benchmarks use. A false record (misread bytes that passed the
    // checksum) carries a random TAIL_WORD and matches a later packet within it only rarely.
    constexpr size_t kMaxSkip = 4096;
    Delivery delivery;
    delivery.recorded.assign(run.sent.size(), false);
    size_t next = 0;
    bool any = false;
    for (const unsigned tail : run.record_tails) {
        size_t k = next;
        const size_t limit = std::min(run.sent.size(), next + kMaxSkip);
        while (k < limit && !(run.sent[k].heard && run.sent[k].tail_word == tail)) {
            ++k;
        }
        if (k == limit) {
            ++delivery.unmatched;
            continue;
        }
        delivery.recorded[k] = true;
        ++delivery.records;
        delivery.first = any ? delivery.first : k;
        delivery.last = k;
        any = true;
        next = k + 1;
    }
    return delivery;
}

double cpu_percent(double cpu_seconds, double wall_seconds) {
    return wall_seconds > 0.0 ? 100.0 * cpu_seconds / wall_seconds : 0.0;
}

}  // namespace bench
