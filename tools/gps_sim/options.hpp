#pragma once
// The simulated receiver's command line: GpsOptions, the parser and the help text.

#include <cstdint>
#include <string>
#include <vector>

#include "sim_common/option_values.hpp"

namespace gps_sim {

using sim_common::FaultEvent;

// Bounds of the receiver's own values.
constexpr double kMinRateHz = 0.1;   // an epoch in 10 s
constexpr double kMaxRateHz = 20.0;  // the fastest receivers of a survey rig
constexpr double kMinAltitudeM = -1000.0;
constexpr double kMaxAltitudeM = 10000.0;

struct GpsOptions {
    // --baud (default 9600, the logger's GPS port), --seed, --link, --device, --sent-log (one
    // line per sentence), --silence and --hangup (K counts sentences), --duration, --stdin-eof,
    // --quiet, --help.
    sim_common::CommonValues common{.baud = 9600};
    double rate_hz = 1.0;  // epochs per second: GGA, RMC, GSA and GSV each epoch
    // The antenna's mean position, in decimal degrees (north and east positive) and metres above
    // mean sea level: a survey boat's berth in a harbour.
    double latitude_deg = 48.3830;
    double longitude_deg = -4.4950;
    double altitude_m = 12.0;
    // UTC of the first epoch, seconds since 1970: 2024-05-01 09:30:00.
    int64_t start_utc_s = 1714555800;
    double no_fix_s = 0.0;           // epochs before this time (since the first) have no fix
    double bad_checksum_rate = 0.0;  // fraction of sentences with a wrong checksum
    double garbage_rate = 0.0;       // fraction of sentences with random bytes before them
};

// Fills *options from argv. Returns true on success; otherwise false with a one-line reason
// (without the program name or a line feed) in *error.
bool parse_options(int argc, char** argv, GpsOptions* options, std::string* error);

// The --help text, one line per option.
const char* help_text();

}  // namespace gps_sim
