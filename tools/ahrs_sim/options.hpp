#pragma once
// The simulator's command line: SimOptions, the parser and the help text.

#include <cstdint>
#include <string>
#include <vector>

#include "sim_common/option_values.hpp"

namespace ahrs_sim {

using sim_common::FaultEvent;

// Bounds of the rate: beyond what any test run wants, and far from overflowing the unit's
// 64-bit nanosecond clock. The other bounds are the simulators' common ones (option_values.hpp).
constexpr double kMinRateHz = 0.001;     // one packet in 1000 s
constexpr double kMaxRateHz = 100000.0;  // more than the fastest line carries

struct SimOptions {
    // --baud (default 38400), --seed, --link, --device, --sent-log (one line per streamed
    // packet), --silence and --hangup (K counts streamed packets, probe packets excluded),
    // --duration, --stdin-eof, --quiet, --help.
    sim_common::CommonValues common{.baud = 38400};
    char mode = 'a';            // output mode at start: 'a', 'c' or 'r'
    bool streaming = false;     // already streaming at start
    double rate_hz = 100.0;     // streamed packets per second
    double corrupt_rate = 0.0;  // fraction of streamed bytes with one bit flipped
    double drop_rate = 0.0;     // fraction of streamed bytes never sent
    double insert_rate = 0.0;   // fraction of streamed bytes followed by one extra random byte
    // N@K: streamed packets K to K+N-1 carry a wrong checksum.
    std::vector<FaultEvent> bad_bursts;
    bool no_ack = false;    // never acknowledge a mode letter
    int probe_bytes = -1;   // bytes of the answer to 'G'; -1 = the whole packet
    std::string log_path;   // every received byte is appended here
    bool xon_xoff = false;  // leave software flow control on in the line's settings
};

// Fills *options from argv. Returns true on success; otherwise false with a one-line reason
// (without the program name or a line feed) in *error.
bool parse_options(int argc, char** argv, SimOptions* options, std::string* error);

// The --help text, one line per option.
const char* help_text();

}  // namespace ahrs_sim
