// The simulator's command line.

#include "options.hpp"

#include <string_view>

namespace ahrs_sim {
namespace {

using sim_common::OptionWord;

constexpr uint64_t kMaxProbeBytes = 255;  // the logger reads the probe answer into 255 bytes

constexpr std::string_view kFlags[] = {"--streaming", "--no-ack", "--xon-xoff"};
constexpr std::string_view kValued[] = {"--mode",        "--rate",        "--corrupt-rate",
                                        "--drop-rate",   "--insert-rate", "--bad-burst",
                                        "--probe-bytes", "--log"};

bool* flag_of(const std::string& name, SimOptions* options) {
    return name == "--streaming" ? &options->streaming
           : name == "--no-ack"  ? &options->no_ack
                                 : &options->xon_xoff;
}

// Stores one value of an option only this simulator has. Returns false with the reason.
bool parse_own_option(const OptionWord& word, SimOptions* options, std::string* error) {
    const std::string& name = word.name;
    const std::string& value = word.value;
    const char* text = value.c_str();
    const std::string bad = "bad value for " + name + ": " + value;
    uint64_t number = 0;
    if (name == "--mode") {
        if (value != "a" && value != "c" && value != "r") {
            *error = bad + " (a, c or r)";
            return false;
        }
        options->mode = value[0];
    } else if (name == "--rate") {
        if (!sim_common::parse_double_in(text, kMinRateHz, kMaxRateHz, &options->rate_hz)) {
            *error = bad + " (0.001 to 100000)";
            return false;
        }
    } else if (name == "--log") {
        if (value.empty()) {
            *error = bad;
            return false;
        }
        options->log_path = value;
    } else if (name == "--corrupt-rate" || name == "--drop-rate" || name == "--insert-rate") {
        double* rate = name == "--corrupt-rate" ? &options->corrupt_rate
                       : name == "--drop-rate"  ? &options->drop_rate
                                                : &options->insert_rate;
        if (!sim_common::parse_double_in(text, 0.0, 1.0, rate)) {
            *error = bad + " (0 to 1)";
            return false;
        }
    } else if (name == "--bad-burst") {
        FaultEvent event{};
        if (!sim_common::parse_event(text, sim_common::kMaxCount, &event)) {
            *error = bad + " (N@K, N and K 0 to 1000000000000)";
            return false;
        }
        options->bad_bursts.push_back(event);
    } else if (name == "--probe-bytes") {
        if (!sim_common::parse_u64(text, &number) || number > kMaxProbeBytes) {
            *error = bad + " (0 to 255)";
            return false;
        }
        options->probe_bytes = static_cast<int>(number);
    }
    return true;
}

}  // namespace

const char* help_text() {
    return "usage: ahrs-sim [options]\n"
           "Plays the AHRS unit on a pseudo-terminal (or a serial device) and prints the device\n"
           "path to give the logger on the first line of standard output.\n"
           "\n"
           "  --mode a|c|r        output mode at start (default a)\n"
           "  --streaming         already streaming at start, in the initial mode\n"
           "  --rate HZ           packets per second while streaming, 0.001 to 100000\n"
           "                      (default 100)\n"
           "  --baud N            line pacing, 10 bits per byte, 0 to 10000000 (default 38400;\n"
           "                      0 = unpaced)\n"
           "  --seed N            seed of the motion and of the injected faults (default 1)\n"
           "  --link PATH         keep a symlink PATH to the current device and print PATH\n"
           "  --device PATH       serve an existing serial device instead of a pseudo-terminal\n"
           "  --corrupt-rate P    fraction of streamed bytes with one bit flipped (0 to 1)\n"
           "  --drop-rate P       fraction of streamed bytes dropped (0 to 1)\n"
           "  --insert-rate P     fraction of streamed bytes followed by one extra byte of a\n"
           "                      random value (0 to 1)\n"
           "  --bad-burst N@K     after K streamed packets, N packets with a wrong checksum\n"
           "                      (may be repeated)\n"
           "  --silence MS@K      after K streamed packets, send nothing for MS milliseconds\n"
           "                      (may be repeated)\n"
           "  --hangup MS@K       after K streamed packets, hang up the line; a new one appears\n"
           "                      after MS milliseconds, never when MS is 0 (may be repeated)\n"
           "                      N and K at most 1000000000000, MS at most 604800000 (a week)\n"
           "  --xon-xoff          leave software flow control on in the line's settings (IXON\n"
           "                      and IXOFF), as an earlier program might have left the port\n"
           "  --no-ack            never acknowledge a mode letter\n"
           "  --probe-bytes N     answer 'G' with only the first N bytes of a packet\n"
           "  --log FILE          append every byte the unit receives to FILE\n"
           "  --sent-log FILE     write one line per streamed packet to FILE (created afresh):\n"
           "                      K TAIL_WORD MICROSECONDS sent|unheard [FAULTS]\n"
           "  --duration S        exit after S seconds, at most 604800 (a week; default: run\n"
           "                      until SIGINT or SIGTERM)\n"
           "  --stdin-eof         exit when standard input reaches its end\n"
           "  --quiet             no status lines on standard error\n"
           "  --help              show this text\n";
}

bool parse_options(int argc, char** argv, SimOptions* options, std::string* error) {
    const sim_common::OptionTable table{
        .common = &options->common,
        .flags = kFlags,
        .valued = kValued,
        .set_flag = [options](const std::string& name) { *flag_of(name, options) = true; },
        .parse_own = [options](
                         const OptionWord& word,
                         std::string* reason) { return parse_own_option(word, options, reason); },
    };
    return sim_common::parse_command_line(argc, argv, table, error);
}

}  // namespace ahrs_sim
