#pragma once
// One gyro recording run for the end-to-end benchmarks: ahrs-sim on a pseudo-terminal with its
// sent log, build/morvane recording from it, q after a while, and what came of it: the sent
// packets, the records' TAIL_WORDs, the program's summary and both processes' CPU time.

#include <string>
#include <vector>

#include "process.hpp"
#include "sent_log.hpp"

namespace bench {

struct GyroRunSpec {
    std::vector<std::string> sim_options;  // besides --link, --sent-log and --quiet
    std::string baud = "38400";            // the program's -B
    double seconds = 10.0;                 // of recording, from the first record to q
};

// The program's closing line: "Gyro - <n> packets, <n> invalid, <n> restarts, <n> records".
struct GyroSummary {
    unsigned packets = 0, invalid = 0, restarts = 0, records = 0;  // 0 when it is missing
};

struct GyroRun {
    std::string error;  // not empty: the run could not be made; the rest is not filled
    testsupport::ExitStatus program;
    testsupport::ExitStatus sim;
    std::vector<testsupport::SentPacket> sent;  // the unit's sent log
    std::vector<unsigned> record_tails;         // the last field of each gyro record, in order
    GyroSummary summary;
    // The program's CPU time (user and system) between its first record and q, and that time.
    double recording_cpu_seconds = 0.0;
    double recording_seconds = 0.0;
};

// Which sent packets reached the gyro file, told by the TAIL_WORD that ends each record: the
// records are matched in order to the packets the unit sent.
struct Delivery {
    std::vector<bool> recorded;  // per packet of the sent log
    size_t first = 0;            // the first and last recorded packet: the window of the run
    size_t last = 0;             // in which the program was reading
    size_t records = 0;          // records matched to a sent packet
    size_t unmatched = 0;        // records matching none: bytes the program took for a packet
};

Delivery match_records(const GyroRun& run);

// Makes the run in a temporary folder, removed afterwards. The program is build/morvane in mode
// a, with no interface library, so after q it ends with exit code 2.
GyroRun run_gyro(const GyroRunSpec& setup);

// CPU time as a percentage of one core over the wall time.
double cpu_percent(double cpu_seconds, double wall_seconds);

}  // namespace bench
