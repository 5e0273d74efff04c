// The simulated receiver's command line.

#include "options.hpp"

#include <chrono>
#include <string_view>

namespace gps_sim {
namespace {

using sim_common::OptionWord;
using sim_common::parse_double_in;

constexpr int64_t kSecondsPerDay = 86400;
// RMC carries the year in two digits: only one century can be told.
constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2099;

constexpr std::string_view kValued[] = {
    "--rate",        "--lat", "--lon", "--alt", "--utc", "--no-fix", "--bad-checksum-rate",
    "--garbage-rate"};

// "YYYY-MM-DDTHH:MM:SS" (UTC) into seconds since 1970, the year 2000 to 2099.
bool parse_utc(const std::string& text, int64_t* seconds) {
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != kShape.size()) {
        return false;
    }
    for (size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) {
            return false;
        }
    }
    const auto number = [&text](size_t at, size_t digits) {
        int value = 0;
        for (size_t i = at; i < at + digits; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(number(5, 2))),
                                           std::chrono::day(static_cast<unsigned>(number(8, 2)))};
    if (!date.ok() || year < kFirstYear || year > kLastYear || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    const int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    *seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

// Stores one value of an option only the receiver has. Returns false with the reason.
bool parse_own_option(const OptionWord& word, GpsOptions* options, std::string* error) {
    const std::string& name = word.name;
    const char* text = word.value.c_str();
    const std::string bad = "bad value for " + name + ": " + word.value;
    struct Ranged {
        const char* name;
        double low;
        double high;
        double* value;
        const char* accepted;
    };
    const Ranged ranged[] = {
        {"--rate", kMinRateHz, kMaxRateHz, &options->rate_hz, " (0.1 to 20)"},
        {"--lat", -90.0, 90.0, &options->latitude_deg, " (degrees, -90 to 90)"},
        {"--lon", -180.0, 180.0, &options->longitude_deg, " (degrees, -180 to 180)"},
        {"--alt", kMinAltitudeM, kMaxAltitudeM, &options->altitude_m, " (metres, -1000 to 10000)"},
        {"--no-fix", 0.0, sim_common::kMaxDurationS, &options->no_fix_s, " (seconds, 0 to 604800)"},
        {"--bad-checksum-rate", 0.0, 1.0, &options->bad_checksum_rate, " (0 to 1)"},
        {"--garbage-rate", 0.0, 1.0, &options->garbage_rate, " (0 to 1)"},
    };
    for (const Ranged& entry : ranged) {
        if (name == entry.name) {
            if (!parse_double_in(text, entry.low, entry.high, entry.value)) {
                *error = bad + entry.accepted;
                return false;
            }
            return true;
        }
    }
    if (name == "--utc" && !parse_utc(word.value, &options->start_utc_s)) {
        *error = bad + " (YYYY-MM-DDTHH:MM:SS, the year 2000 to 2099)";
        return false;
    }
    return true;
}

}  // namespace

const char* help_text() {
    return "usage: gps-sim [options]\n"
           "Plays the GPS receiver on a pseudo-terminal (or a serial device): NMEA 0183 GGA, RMC,\n"
           "GSA and GSV sentences every epoch. Prints the device path to give the logger on the\n"
           "first line of standard output.\n"
           "\n"
           "  --rate HZ           epochs per second, 0.1 to 20 (default 1)\n"
           "  --baud N            line pacing, 10 bits per byte, 0 to 10000000 (default 9600;\n"
           "                      0 = unpaced)\n"
           "  --lat DEG           mean latitude, decimal degrees, north positive (default 48.383)\n"
           "  --lon DEG           mean longitude, decimal degrees, east positive (default -4.495)\n"
           "  --alt M             mean altitude above mean sea level, -1000 to 10000 (default 12)\n"
           "  --utc TIME          UTC of the first epoch, YYYY-MM-DDTHH:MM:SS, the year 2000 to\n"
           "                      2099 (default 2024-05-01T09:30:00)\n"
           "  --seed N            seed of the fix, the satellites and the faults (default 1)\n"
           "  --link PATH         keep a symlink PATH to the current device and print PATH\n"
           "  --device PATH       serve an existing serial device instead of a pseudo-terminal\n"
           "  --no-fix S          no fix in the epochs of the first S seconds (0 to 604800)\n"
           "  --bad-checksum-rate P  fraction of sentences with a wrong checksum (0 to 1)\n"
           "  --garbage-rate P    fraction of sentences with 1 to 16 random bytes before them\n"
           "                      (0 to 1)\n"
           "  --silence MS@K      after K sentences, send nothing for MS milliseconds\n"
           "                      (may be repeated)\n"
           "  --hangup MS@K       after K sentences, hang up the line; a new one appears after\n"
           "                      MS milliseconds, never when MS is 0 (may be repeated)\n"
           "                      K at most 1000000000000, MS at most 604800000 (a week)\n"
           "  --sent-log FILE     write one line per sentence to FILE (created afresh):\n"
           "                      K MICROSECONDS sent|unheard FAULTS SENTENCE\n"
           "  --duration S        exit after S seconds, at most 604800 (a week; default: run\n"
           "                      until SIGINT or SIGTERM)\n"
           "  --stdin-eof         exit when standard input reaches its end\n"
           "  --quiet             no status lines on standard error\n"
           "  --help              show this text\n";
}

bool parse_options(int argc, char** argv, GpsOptions* options, std::string* error) {
    const sim_common::OptionTable table{
        .common = &options->common,
        .valued = kValued,
        .parse_own = [options](
                         const OptionWord& word,
                         std::string* reason) { return parse_own_option(word, options, reason); },
    };
    return sim_common::parse_command_line(argc, argv, table, error);
}

}  // namespace gps_sim
