// The capture configuration file: one numbered parameter per line, each checked, echoed on
// standard output when taken and reported when not.

#include "capture_config/config.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace capture_config {
namespace {

// Lines are read with a buffer of this size: at most 1023 characters per read, the line feed
// included; the rest of a longer line is read as the next line.
constexpr int kLineSize = 1024;

// The longest names taken: cal_file keeps its terminator within its 256 bytes, and the capture
// name leaves room in the caller's 261-byte buffers for ".raw" or ".prc" and a terminator.
constexpr size_t kMaxCalFileLength = kCalFileSize - 1;
constexpr size_t kMaxCaptureNameLength = 256;
static_assert(kMaxCaptureNameLength + sizeof ".raw" <= kCaptureNameSize);

// Where a parameter's value can go: the header, and the caller's variables beside it.
struct Outputs {
    CaptureHeader* header;
    int32_t* motor_delay_ms;
    char* raw_name;
    char* prc_name;
    uint8_t* single_cpu;
    uint8_t* write_raw;
};

// How a parameter's line is read and stored.
enum class Kind {
    kWhole,        // a number into a 32-bit header field, stored and then tested against the
                   // range, so a rejected value stays in its field
    kByte,         // a number into a one-byte header field, stored only within the range
    kSigned,       // any number, into a signed 32-bit header field or the motor delay
    kCard,         // the card number: any number is taken, and stored only within the range
    kCalFile,      // the calibration file's name
    kCaptureName,  // the capture's name, which gives the ".raw" and ".prc" names
    kFlag,         // 1 sets the flag, any other number clears it; the echo shows the number
};

// One numbered parameter: what the error line names it, how it is stored, its range and its
// echo (a printf format of the stored value, or of the number for a flag).
struct Parameter {
    const char* description;
    Kind kind;
    const char* echo;
    int64_t low = 0;
    int64_t high = 0;
    uint32_t CaptureHeader::*whole = nullptr;
    uint8_t CaptureHeader::*byte = nullptr;
    int32_t CaptureHeader::*signed_field = nullptr;
    int32_t* Outputs::*variable = nullptr;  // kSigned outside the header
    uint8_t* Outputs::*flag = nullptr;
    bool ends_old_files = false;  // files of versions 0 and 1 end after this parameter
};

// The parameters in file order: parameter n at index n - 1.
const Parameter kParameters[] = {
    {.description = "Config file version",
     .kind = Kind::kWhole,
     .echo = "Configuration version = %d\n",
     .low = 0,
     .high = UINT32_MAX,
     .whole = &CaptureHeader::version},
    {.description = "Com port",
     .kind = Kind::kByte,
     .echo = "Comport = %d\n",
     .low = 1,
     .high = 254,
     .byte = &CaptureHeader::comport},
    {.description = "HSIF card number",
     .kind = Kind::kCard,
     .echo = "Card number = %d\n",
     .low = 0,
     .high = 15,
     .byte = &CaptureHeader::card_number},
    {.description = "Sampling period in microseconds",
     .kind = Kind::kWhole,
     .echo = "Sampling period = %d us\n",
     .low = 5,
     .high = UINT32_MAX,
     .whole = &CaptureHeader::sampling_period},
    {.description = "Max range in inches",
     .kind = Kind::kWhole,
     .echo = "Max range = %d\n",
     .low = 0,
     .high = 99999,
     .whole = &CaptureHeader::max_range},
    {.description = "Buffer size for intermediate sample storage (30,000 max)",
     .kind = Kind::kWhole,
     .echo = "Buffer Size = %d\n",
     .low = 1,
     .high = 30000,
     .whole = &CaptureHeader::buf_size},
    {.description = "Number of samples to capture",
     .kind = Kind::kWhole,
     .echo = "Number of samples = %d\n",
     .low = 1,
     .high = UINT32_MAX,
     .whole = &CaptureHeader::num_samples},
    {.description = "Motor 1 power (0..255)",
     .kind = Kind::kByte,
     .echo = "Motor 1 power = %d\n",
     .low = 0,
     .high = 255,
     .byte = &CaptureHeader::motor1_power},
    {.description = "Motor 2 power (0..255)",
     .kind = Kind::kByte,
     .echo = "Motor 2 power = %d\n",
     .low = 0,
     .high = 255,
     .byte = &CaptureHeader::motor2_power},
    {.description = "Motor 1 encoder pulses per revolution",
     .kind = Kind::kSigned,
     .echo = "Motor 1 encoder ppr = %d\n",
     .signed_field = &CaptureHeader::motor1_encoder_ppr},
    {.description = "Motor 2 encoder pulses per revolution",
     .kind = Kind::kSigned,
     .echo = "Motor 2 encoder ppr = %d\n",
     .signed_field = &CaptureHeader::motor2_encoder_ppr},
    {.description = "Calibration file (lookuphs)",
     .kind = Kind::kCalFile,
     .echo = "Calibration file = %s\n"},
    {.description = "Output capture data filename",
     .kind = Kind::kCaptureName,
     .echo = "Capture file = %s\n"},
    {.description = "Delay in milliseconds before acquisition starts to allow motors to stabilize",
     .kind = Kind::kSigned,
     .echo = "Motor stabilization delay = %d ms\n",
     .variable = &Outputs::motor_delay_ms,
     .ends_old_files = true},
    {.description = "Process affinity - set to 1 for single CPU, else set to 0 for multiple CPUs",
     .kind = Kind::kFlag,
     .echo = "Process affinity = %d \n",
     .flag = &Outputs::single_cpu},
    {.description = "Write \".raw\" file - set to 1 to write this file for rt_cap utility",
     .kind = Kind::kFlag,
     .echo = "Write .raw file if runing rt_cap = %d\n",
     .flag = &Outputs::write_raw},
};

// The white space of the C locale, independent of the process's locale.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a decimal integer with an optional sign after optional leading white space, as strtol
// does with the 32-bit long of the Windows program: a value beyond the signed 32-bit range is
// held at INT32_MIN or INT32_MAX, on every platform. Returns false when the text does not begin
// with a number; text after the number is not looked at.
bool read_number(const char* text, int32_t* value) {
    const char* p = text;
    while (is_space(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!is_digit(*p)) {
        return false;
    }
    // Accumulates the magnitude, held just past the largest one that can matter (2^31) so that
    // any count of digits cannot overflow.
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; is_digit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
        }
    }
    int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX) {
        signed_value = INT32_MAX;
    }
    *value = static_cast<int32_t>(signed_value);
    return true;
}

