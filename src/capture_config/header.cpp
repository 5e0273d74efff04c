// The capture header written and read field by field, each integer as little-endian bytes, so
// the file's layout never depends on the record's layout or the machine's byte order.

#include "capture_config/header.hpp"

#include <cstdint>
#include <cstdio>

namespace capture_config {
namespace {

void put_u32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t get_u32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

int32_t write_u32(HANDLE file, uint32_t value) {
    uint8_t bytes[4];
    put_u32(bytes, value);
    return write_block(file, bytes, sizeof bytes);
}

int32_t write_i32(HANDLE file, int32_t value) {
    return write_u32(file, static_cast<uint32_t>(value));
}

int32_t read_u32(HANDLE file, uint32_t* value) {
    uint8_t bytes[4];
    if (!read_block(file, bytes, sizeof bytes)) {
        return 0;
    }
    *value = get_u32(bytes);
    return 1;
}

int32_t read_i32(HANDLE file, int32_t* value) {
    uint32_t raw = 0;
    if (!read_u32(file, &raw)) {
        return 0;
    }
    *value = static_cast<int32_t>(raw);
    return 1;
}

int as_printed(uint32_t value) {
    return static_cast<int>(static_cast<int32_t>(value));
}

const char* model_text(uint8_t model) {
    switch (model) {
        case kModel50kHz:
            return "50 kHz\n";
        case kModel200kHz:
            return "200 kHz\n";
        default:
            return "unknown\n";
    }
}

}  // namespace

int32_t write_block(HANDLE file, const void* data, uint32_t count) {
    DWORD written = 0;
    if (!WriteFile(file, data, count, &written, nullptr)) {
        return 0;
    }
    return written == count ? 1 : 0;
}

int32_t read_block(HANDLE file, void* buffer, uint32_t count) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, count, &read, nullptr)) {
        return 0;
    }
    return read == count ? 1 : 0;
}

int32_t write_capture_header(HANDLE file, const CaptureHeader* header) {
    // The file order: the encoder resolutions come before the calibration value.
    return write_u32(file, kHeaderVersion) && write_u32(file, header->sampling_period) &&
                   write_u32(file, header->max_range) && write_u32(file, header->buf_size) &&
                   write_u32(file, header->num_samples) &&
                   write_i32(file, header->motor1_encoder_ppr) &&
                   write_i32(file, header->motor2_encoder_ppr) &&
                   write_i32(file, header->calibration_value) &&
                   write_block(file, &header->motor1_power, 1) &&
                   write_block(file, &header->motor2_power, 1) &&
                   write_block(file, &header->comport, 1) &&
                   write_block(file, &header->card_number, 1) &&
                   write_block(file, header->cal_file, kCalFileSize) &&
                   write_block(file, &header->sensor_model, 1)
               ? 1
               : 0;
}

int32_t read_capture_header(const char* path, HANDLE* file, CaptureHeader* header) {
    *file = INVALID_HANDLE_VALUE;
    *file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, HANDLE{});
    if (*file == INVALID_HANDLE_VALUE) {
        std::printf("Could not open %s\n", path);
        return 0;
    }

    const HANDLE f = *file;
    const bool complete =
        read_u32(f, &header->version) && read_u32(f, &header->sampling_period) &&
        read_u32(f, &header->max_range) && read_u32(f, &header->buf_size) &&
        read_u32(f, &header->num_samples) && read_i32(f, &header->motor1_encoder_ppr) &&
        read_i32(f, &header->motor2_encoder_ppr) && read_i32(f, &header->calibration_value) &&
        read_block(f, &header->motor1_power, 1) && read_block(f, &header->motor2_power, 1) &&
        read_block(f, &header->comport, 1) && read_block(f, &header->card_number, 1) &&
        read_block(f, header->cal_file, kCalFileSize);
    if (!complete) {
        return 0;
    }
    if (header->version == kHeaderVersion) {
        if (!read_block(f, &header->sensor_model, 1)) {
            return 0;
        }
        if (header->sensor_model != kModel50kHz && header->sensor_model != kModel200kHz) {
            return 0;
        }
    } else {
        // Headers before version 3 carry no model byte.
        header->sensor_model = kModelUnknown;
    }

    std::printf("Read Header\n");
    std::printf(" Header Version: %d\n", as_printed(header->version));
    std::printf(" Sampling period: %d\n", as_printed(header->sampling_period));
    std::printf(" Max range: %d (in)\n", as_printed(header->max_range));
    std::printf(" Buf size: %d\n", as_printed(header->buf_size));
    std::printf(" Num samples: %d\n", as_printed(header->num_samples));
    std::printf(" Motor 1 encoder ppr: %d\n", header->motor1_encoder_ppr);
    std::printf(" Motor 2 encoder ppr: %d\n", header->motor2_encoder_ppr);
    std::printf(" Motor 1 power: %d\n", header->motor1_power);
    std::printf(" Motor 2 power: %d\n", header->motor2_power);
    std::printf(" Calibration value: %d\n", header->calibration_value);
    std::printf(" Comport: %d\n", header->comport);
    std::printf(" Card number: %d\n", header->card_number);
    // The name in a file need not be terminated within its 256 bytes.
    std::printf(" Cal file: %.*s\n", kCalFileSize, header->cal_file);
    std::printf(" Sensor Model: AR4000 - %s", model_text(header->sensor_model));
    return 1;
}

}  // namespace capture_config
