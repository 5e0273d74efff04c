// gps-sim: plays the survey rig's GPS receiver on a pseudo-terminal (or a serial device) for the
// logger. One thread: everything waits in one ppoll until the next byte or sentence is due.

#include <cstdio>
#include <string>

#include "options.hpp"
#include "receiver.hpp"
#include "sim_common/serve.hpp"
#include "sim_common/status.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    gps_sim::GpsOptions options;
    std::string error;
    if (!parse_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "gps-sim: %s; see gps-sim --help\n", error.c_str());
        return kExitUsage;
    }
    if (options.common.help) {
        std::fputs(gps_sim::help_text(), stdout);
        return kExitOk;
    }
    sim_common::set_status("gps-sim", options.common.quiet);
    sim_common::install_stop_signals();

    sim_common::Run run;
    if (!begin_run(options.common, false, &run, &error)) {
        std::fprintf(stderr, "gps-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    sim_common::status("receiver on %s, %g epochs/s, %u baud, near %.6f %.6f",
                       run.line.device_path.c_str(), options.rate_hz, options.common.baud,
                       options.latitude_deg, options.longitude_deg);

    gps_sim::Receiver receiver(&options, &run.sent_log, run.start_ns);
    serve_run(&run, &receiver);
    return kExitOk;
}