// Copies the name at the start of text (after leading white space, up to a zero byte, white
// space or ";") into out, at most max_length characters, and terminates it. Returns its length.
size_t read_name(const char* text, char* out, size_t max_length) {
    const char* p = text;
    while (is_space(*p)) {
        ++p;
    }
    size_t length = 0;
    while (length < max_length && p[length] != '\0' && !is_space(p[length]) && p[length] != ';') {
        out[length] = p[length];
        ++length;
    }
    out[length] = '\0';
    return length;
}

// The echo lines print 32-bit fields with "%d", so an unsigned field shows as a signed number.
int as_printed(uint32_t value) {
    return static_cast<int>(static_cast<int32_t>(value));
}

// Stores a name parameter: the calibration file's name, or the capture's name with ".raw" and
// ".prc" appended. Copied through a local buffer so that a name that is refused leaves the field
// as it was. Returns whether a name was taken.
bool take_name(const Parameter& p, const char* line, const Outputs& out) {
    char name[kMaxCaptureNameLength + 1];
    if (p.kind == Kind::kCalFile) {
        if (read_name(line, name, kMaxCalFileLength) == 0) {
            return false;
        }
        std::memcpy(out.header->cal_file, name, std::strlen(name) + 1);
        std::printf(p.echo, out.header->cal_file);
        return true;
    }
    const size_t length = read_name(line, name, kMaxCaptureNameLength);
    if (length == 0) {
        return false;
    }
    std::memcpy(out.raw_name, name, length);
    std::memcpy(out.raw_name + length, ".raw", sizeof ".raw");
    std::memcpy(out.prc_name, name, length);
    std::memcpy(out.prc_name + length, ".prc", sizeof ".prc");
    std::printf(p.echo, out.raw_name);
    return true;
}

// Stores a number parameter as its row says and echoes it. Returns whether it was taken.
bool take_number(const Parameter& p, int32_t number, const Outputs& out) {
    CaptureHeader& header = *out.header;
    switch (p.kind) {
        case Kind::kWhole: {
            uint32_t& field = header.*p.whole;
            field = static_cast<uint32_t>(number);
            if (field < p.low || field > p.high) {
                return false;
            }
            std::printf(p.echo, as_printed(field));
            return true;
        }
        case Kind::kByte:
        case Kind::kCard: {
            const bool in_range = number >= p.low && number <= p.high;
            if (in_range) {
                header.*p.byte = static_cast<uint8_t>(number);
            } else if (p.kind == Kind::kByte) {
                return false;
            }
            // A card number outside its range is passed over: the earlier one stays, and the
            // echo shows it.
            std::printf(p.echo, header.*p.byte);
            return true;
        }
        case Kind::kSigned: {
            int32_t& field = p.variable != nullptr ? *(out.*p.variable) : header.*p.signed_field;
            field = number;
            std::printf(p.echo, field);
            return true;
        }
        case Kind::kFlag:
            *(out.*p.flag) = number == 1 ? 1 : 0;
            std::printf(p.echo, number);
            return true;
        default:
            return false;
    }
}

// Reads one parameter's line. Returns whether the parameter was taken.
bool take_parameter(const Parameter& p, const char* line, const Outputs& out) {
    if (p.kind == Kind::kCalFile || p.kind == Kind::kCaptureName) {
        return take_name(p, line, out);
    }
    int32_t number = 0;
    return read_number(line, &number) && take_number(p, number, out);
}

}  // namespace

int32_t parse_capture_config(const char* path, CaptureHeader* header, int32_t* motor_delay_ms,
                             char* raw_name, char* prc_name, uint8_t* single_cpu,
                             uint8_t* write_raw) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        std::printf("Could not open %s\n", path);
        return 0;
    }
    *single_cpu = 0;
    *write_raw = 0;

    const Outputs out{header, motor_delay_ms, raw_name, prc_name, single_cpu, write_raw};
    char line[kLineSize];
    bool any_failed = false;
    for (size_t n = 1; n <= std::size(kParameters) && std::fgets(line, kLineSize, file) != nullptr;
         ++n) {
        // fgets terminates what it stores; this keeps the name copies within the buffer even if
        // it did not.
        line[kLineSize - 1] = '\0';
        const Parameter& parameter = kParameters[n - 1];
        if (!take_parameter(parameter, line, out)) {
            std::printf("Error reading parameter %d: \"%s\"\n", static_cast<int>(n),
                        parameter.description);
            any_failed = true;
        }
        if (parameter.ends_old_files && header->version <= 1) {
            break;
        }
    }

    int32_t result = 1;
    if (any_failed) {
        std::printf("\nERROR: Configuration file parse failed.\n");
        result = 0;
    }
    std::fclose(file);
    return result;
}

}  // namespace capture_config
