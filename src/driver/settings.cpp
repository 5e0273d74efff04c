#include "driver/settings.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "ahrs/packet.hpp"
#include "laser/samples.hpp"
#include "platform/paths.hpp"

namespace driver {
namespace {

constexpr const char* kHelpHint = "type morvane without any parameters for help";

// The longest time step and record spacing taken, in seconds: far beyond any unit's packet
// interval, and small enough that a time computed from a 32-bit packet count stays exact to the
// microsecond the records print.
constexpr double kMaxSeconds = 1000000.0;

// The three output files of a run, by role, for the check that they are distinct.
struct OutputFile {
    const char* role;
    const char* name;
};

// Reports the first two outputs that name the same file; true when all are distinct.
bool outputs_distinct(const RunSettings& s) {
    const OutputFile outputs[] = {
        {"laser", s.laser_file}, {"gyro", s.gyro_file}, {"GPS", s.gps_file}};
    for (size_t i = 0; i < std::size(outputs); ++i) {
        for (size_t j = i + 1; j < std::size(outputs); ++j) {
            if (platform::same_file(outputs[i].name, outputs[j].name)) {
                std::fprintf(stderr, "Error: the %s file %s and the %s file %s are the same file\n",
                             outputs[i].role, outputs[i].name, outputs[j].role, outputs[j].name);
                return false;
            }
        }
    }
    return true;
}

// The leading decimal number of a word; 0 without one, the nearest limit beyond 32 bits.
int32_t to_int(const char* word) {
    long long value = std::strtoll(word, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

double to_double(const char* word) {
    return std::strtod(word, nullptr);
}

// The letters of the options that take a value word.
constexpr const char* kValueOptions = "cbslrmpMCBtfdSRNPn";

// The options whose value word is a 32-bit integer, and the setting each fills.
struct IntegerOption {
    char letter;
    int32_t RunSettings::*field;
};

constexpr IntegerOption kIntegerOptions[] = {
    {'c', &RunSettings::laser_port},    {'b', &RunSettings::board_number},
    {'s', &RunSettings::sample_period}, {'l', &RunSettings::lines},
    {'r', &RunSettings::max_range},     {'m', &RunSettings::motor_number},
    {'p', &RunSettings::motor_power},   {'B', &RunSettings::gyro_baud},
    {'R', &RunSettings::gps_baud},      {'N', &RunSettings::gps_bits},
    {'P', &RunSettings::gps_parity},    {'n', &RunSettings::gps_stop_bits},
};

// Stores the value word of an option of kValueOptions into the settings.
void set_option(char letter, const char* value, RunSettings* s) {
    for (const IntegerOption& option : kIntegerOptions) {
        if (option.letter == letter) {
            s->*option.field = to_int(value);
            return;
        }
    }
    switch (letter) {
        case 'M':
            s->gyro_mode = value[0];
            break;
        case 'C':
            s->gyro_port = value;
            break;
        case 'S':
            s->gps_port = value;
            break;
        case 't':
            s->dt = to_double(value);
            break;
        case 'f':
            s->time_rate = to_double(value);
            break;
        // A negative count is kept as its 32-bit pattern so check_settings can refuse it.
        case 'd':
            s->decimation = static_cast<uint32_t>(to_int(value));
            break;
        default:
            break;
    }
}

}  // namespace

void print_usage(const char* program, FILE* out) {
    std::fprintf(out, "usage: %s <Laserfile><Gyrofile><GPSfile> <options>\n", program);
    std::fputs(
        "Available options are: \n"
        "-c <comm port number for Laser> where the default is 1.\n"
        "-b <HSIF board number> where the default is 1.\n"
        "-s <sample period> where the default is 20us.\n"
        "-l <lines - numbers of buffer> where the default is 200 which means 1000000 samples "
        "(15M).\n"
        "-r <max range> where the default is 650 inches.\n"
        "-m <motor number> where the default is 1.\n"
        "-p <motor power level> where the default is 255 which means the highest speed\n"
        "-M <mode for Gyro> where <mode> is a, r, or c. Default is angle mode (a).\n"
        "-C <comm port for Gyro> where the default is COM2 (2)\n"
        "-B <baud rate for Gyro> where the default is 38400 (38400)\n"
        "-t <dt> sets dt time between counts for time output (default prints counts)\n"
        "    The -t option requires the user know the delta-t between samples\n"
        "-f <sec> sets the time output data rate, default is full rate(0)\n"
        "    The -f option requires the -t option set, otherwise will use 0\n"
        "-d <output sample decimation rate> where the default is full rate(0)\n"
        "-D replaces counts output and dt output with DOS time\n"
        "    The -D option should be used with -d option (inaccurate at full rate)\n"
        "-S <comm port for GPS> where the default is COM3\n"
        "-R <baud rate for GPS> where the default is 9600\n"
        "-N <number of bits in the bytes> where the default is 8\n"
        "-P <patiry > where the default is NOPARITY (0)\n"
        "    Parity values: 0 -- No parity; 1 -- Odd; 2 -- Even; 3 -- Mark; 4 -- Space.\n"
        "-n <the number of the stop bits> where the default is ONESTOPBIT (1)\n"
        "    StopBits values: 0 -- 1 stop bit; 1 -- 1.5 stop bits; 2 -- 2 stop bits.\n",
        out);
}

ParseResult parse_arguments(int argc, char** argv, RunSettings* settings, FILE* out) {
    if (argc < 4) {
        print_usage(argc > 0 ? argv[0] : "morvane", out);
        return kParseUsage;
    }
    settings->laser_file = argv[1];
    settings->gyro_file = argv[2];
    settings->gps_file = argv[3];

    // The option letter is a word's second character; the first is not examined.
    for (int i = 4; i < argc; ++i) {
        const char* word = argv[i];
        if (std::strlen(word) < 2) {
            std::fprintf(out, "unknown argument: %s\n%s\n", word, kHelpHint);
            return kParseError;
        }
        char letter = word[1];
        if (letter == 'D') {
            settings->dos_time = 1;
            continue;
        }
        if (std::strchr(kValueOptions, letter) == nullptr) {
            std::fprintf(out, "unknown argument: -%c\n%s\n", letter, kHelpHint);
            return kParseError;
        }
        if (i + 1 >= argc) {
            std::fprintf(out, "missing value for -%c\n%s\n", letter, kHelpHint);
            return kParseError;
        }
        set_option(letter, argv[++i], settings);
    }
    return kParseOk;
}

void parse_command_line(int argc, char** argv, RunSettings* settings) {
    switch (parse_arguments(argc, argv, settings, stdout)) {
        case kParseOk:
            return;
        case kParseUsage:
            std::fflush(stdout);
            std::getchar();  // on a console, the usage stays visible until Enter
            std::exit(1);
        case kParseError:
            std::fflush(stdout);
            std::exit(1);
    }
}

bool check_settings(RunSettings* settings) {
    bool ok = true;
    if (ahrs::packet_length_of(settings->gyro_mode) == 0) {
        std::fputs("Gyro - the mode (-M) must be a, c or r\n", stderr);
        ok = false;
    }
    if (static_cast<int32_t>(settings->decimation) < 0) {
        std::fprintf(stderr, "Gyro - the decimation (-d) must not be negative: %d\n",
                     static_cast<int32_t>(settings->decimation));
        ok = false;
    } else if (settings->decimation == 0) {
        settings->decimation = 1;  // 0 means full rate
    }
    // A negative time step means counts; any other must give finite times.
    if (std::isnan(settings->dt) || settings->dt > kMaxSeconds) {
        std::fprintf(stderr, "Gyro - the time step (-t) must be at most %.0f seconds, not %g\n",
                     kMaxSeconds, settings->dt);
        ok = false;
    }
    if (!std::isfinite(settings->time_rate) || std::fabs(settings->time_rate) > kMaxSeconds) {
        std::fprintf(stderr,
                     "Gyro - the record spacing (-f) must be at most %.0f seconds, not %g\n",
                     kMaxSeconds, settings->time_rate);
        ok = false;
    }
    // The GPS line as the usage text offers it: data bits 5 to 8, parity 0 none, 1 odd, 2 even,
    // 3 mark, 4 space, stop bits 0 one, 1 one and a half, 2 two.
    const struct {
        const char* what;
        int32_t value, low, high;
    } gps_ranges[] = {
        {"baud rate (-R)", settings->gps_baud, 1, INT32_MAX},
        {"data bits (-N)", settings->gps_bits, 5, 8},
        {"parity (-P)", settings->gps_parity, 0, 4},
        {"stop bits (-n)", settings->gps_stop_bits, 0, 2},
    };
    for (const auto& range : gps_ranges) {
        if (range.value < range.low || range.value > range.high) {
            std::fprintf(stderr, "GPS - the %s must be %d to %d, not %d\n", range.what, range.low,
                         range.high, range.value);
            ok = false;
        }
    }
    if (settings->lines < 0 || settings->lines > laser::kMaxLines) {
        std::fprintf(stderr, "Error: the lines (-l) must be 0 to %d, not %d\n", laser::kMaxLines,
                     settings->lines);
        ok = false;
    }
    // The files come last: their check looks at the file system, and only when the rest holds.
    return ok && outputs_distinct(*settings);
}

}  // namespace driver
