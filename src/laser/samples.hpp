#pragma once
// The sample records of the laser phase: LaserSample, whose layout the interface library writes,
// the process-wide SampleArray of 200 lines of 5000 records, and the RawSampleBuffer that the
// library fills for each line.

#include <cstddef>
#include <cstdint>

namespace laser {

constexpr int32_t kSamplesPerLine = 5000;
constexpr int32_t kMaxLines = 200;

// One processed sample, 64 bytes, little-endian, written by the interface library.
struct LaserSample {
    uint16_t flags;         // bit 2: index 1, bit 3: index 2; other bits not read
    uint8_t reserved_2[6];  // the library's
    double angle1;          // radians
    double angle2;          // radians
    double distance;        // inches
    double temperature;     // degrees Fahrenheit
    double reserved_40;     // the library's
    double amplitude;
    uint32_t timeout;    // non-zero: a sample measurement timeout
    uint32_t raw_range;  // bits
};

static_assert(sizeof(LaserSample) == 64);
static_assert(offsetof(LaserSample, flags) == 0);
static_assert(offsetof(LaserSample, angle1) == 8);
static_assert(offsetof(LaserSample, angle2) == 16);
static_assert(offsetof(LaserSample, distance) == 24);
static_assert(offsetof(LaserSample, temperature) == 32);
static_assert(offsetof(LaserSample, amplitude) == 48);
static_assert(offsetof(LaserSample, timeout) == 56);
static_assert(offsetof(LaserSample, raw_range) == 60);

// One raw entry as the library delivers it; its contents are the library's, but for the lost-data
// flag: bit 0 of the first word of the last entry of a line.
struct RawSample {
    uint32_t words[4];
};
static_assert(sizeof(RawSample) == 16);

constexpr uint32_t kLostDataFlag = 0x1;

// The whole capture: 200 lines of 5000 records, 64,000,000 bytes of zero-initialised static
// storage (untouched pages cost nothing until the capture fills them). Line n starts at record
// n * kSamplesPerLine.
extern LaserSample sample_array[kMaxLines * kSamplesPerLine];

// A count of lines kept within the array: 0 to kMaxLines. The count comes checked from the
// command line; whatever indexes the array keeps it inside all the same.
constexpr int32_t lines_in_array(int32_t lines) {
    return lines < 0 ? 0 : (lines > kMaxLines ? kMaxLines : lines);
}

// The raw entries of one line, reused for every line (80,000 bytes).
extern RawSample raw_sample_buffer[kSamplesPerLine];

}  // namespace laser
