// The simulator's command line.

#include "options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ahrs_sim {
namespace {

constexpr uint64_t kMaxProbeBytes = 255;  // the logger reads the probe answer into 255 bytes

bool parse_u64(const char* text, uint64_t* value) {
    if (*text < '0' || *text > '9') {
        return false;  // strtoull would accept a sign or blanks
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

bool parse_double(const char* text, double* value) {
    if (*text == '\0') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) {
        return false;
    }
    *value = parsed;
    return true;
}

// Parses "A@K" into a FaultEvent, A at most max_amount and K at most kMaxPackets.
bool parse_event(const char* text, uint64_t max_amount, FaultEvent* event) {
    const char* at = std::strchr(text, '@');
    if (at == nullptr) {
        return false;
    }
    const std::string amount(text, static_cast<size_t>(at - text));
    return parse_u64(amount.c_str(), &event->amount) && event->amount <= max_amount &&
           parse_u64(at + 1, &event->after_packets) && event->after_packets <= kMaxPackets;
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
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        std::string value;
        bool has_inline_value = false;
        const size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
            has_inline_value = true;
        }
        // Options without a value word.
        bool* flag = nullptr;
        if (word == "--streaming") {
            flag = &options->streaming;
        } else if (word == "--no-ack") {
            flag = &options->no_ack;
        } else if (word == "--stdin-eof") {
            flag = &options->stdin_eof;
        } else if (word == "--quiet") {
            flag = &options->quiet;
        } else if (word == "--xon-xoff") {
            flag = &options->xon_xoff;
        } else if (word == "--help" || word == "-h") {
            flag = &options->help;
        }
        if (flag != nullptr) {
            if (has_inline_value) {
                *error = word + " takes no value";
                return false;
            }
            *flag = true;
            continue;
        }
        static constexpr std::string_view kValued[] = {
            "--mode",        "--rate",      "--baud",         "--seed",
            "--link",        "--device",    "--corrupt-rate", "--drop-rate",
            "--insert-rate", "--bad-burst", "--silence",      "--hangup",
            "--probe-bytes", "--log",       "--sent-log",     "--duration"};
        bool known = false;
        for (std::string_view name : kValued) {
            known = known || word == name;
        }
        if (!known) {
            *error = (word.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") +
                     std::string(argv[i]);
            return false;
        }
        if (!has_inline_value) {
            if (i + 1 >= argc) {
                *error = word + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        const char* text = value.c_str();
        const std::string bad = "bad value for " + word + ": " + value;
        uint64_t number = 0;
        if (word == "--mode") {
            if (value != "a" && value != "c" && value != "r") {
                *error = bad + " (a, c or r)";
                return false;
            }
            options->mode = value[0];
        } else if (word == "--rate") {
            if (!parse_double(text, &options->rate_hz) || options->rate_hz < kMinRateHz ||
                options->rate_hz > kMaxRateHz) {
                *error = bad + " (0.001 to 100000)";
                return false;
            }
        } else if (word == "--baud") {
            if (!parse_u64(text, &number) || number > kMaxBaud) {
                *error = bad + " (0 to 10000000)";
                return false;
            }
            options->baud = static_cast<uint32_t>(number);
        } else if (word == "--seed") {
            if (!parse_u64(text, &options->seed)) {
                *error = bad;
                return false;
            }
        } else if (word == "--link" || word == "--device" || word == "--log" ||
                   word == "--sent-log") {
            if (value.empty()) {
                *error = bad;
                return false;
            }
            (word == "--link"     ? options->link_path
             : word == "--device" ? options->device_path
             : word == "--log"    ? options->log_path
                                  : options->sent_log_path) = value;
        } else if (word == "--corrupt-rate" || word == "--drop-rate" || word == "--insert-rate") {
            double* rate = word == "--corrupt-rate" ? &options->corrupt_rate
                           : word == "--drop-rate"  ? &options->drop_rate
                                                    : &options->insert_rate;
            if (!parse_double(text, rate) || *rate < 0.0 || *rate > 1.0) {
                *error = bad + " (0 to 1)";
                return false;
            }
        } else if (word == "--bad-burst" || word == "--silence" || word == "--hangup") {
            FaultEvent event{};
            const bool burst = word == "--bad-burst";
            if (!parse_event(text, burst ? kMaxPackets : kMaxFaultMs, &event)) {
                *error = bad + (burst ? " (N@K, N and K 0 to 1000000000000)"
                                      : " (MS@K, MS 0 to 604800000, K 0 to 1000000000000)");
                return false;
            }
            (word == "--bad-burst" ? options->bad_bursts
             : word == "--silence" ? options->silences
                                   : options->hangups)
                .push_back(event);
        } else if (word == "--probe-bytes") {
            if (!parse_u64(text, &number) || number > kMaxProbeBytes) {
                *error = bad + " (0 to 255)";
                return false;
            }
            options->probe_bytes = static_cast<int>(number);
        } else if (word == "--duration") {
            if (!parse_double(text, &options->duration_s) || options->duration_s <= 0.0 ||
                options->duration_s > kMaxDurationS) {
                *error = bad + " (seconds, above 0, at most 604800)";
                return false;
            }
        }
    }
    return true;
}

}  // namespace ahrs_sim
