// The simulators' command-line helpers.

#include "option_values.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sim_common {
namespace {

constexpr std::string_view kCommonFlags[] = {"--stdin-eof", "--quiet", "--help", "-h"};
constexpr std::string_view kCommonValued[] = {"--baud",     "--seed",    "--link",   "--device",
                                              "--sent-log", "--silence", "--hangup", "--duration"};

bool is_one_of(const std::string& name, std::span<const std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Reads the option at argv[*index] and moves *index past it and its value. Returns false with
// the reason for an unknown option, a word that is no option, a missing value, or a value given
// to a flag.
bool next_option(int argc, char** argv, int* index, const OptionTable& table, OptionWord* word,
                 std::string* error) {
    const int i = (*index)++;
    *word = OptionWord{};
    word->name = argv[i];
    bool has_inline_value = false;
    const size_t equals = word->name.find('=');
    if (word->name.rfind("--", 0) == 0 && equals != std::string::npos) {
        word->value = word->name.substr(equals + 1);
        word->name.resize(equals);
        has_inline_value = true;
    }
    if (is_one_of(word->name, kCommonFlags) || is_one_of(word->name, table.flags)) {
        if (has_inline_value) {
            *error = word->name + " takes no value";
            return false;
        }
        word->is_flag = true;
        return true;
    }
    if (!is_one_of(word->name, kCommonValued) && !is_one_of(word->name, table.valued)) {
        *error = (word->name.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") +
                 std::string(argv[i]);
        return false;
    }
    if (!has_inline_value) {
        if (*index >= argc) {
            *error = word->name + " needs a value";
            return false;
        }
        word->value = argv[(*index)++];
    }
    return true;
}

// Stores a common flag; false for any other name.
bool set_common_flag(const std::string& name, CommonValues* values) {
    if (!is_one_of(name, kCommonFlags)) {
        return false;
    }
    *(name == "--stdin-eof" ? &values->stdin_eof
      : name == "--quiet"   ? &values->quiet
                            : &values->help) = true;
    return true;
}

// Stores the value of a common valued option and returns true; *error is then set when the
// value is refused, else empty. Returns false for any other name.
bool parse_common_option(const OptionWord& word, CommonValues* values, std::string* error) {
    const std::string& name = word.name;
    const char* text = word.value.c_str();
    const std::string bad = "bad value for " + name + ": " + word.value;
    uint64_t number = 0;
    error->clear();
    if (name == "--baud") {
        if (!parse_u64(text, &number) || number > kMaxBaud) {
            *error = bad + " (0 to 10000000)";
        } else {
            values->baud = static_cast<uint32_t>(number);
        }
    } else if (name == "--seed") {
        if (!parse_u64(text, &values->seed)) {
            *error = bad;
        }
    } else if (name == "--duration") {
        // 0 would be the default, which means no end.
        if (!parse_double(text, &values->duration_s) || values->duration_s <= 0.0 ||
            values->duration_s > kMaxDurationS) {
            *error = bad + " (seconds, above 0, at most 604800)";
        }
    } else if (name == "--silence" || name == "--hangup") {
        FaultEvent event{};
        if (!parse_event(text, kMaxFaultMs, &event)) {
            *error = bad + " (MS@K, MS 0 to 604800000, K 0 to 1000000000000)";
        } else {
            (name == "--silence" ? values->silences : values->hangups).push_back(event);
        }
    } else if (name == "--link" || name == "--device" || name == "--sent-log") {
        if (word.value.empty()) {
            *error = bad;
        } else {
            (name == "--link"     ? values->link_path
             : name == "--device" ? values->device_path
                                  : values->sent_log_path) = word.value;
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool parse_command_line(int argc, char** argv, const OptionTable& table, std::string* error) {
    for (int i = 1; i < argc;) {
        OptionWord word;
        if (!next_option(argc, argv, &i, table, &word, error)) {
            return false;
        }
        if (word.is_flag) {
            if (!set_common_flag(word.name, table.common) && table.set_flag) {
                table.set_flag(word.name);
            }
        } else if (parse_common_option(word, table.common, error)) {
            if (!error->empty()) {
                return false;
            }
        } else if (!table.parse_own(word, error)) {
            return false;
        }
    }
    return true;
}

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

bool parse_double_in(const char* text, double low, double high, double* value) {
    double parsed = 0.0;
    if (!parse_double(text, &parsed) || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

bool parse_event(const char* text, uint64_t max_amount, FaultEvent* event) {
    const char* at = std::strchr(text, '@');
    if (at == nullptr) {
        return false;
    }
    const std::string amount(text, static_cast<size_t>(at - text));
    return parse_u64(amount.c_str(), &event->amount) && event->amount <= max_amount &&
           parse_u64(at + 1, &event->after_count) && event->after_count <= kMaxCount;
}

}  // namespace sim_common
