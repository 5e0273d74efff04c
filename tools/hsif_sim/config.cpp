// Reading the simulator's controls from the environment.

#include "config.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace hsif_sim {
namespace {

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

// Parses a whole decimal integer; false when the text is not one.
bool parse_integer(const std::string& text, int64_t* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

std::vector<int64_t> parse_lines(const std::string& text) {
    std::vector<int64_t> lines;
    for (const std::string& item : split_list(text)) {
        int64_t line = 0;
        if (parse_integer(item, &line) && line >= 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<FailRule> parse_fail(const std::string& text) {
    std::vector<FailRule> rules;
    for (const std::string& item : split_list(text)) {
        FailRule rule;
        const size_t hash = item.find('#');
        rule.name = item.substr(0, hash);
        if (hash != std::string::npos) {
            int64_t call = 0;
            if (!parse_integer(item.substr(hash + 1), &call) || call < 1) {
                continue;
            }
            rule.call = call;
        }
        rules.push_back(rule);
    }
    return rules;
}

}  // namespace

Config read_config() {
    Config config;
    config.fail = parse_fail(env("HSIF_SIM_FAIL"));
    config.lost_lines = parse_lines(env("HSIF_SIM_LOST_LINES"));
    config.timeout_lines = parse_lines(env("HSIF_SIM_TIMEOUT_LINES"));

    int64_t number = 0;
    if (parse_integer(env("HSIF_SIM_MODEL"), &number) && (number == 0 || number == 1)) {
        config.model = static_cast<int32_t>(number);
    }
    // The 200 kHz card samples every 5 µs at best, the 50 kHz card every 20 µs.
    config.min_period = config.model != 0 ? 5 : 20;
    if (parse_integer(env("HSIF_SIM_MIN_PERIOD"), &number) && number > 0 && number <= 1000000) {
        config.min_period = static_cast<int32_t>(number);
    }
    if (parse_integer(env("HSIF_SIM_SEED"), &number)) {
        config.seed = static_cast<uint64_t>(number);
    }

    const std::string speedup = env("HSIF_SIM_SPEEDUP");
    if (!speedup.empty()) {
        char* end = nullptr;
        const double value = std::strtod(speedup.c_str(), &end);
        if (end != speedup.c_str() && *end == '\0' && value >= 0.0 && value <= 1e9) {
            config.speedup = value;
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
