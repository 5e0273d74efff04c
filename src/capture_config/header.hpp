#pragma once
// The binary capture header at the start of a capture data file: little-endian, no padding,
// fields in file order (the encoder resolutions before the calibration value), 293 bytes in
// version 3 (with the sensor model byte), 292 in any other version.

#include <cstdint>

#include "capture_config/config.hpp"
#include "platform/win32.hpp"

namespace capture_config {

constexpr uint32_t kHeaderVersion = 3;
constexpr uint32_t kHeaderSizeV3 = 293;
constexpr uint32_t kHeaderSizeOther = 292;

// 1 when WriteFile succeeded and wrote all count bytes, else 0.
int32_t write_block(HANDLE file, const void* data, uint32_t count);

// 1 when ReadFile succeeded and read all count bytes, else 0.
int32_t read_block(HANDLE file, void* buffer, uint32_t count);

// Writes the header's fields in file order, version 3 in place of the record's version and the
// model byte last; stops at the first failed write with 0. Returns 1 when all were written.
int32_t write_capture_header(HANDLE file, const CaptureHeader* header);

// Opens path for reading into *file (INVALID_HANDLE_VALUE when it cannot: "Could not open %s\n"),
// reads a header into *header and lists it on standard output. Returns 1 when a valid header was
// read and listed; 0 otherwise, silently after the open. The file stays open once opened,
// positioned after the header on success; the caller closes it.
int32_t read_capture_header(const char* path, HANDLE* file, CaptureHeader* header);

}  // namespace capture_config
