// The capture configuration file: one numbered parameter per line, each checked, echoed on
// standard output when taken and reported when not.

#include "capture_config/config.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace capture_config {
namespace {

// Lines are read with a buffer of this size: at most 1023 characters per read, the line feed
// included; the rest of a longer line is read as the next line.
constexpr int kLineSize = 1024;

constexpr int kParameterCount = 16;

// The longest names taken: cal_file keeps its terminator within its 256 bytes, and the capture
// name leaves room in the caller's 261-byte buffers for ".raw" or ".prc" and a terminator.
constexpr size_t kMaxCalFileLength = kCalFileSize - 1;
constexpr size_t kMaxCaptureNameLength = 256;
static_assert(kMaxCaptureNameLength + sizeof ".raw" <= kCaptureNameSize);

// What the error line names for each parameter, parameter n at index n - 1.
constexpr const char* kDescriptions[kParameterCount] = {
    "Config file version",
    "Com port",
    "HSIF card number",
    "Sampling period in microseconds",
    "Max range in inches",
    "Buffer size for intermediate sample storage (30,000 max)",
    "Number of samples to capture",
    "Motor 1 power (0..255)",
    "Motor 2 power (0..255)",
    "Motor 1 encoder pulses per revolution",
    "Motor 2 encoder pulses per revolution",
    "Calibration file (lookuphs)",
    "Output capture data filename",
    "Delay in milliseconds before acquisition starts to allow motors to stabilize",
    "Process affinity - set to 1 for single CPU, else set to 0 for multiple CPUs",
    "Write \".raw\" file - set to 1 to write this file for rt_cap utility",
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

// Stores an unsigned parameter first and then tests it, so a rejected value stays in its field.
bool store_unsigned(int32_t number, uint32_t* field, uint32_t low, uint32_t high) {
    *field = static_cast<uint32_t>(number);
    return *field >= low && *field <= high;
}

// Stores a one-byte parameter only when it is within low to high, compared signed.
bool store_byte(int32_t number, uint8_t* field, int32_t low, int32_t high) {
    if (number < low || number > high) {
        return false;
    }
    *field = static_cast<uint8_t>(number);
    return true;
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

    char line[kLineSize];
    bool any_failed = false;
    bool stop = false;
    for (int n = 1; std::fgets(line, kLineSize, file) != nullptr; ++n) {
        if (stop) {
            break;
        }
        // fgets terminates what it stores; this keeps the name copies within the buffer even if
        // it did not.
        line[kLineSize - 1] = '\0';

        int32_t number = 0;
        const bool is_number = read_number(line, &number);
        bool taken = false;
        switch (n) {
            case 1:
                if (is_number) {
                    header->version = static_cast<uint32_t>(number);
                    std::printf("Configuration version = %d\n", as_printed(header->version));
                    taken = true;
                }
                break;
            case 2:
                if (is_number && store_byte(number, &header->comport, 1, 254)) {
                    std::printf("Comport = %d\n", header->comport);
                    taken = true;
                }
                break;
            case 3:
                // A card number outside 0 to 15 is passed over: the earlier one stays, and the echo
                // shows it.
                if (is_number) {
                    if (number >= 0 && number <= 15) {
                        header->card_number = static_cast<uint8_t>(number);
                    }
                    std::printf("Card number = %d\n", header->card_number);
                    taken = true;
                }
                break;
            case 4:
                if (is_number && store_unsigned(number, &header->sampling_period, 5, UINT32_MAX)) {
                    std::printf("Sampling period = %d us\n", as_printed(header->sampling_period));
                    taken = true;
                }
                break;
            case 5:
                if (is_number && store_unsigned(number, &header->max_range, 0, 99999)) {
                    std::printf("Max range = %d\n", as_printed(header->max_range));
                    taken = true;
                }
                break;
            case 6:
                if (is_number && store_unsigned(number, &header->buf_size, 1, 30000)) {
                    std::printf("Buffer Size = %d\n", as_printed(header->buf_size));
                    taken = true;
                }
                break;
            case 7:
                if (is_number && store_unsigned(number, &header->num_samples, 1, UINT32_MAX)) {
                    std::printf("Number of samples = %d\n", as_printed(header->num_samples));
                    taken = true;
                }
                break;
            case 8:
                if (is_number && store_byte(number, &header->motor1_power, 0, 255)) {
                    std::printf("Motor 1 power = %d\n", header->motor1_power);
                    taken = true;
                }
                break;
            case 9:
                if (is_number && store_byte(number, &header->motor2_power, 0, 255)) {
                    std::printf("Motor 2 power = %d\n", header->motor2_power);
                    taken = true;
                }
                break;
            case 10:
                if (is_number) {
                    header->motor1_encoder_ppr = number;
                    std::printf("Motor 1 encoder ppr = %d\n", header->motor1_encoder_ppr);
                    taken = true;
                }
                break;
            case 11:
                if (is_number) {
                    header->motor2_encoder_ppr = number;
                    std::printf("Motor 2 encoder ppr = %d\n", header->motor2_encoder_ppr);
                    taken = true;
                }
                break;
            case 12: {
                // Copied through a local buffer so that a name that is refused leaves cal_file as
                // it was.
                char name[kCalFileSize];
                if (read_name(line, name, kMaxCalFileLength) > 0) {
                    std::memcpy(header->cal_file, name, std::strlen(name) + 1);
                    std::printf("Calibration file = %s\n", header->cal_file);
                    taken = true;
                }
                break;
            }
            case 13: {
                char name[kMaxCaptureNameLength + 1];
                const size_t length = read_name(line, name, kMaxCaptureNameLength);
                if (length > 0) {
                    std::memcpy(raw_name, name, length);
                    std::memcpy(raw_name + length, ".raw", sizeof ".raw");
                    std::memcpy(prc_name, name, length);
                    std::memcpy(prc_name + length, ".prc", sizeof ".prc");
                    std::printf("Capture file = %s\n", raw_name);
                    taken = true;
                }
                break;
            }
            case 14:
                if (is_number) {
                    *motor_delay_ms = number;
                    std::printf("Motor stabilization delay = %d ms\n", *motor_delay_ms);
                    taken = true;
                }
                // Files of versions 0 and 1 end here.
                stop = header->version <= 1;
                break;
            case 15:
                if (is_number) {
                    *single_cpu = number == 1 ? 1 : 0;
                    std::printf("Process affinity = %d \n", number);
                    taken = true;
                }
                break;
            default:  // 16, the last parameter
                if (is_number) {
                    *write_raw = number == 1 ? 1 : 0;
                    std::printf("Write .raw file if runing rt_cap = %d\n", number);
                    taken = true;
                }
                stop = true;
                break;
        }
        if (!taken) {
            std::printf("Error reading parameter %d: \"%s\"\n", n, kDescriptions[n - 1]);
            any_failed = true;
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
