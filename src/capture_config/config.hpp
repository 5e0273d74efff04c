#pragma once
// CaptureHeader, the settings of a capture, and the reader of the capture configuration file.

#include <cstdint>

namespace capture_config {

constexpr int kCalFileSize = 256;
// The caller's raw_name and prc_name buffers hold at least this many bytes.
constexpr int kCaptureNameSize = 261;

constexpr uint8_t kModel50kHz = 0;
constexpr uint8_t kModel200kHz = 1;
constexpr uint8_t kModelUnknown = 255;

struct CaptureHeader {
    uint32_t version;
    uint32_t sampling_period;  // microseconds
    uint32_t max_range;        // inches
    uint32_t buf_size;
    uint32_t num_samples;
    int32_t calibration_value;
    int32_t motor1_encoder_ppr;
    int32_t motor2_encoder_ppr;
    uint8_t motor1_power;
    uint8_t motor2_power;
    uint8_t comport;
    uint8_t card_number;          // 0 to 15
    char cal_file[kCalFileSize];  // zero-terminated
    uint8_t sensor_model;         // kModel50kHz, kModel200kHz or kModelUnknown
};

// Reads the numbered parameters of the file at path into header and the caller's variables,
// echoing each value taken on standard output and reporting each line it cannot use. Never
// clears the header: a field whose parameter is missing keeps the caller's value. Returns 1 when
// the file was read and every parameter read was taken, else 0. A number beyond the signed
// 32-bit range is read as the nearest limit.
int32_t parse_capture_config(const char* path, CaptureHeader* header, int32_t* motor_delay_ms,
                             char* raw_name, char* prc_name, uint8_t* single_cpu,
                             uint8_t* write_raw);

}  // namespace capture_config
