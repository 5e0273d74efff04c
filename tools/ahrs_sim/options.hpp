#pragma once
// The simulator's command line: SimOptions, the parser and the help text.

#include <cstdint>
#include <string>
#include <vector>

namespace ahrs_sim {

// A fault that starts after a given number of streamed packets (probe packets excluded),
// counted over the whole run.
struct FaultEvent {
    uint64_t after_packets;  // K of N@K or MS@K
    uint64_t amount;         // N packets for a bad burst, milliseconds for silence and hang-up
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
    std::vector<FaultEvent> bad_bursts;
    std::vector<FaultEvent> silences;
    std::vector<FaultEvent> hangups;  // amount 0: the line never comes back
    bool no_ack = false;              // never acknowledge a mode letter
    int probe_bytes = -1;             // bytes of the answer to 'G'; -1 = the whole packet
    std::string log_path;             // every received byte is appended here
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
