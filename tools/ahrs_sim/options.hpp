#pragma once
// The simulator's command line: SimOptions, the parser and the help text.

#include <cstdint>
#include <string>
#include <vector>

namespace ahrs_sim {

// Bounds of the values: beyond what any test run wants, and far from overflowing the unit's
// 64-bit nanosecond clock (a week is 6e14 ns).
constexpr double kMinRateHz = 0.001;             // one packet in 1000 s
constexpr double kMaxRateHz = 100000.0;          // more than the fastest line carries
constexpr uint64_t kMaxBaud = 10000000;          // a byte in 1 µs
constexpr double kMaxDurationS = 604800.0;       // a week
constexpr uint64_t kMaxFaultMs = 604800000;      // a week
constexpr uint64_t kMaxPackets = 1000000000000;  // over three months at the highest rate

// A fault that starts after a given number of streamed packets (probe packets excluded),
// counted over the whole run.
struct FaultEvent {
    uint64_t after_packets;  // K of N@K or MS@K, at most kMaxPackets
    uint64_t amount;         // N packets for a bad burst (at most kMaxPackets), milliseconds
                             // for silence and hang-up (at most kMaxFaultMs)
};

struct SimOptions {
    char mode = 'a';            // output mode at start: 'a', 'c' or 'r'
    bool streaming = false;     // already streaming at start
    double rate_hz = 100.0;     // streamed packets per second
    uint32_t baud = 38400;      // line pacing, 10 bits per byte; 0 = as fast as taken
    uint64_t seed = 1;          // motion and fault injection
    std::string link_path;      // symlink kept pointing at the current pty slave
    std::string device_path;    // an existing serial device to serve instead of a pty
    double corrupt_rate = 0.0;  // fraction of streamed bytes with one bit flipped
    double drop_rate = 0.0;     // fraction of streamed bytes never sent
    double insert_rate = 0.0;   // fraction of streamed bytes followed by one extra random byte
    std::vector<FaultEvent> bad_bursts;
    std::vector<FaultEvent> silences;
    std::vector<FaultEvent> hangups;  // amount 0: the line never comes back
    bool no_ack = false;              // never acknowledge a mode letter
    int probe_bytes = -1;             // bytes of the answer to 'G'; -1 = the whole packet
    std::string log_path;             // every received byte is appended here
    std::string sent_log_path;        // one line per streamed packet, created afresh
    bool xon_xoff = false;            // leave software flow control on in the line's settings
    double duration_s = 0.0;          // 0 = run until SIGINT or SIGTERM
    bool stdin_eof = false;           // end the run when standard input reaches its end
    bool quiet = false;               // no status lines on standard error
    bool help = false;
};

// Fills *options from argv. Returns true on success; otherwise false with a one-line reason
// (without the program name or a line feed) in *error.
bool parse_options(int argc, char** argv, SimOptions* options, std::string* error);

// The --help text, one line per option.
const char* help_text();

}  // namespace ahrs_sim
