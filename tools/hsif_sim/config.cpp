// Reading the simulator's controls from the environment.

#include "config.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "laser/hsif_api.hpp"

namespace hsif_sim {
namespace {

#define HSIF_SIM_NAME(name, params) #name,
constexpr std::string_view kEntryPoints[] = {HSIF_ENTRY_POINTS(HSIF_SIM_NAME)};
#undef HSIF_SIM_NAME

// The speed-ups accepted besides 0. Slower than a thousandth of real time, the wait for a full
// sample array at the longest period (200 x 5000 x 100000 µs x 1000) would no longer fit the
// clock's 64-bit nanoseconds. A million times faster makes a line at the shortest period 25 ns:
// faster still is no pacing at all, which 0 asks for, and the count of samples gathered would
// overflow within hours.
constexpr double kMinSpeedup = 0.001;
constexpr double kMaxSpeedup = 1000000.0;
constexpr const char* kSpeedupAccepted = "0 for no pacing, or 0.001 to 1000000";
// The longest sample period the card takes: a larger minimum would refuse every period.
constexpr int64_t kMaxMinPeriod = 100000;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Splits at commas, dropping blanks around the items and empty items.
std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string item = text.substr(start, end - start);
        const size_t first = item.find_first_not_of(" \t");
        const size_t last = item.find_last_not_of(" \t");
        if (first != std::string::npos) {
            items.push_back(item.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return items;
}

bool starts_with_digit(const std::string& text) {
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

// Parses a whole decimal number of digits only (no sign, no blanks) up to INT64_MAX.
bool parse_whole(const std::string& text, int64_t* value) {
    if (!starts_with_digit(text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

bool parse_unsigned(const std::string& text, uint64_t* value) {
    if (!starts_with_digit(text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

// A finite number, the whole text without leading blanks.
bool parse_real(const std::string& text, double* value) {
    if (text.empty() || text.front() == ' ' || text.front() == '\t') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) {
        return false;
    }
    *value = parsed;
    return true;
}

void refuse(Config* config, const char* name, const std::string& value, const char* accepted) {
    config->refused.push_back(std::string(name) + "=" + value + " refused (accepted: " + accepted +
                              ")");
}

// A list of line numbers; one bad item refuses the whole list.
std::vector<int64_t> read_lines(Config* config, const char* name) {
    const std::string text = env(name);
    std::vector<int64_t> lines;
    for (const std::string& item : split_list(text)) {
        int64_t line = 0;
        if (!parse_whole(item, &line)) {
            refuse(config, name, text, "comma-separated line numbers, whole numbers from 0");
            return {};
        }
        lines.push_back(line);
    }
    return lines;
}

// HSIF_SIM_FAIL; one bad item (an unknown name, a bad call number) refuses the whole list.
std::vector<FailRule> read_fail(Config* config) {
    const char* name = "HSIF_SIM_FAIL";
    const std::string text = env(name);
    std::vector<FailRule> rules;
    for (const std::string& item : split_list(text)) {
        FailRule rule;
        const size_t hash = item.find('#');
        rule.name = item.substr(0, hash);
        const bool known = std::find(std::begin(kEntryPoints), std::end(kEntryPoints), rule.name) !=
                           std::end(kEntryPoints);
        const bool call_ok = hash == std::string::npos ||
                             (parse_whole(item.substr(hash + 1), &rule.call) && rule.call >= 1);
        if (!known || !call_ok) {
            refuse(config, name, text,
                   "comma-separated entry-point names of the library, each with an optional #k, "
                   "k a whole number from 1");
            return {};
        }
        rules.push_back(rule);
    }
    return rules;
}

// A whole number from low to high into *field; unset or empty keeps the field's value.
void read_whole(Config* config, const char* name, int64_t low, int64_t high, const char* accepted,
                int32_t* field) {
    const std::string text = env(name);
    int64_t number = 0;
    if (text.empty()) {
        return;
    }
    if (!parse_whole(text, &number) || number < low || number > high) {
        refuse(config, name, text, accepted);
        return;
    }
    *field = static_cast<int32_t>(number);
}

}  // namespace

Config read_config() {
    Config config;
    config.fail = read_fail(&config);
    config.lost_lines = read_lines(&config, "HSIF_SIM_LOST_LINES");
    config.timeout_lines = read_lines(&config, "HSIF_SIM_TIMEOUT_LINES");
    read_whole(&config, "HSIF_SIM_MODEL", 0, 1, "0 or 1", &config.model);
    // The 200 kHz card samples every 5 µs at best, the 50 kHz card every 20 µs.
    config.min_period = config.model != 0 ? 5 : 20;
    read_whole(&config, "HSIF_SIM_MIN_PERIOD", 1, kMaxMinPeriod, "1 to 100000 (us)",
               &config.min_period);

    const std::string seed = env("HSIF_SIM_SEED");
    if (!seed.empty() && !parse_unsigned(seed, &config.seed)) {
        refuse(&config, "HSIF_SIM_SEED", seed, "a whole number, 0 to 18446744073709551615");
    }

    const std::string speedup = env("HSIF_SIM_SPEEDUP");
    double value = 0.0;
    if (!speedup.empty()) {
        if (parse_real(speedup, &value) &&
            (value == 0.0 || (value >= kMinSpeedup && value <= kMaxSpeedup))) {
            config.speedup = value;
        } else {
            refuse(&config, "HSIF_SIM_SPEEDUP", speedup, kSpeedupAccepted);
        }
    }

    config.port_path = env("HSIF_SIM_PORT");
    config.own_port = env("HSIF_SIM_OWN_PORT") == "1";
    config.calibration_dir = env("HSIF_SIM_CALIBRATION_DIR");
    config.trace_path = env("HSIF_SIM_TRACE");
    return config;
}

bool contains(const std::vector<int64_t>& list, int64_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace hsif_sim
