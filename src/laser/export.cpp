#include "laser/export.hpp"

#include <cstddef>
#include <cstring>

#include "format/fixed.hpp"
#include "laser/samples.hpp"

namespace laser {
namespace {

constexpr char kHeader[] =
    "Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\tAngle2(radins\t"
    "Index1\tIndex2\t";

constexpr uint16_t kIndex1Bit = 1u << 2;
constexpr uint16_t kIndex2Bit = 1u << 3;

// The longest row: the line end, five doubles of up to kMaxFixedLength characters, the raw range
// (at most 10 digits), the two flag digits, and a tab after each of the eight values.
constexpr size_t kMaxRowLength = 1 + 5 * format::kMaxFixedLength + 10 + 2 + 8;

// Rows are gathered here and handed to the stream in large pieces; the stream still turns each
// "\n" into the platform's line end, because it is opened in text mode.
constexpr size_t kChunkLength = 1 << 20;
char chunk[kChunkLength];

char* put_fixed(char* out, double value, int decimals) {
    out += format::format_fixed(value, decimals, out);
    *out++ = '\t';
    return out;
}

// One data row, introduced by its line end, in the file's column order; the same characters as
// "\n%.2f\t%.0f\t%.1f\t%.1f\t%.4f\t%.4f\t%d\t%d\t" give for the record's values.
char* put_row(char* out, const LaserSample& sample) {
    *out++ = '\n';
    out = put_fixed(out, sample.distance, 2);
    // "%.0f" of the unsigned 32-bit value converted to a double: exactly its decimal digits.
    out += format::format_unsigned(sample.raw_range, out);
    *out++ = '\t';
    out = put_fixed(out, sample.amplitude, 1);
    out = put_fixed(out, sample.temperature, 1);
    out = put_fixed(out, sample.angle1, 4);
    out = put_fixed(out, sample.angle2, 4);
    *out++ = (sample.flags & kIndex1Bit) != 0 ? '1' : '0';
    *out++ = '\t';
    *out++ = (sample.flags & kIndex2Bit) != 0 ? '1' : '0';
    *out++ = '\t';
    return out;
}

// Hands the rows gathered in chunk up to end to the stream; false when it refuses them.
bool write_chunk(const char* end, FILE* file) {
    const size_t length = static_cast<size_t>(end - chunk);
    return std::fwrite(chunk, 1, length, file) == length;
}

}  // namespace

bool save_samples(int32_t lines, FILE* file) {
    const size_t records = static_cast<size_t>(lines_in_array(lines)) * kSamplesPerLine;

    // Writing stops at the first failure: a full disk takes nothing more.
    bool written = std::fputs(kHeader, file) >= 0;
    char* out = chunk;
    for (size_t i = 0; i < records && written; ++i) {
        if (static_cast<size_t>(out - chunk) > kChunkLength - kMaxRowLength) {
            written = write_chunk(out, file);
            out = chunk;
        }
        out = put_row(out, sample_array[i]);
    }
    written = written && write_chunk(out, file);

    return written && std::ferror(file) == 0;
}

}  // namespace laser
