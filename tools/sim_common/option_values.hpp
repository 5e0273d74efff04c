#pragma once
// The simulators' command-line helpers: option words and their values, numbers read strictly,
// the MS@K fault events, and the bounds both simulators keep.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim_common {

// Bounds of the values: beyond what any test run wants, and far from overflowing a 64-bit
// nanosecond clock (a week is 6e14 ns).
constexpr double kMaxDurationS = 604800.0;     // a week
constexpr uint64_t kMaxFaultMs = 604800000;    // a week
constexpr uint64_t kMaxCount = 1000000000000;  // over three months of AHRS packets at 100 kHz
constexpr uint64_t kMaxBaud = 10000000;        // a byte in 1 µs

// A fault that starts after a given number of items (packets, sentences) have gone out, counted
// over the whole run.
struct FaultEvent {
    uint64_t after_count;  // K of N@K or MS@K, at most kMaxCount
    uint64_t amount;       // N of N@K (items) or MS of MS@K (milliseconds)
};

// One option of the command line: its name ("--rate") and, for an option that takes one, its
// value, from the next word or after '=' ("--rate=5").
struct OptionWord {
    std::string name;
    std::string value;
    bool is_flag = false;  // one of the flags: no value
};

// A decimal number without sign or blanks. False when text is anything else or overflows.
bool parse_u64(const char* text, uint64_t* value);

// A finite number as strtod reads it, the whole text. False otherwise.
bool parse_double(const char* text, double* value);

// parse_double within [low, high].
bool parse_double_in(const char* text, double low, double high, double* value);

// "A@K" into *event, A at most max_amount and K at most kMaxCount.
bool parse_event(const char* text, uint64_t max_amount, FaultEvent* event);

// The options every simulator takes alike: --baud, --seed, --link, --device, --sent-log,
// --silence and --hangup (repeatable), --duration, and the flags --stdin-eof, --quiet, --help.
struct CommonValues {
    uint32_t baud = 0;                   // line pacing, 10 bits per byte; 0 = as fast as taken
    uint64_t seed = 1;                   // of everything the simulator draws
    std::string link_path{};             // symlink kept pointing at the current pty slave
    std::string device_path{};           // an existing serial device to serve instead of a pty
    std::string sent_log_path{};         // one line per item sent, created afresh
    std::vector<FaultEvent> silences{};  // MS@K: MS milliseconds of silence after K items
    std::vector<FaultEvent> hangups{};   // MS@K: MS 0, the line never comes back
    double duration_s = 0.0;             // 0 = run until SIGINT or SIGTERM
    bool stdin_eof = false;              // end the run when standard input reaches its end
    bool quiet = false;                  // no status lines on standard error
    bool help = false;
};

// A simulator's command line: the common options, and its own flags (no value) and valued
// options (one value, the next word or after '=') with what stores them; set_flag may be empty
// when there are no flags of its own.
struct OptionTable {
    CommonValues* common = nullptr;
    std::span<const std::string_view> flags{};
    std::span<const std::string_view> valued{};
    std::function<void(const std::string& name)> set_flag{};
    // Stores a valued option of the simulator's own; false with the reason when refused.
    std::function<bool(const OptionWord& word, std::string* error)> parse_own{};
};

// Reads argv[1..argc-1] by the table. Returns true on success; otherwise false with a one-line
// reason in *error: an unknown option, a word that is no option, a missing value, a value given
// to a flag, or a refused value ("bad value for --baud: x (0 to 10000000)").
bool parse_command_line(int argc, char** argv, const OptionTable& table, std::string* error);

}  // namespace sim_common
