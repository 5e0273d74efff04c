// save_samples: the laser file's bytes, and the fast writer against the same formats through
// fprintf, on one real file each.

#include "laser/export.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "laser/samples.hpp"

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] =
    "Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\tAngle2(radins\t"
    "Index1\tIndex2\t";

class Export : public testing::Test {
protected:
    void SetUp() override {
        clear();
        path_ = fs::temp_directory_path() /
                ("morvane-export-" + std::to_string(std::random_device{}()) + ".txt");
    }
    void TearDown() override {
        clear();
        std::error_code ignored;
        fs::remove(path_, ignored);
        fs::remove(reference_path(), ignored);
    }

    static void clear() { std::memset(laser::sample_array, 0, sizeof laser::sample_array); }

    fs::path reference_path() const { return path_.string() + ".reference"; }

    // Writes the laser file as the laser phase does, through a text stream.
    void save(int32_t lines) {
        FILE* file = std::fopen(path_.string().c_str(), "w");
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(laser::save_samples(lines, file));
        EXPECT_EQ(std::fclose(file), 0);
    }

    // The file's content; in text mode (the default) "\n" for the platform's line end.
    static std::string read(const fs::path& path, std::ios::openmode mode = std::ios::in) {
        std::ifstream in(path, mode);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    std::string text() const { return read(path_); }

    // The laser file through fprintf, in text mode.
    void save_reference(int32_t lines) const {
        FILE* file = std::fopen(reference_path().string().c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "%s", kHeader);
        for (int32_t i = 0; i < lines * laser::kSamplesPerLine; ++i) {
            const laser::LaserSample& s = laser::sample_array[i];
            std::fprintf(file, "\n%.2f\t%.0f\t%.1f\t%.1f\t%.4f\t%.4f\t%d\t%d\t", s.distance,
                         static_cast<double>(s.raw_range), s.amplitude, s.temperature, s.angle1,
                         s.angle2, (s.flags >> 2) & 1, (s.flags >> 3) & 1);
        }
        ASSERT_EQ(std::fclose(file), 0);
    }

    fs::path path_;
};

size_t count(const std::string& text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// --- Layout: the header, the rows, the line count --------------------------------------------

// One line is records 0 to 4999 byte for byte, with no line end after the last row; record
// 5000 on is not written. Each record's raw range is its index, so a row out of place shows.
TEST_F(Export, OneLineIsTheExactBytesOfRecordsZeroTo4999) {
    for (int32_t i = 0; i < 2 * laser::kSamplesPerLine; ++i) {
        laser::sample_array[i].raw_range = static_cast<uint32_t>(i);
    }
    laser::LaserSample& a = laser::sample_array[0];
    a.distance = 123.456;
    a.raw_range = 98765;
    a.amplitude = 55.55;
    a.temperature = -40.25;
    a.angle1 = 3.14159265;
    a.angle2 = -1.5707963;
    a.flags = 0x000C;
    a.timeout = 7;  // not a column
    laser::LaserSample& b = laser::sample_array[1];
    b.distance = 0.004;
    b.amplitude = 0.05;
    b.temperature = 98.6;
    b.angle1 = 6.28318;
    b.angle2 = 0.00005;
    b.flags = 0x0004;
    laser::sample_array[2].flags = 0x0008;
    save(1);
    std::string expected = std::string(kHeader) +
                           "\n123.46\t98765\t55.5\t-40.2\t3.1416\t-1.5708\t1\t1\t"
                           "\n0.00\t1\t0.1\t98.6\t6.2832\t0.0001\t1\t0\t"
                           "\n0.00\t2\t0.0\t0.0\t0.0000\t0.0000\t0\t1\t";
    for (int i = 3; i < laser::kSamplesPerLine; ++i) {
        expected += "\n0.00\t" + std::to_string(i) + "\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t";
    }
    EXPECT_EQ(text(), expected);
}

// No rows leave the header alone, ending in a tab; counts outside the array stay inside it.
TEST_F(Export, LineCountsWriteTheirRowsAndNoMore) {
    const struct {
        const char* legend;
        int32_t lines;
        size_t rows;
    } cases[] = {
        {"zero lines write the header only", 0, 0},
        {"a negative count writes no rows", -1, 0},
        {"the smallest count writes no rows", std::numeric_limits<int32_t>::min(), 0},
        {"a count above 200 writes the 200 lines the array holds", 201, 1000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        save(c.lines);
        const std::string file = text();
        EXPECT_EQ(count(file, '\n'), c.rows);
        EXPECT_EQ(file.substr(0, sizeof kHeader - 1), kHeader);
        if (c.rows == 0) {
            EXPECT_EQ(file, kHeader);
        }
    }
}

// --- Columns: one value each ------------------------------------------------------------------

struct ColumnCase {
    const char* legend;
    laser::LaserSample sample;
    const char* row;  // the whole row, line end first
};

TEST_F(Export, EachColumnHasItsFormat) {
    auto with = [](auto set) {
        laser::LaserSample s{};
        set(s);
        return s;
    };
    const ColumnCase cases[] = {
        {"flags 12: both index columns", with([](auto& s) { s.flags = 12; }),
         "\n0.00\t0\t0.0\t0.0\t0.0000\t0.0000\t1\t1\t"},
        {"flags 4: index 1 only", with([](auto& s) { s.flags = 4; }),
         "\n0.00\t0\t0.0\t0.0\t0.0000\t0.0000\t1\t0\t"},
        {"flags 8: index 2 only", with([](auto& s) { s.flags = 8; }),
         "\n0.00\t0\t0.0\t0.0\t0.0000\t0.0000\t0\t1\t"},
        {"every other flag bit: never shown", with([](auto& s) { s.flags = 0xFFF3; }),
         "\n0.00\t0\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t"},
        {"the largest raw range: unsigned, never negative",
         with([](auto& s) { s.raw_range = 4294967295u; }),
         "\n0.00\t4294967295\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t"},
        {"distance 1.5: two decimals", with([](auto& s) { s.distance = 1.5; }),
         "\n1.50\t0\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t"},
        {"angle1 0.5: four decimals", with([](auto& s) { s.angle1 = 0.5; }),
         "\n0.00\t0\t0.0\t0.0\t0.5000\t0.0000\t0\t0\t"},
        {"amplitude 7: one decimal", with([](auto& s) { s.amplitude = 7; }),
         "\n0.00\t0\t7.0\t0.0\t0.0000\t0.0000\t0\t0\t"},
        {"temperature -0.04: negative zero shows its sign",
         with([](auto& s) { s.temperature = -0.04; }),
         "\n0.00\t0\t0.0\t-0.0\t0.0000\t0.0000\t0\t0\t"},
        {"angle2 9.99996: rounds up to a new digit", with([](auto& s) { s.angle2 = 9.99996; }),
         "\n0.00\t0\t0.0\t0.0\t0.0000\t10.0000\t0\t0\t"},
        {"distance 1e20: fixed notation, all digits", with([](auto& s) { s.distance = 1e20; }),
         "\n100000000000000000000.00\t0\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        laser::sample_array[0] = c.sample;
        save(1);
        const std::string file = text();
        EXPECT_EQ(file.substr(sizeof kHeader - 1, std::strlen(c.row)), c.row);
    }
}

// --- The fast writer against fprintf ----------------------------------------------------------

// Values that printf formats in every way it can: exact binary ties, negative zero, values that
// round up to a new digit, the extremes of a double, NaN and infinity.
const double kEdgeValues[] = {
    0.0,
    -0.0,
    0.125,  // tie at two decimals: to even, 0.12
    0.375,  // tie at two decimals: 0.38
    2.5,    // tie at no decimals
    0.25,   // tie at one decimal
    0.05,   // just above a tie in binary
    0.00005,
    -0.00004,  // rounds to negative zero
    9.995,
    9.999,
    99.95,
    0.99995,
    -9.99999,
    1.0 / 3.0,
    1e15,
    -1e15,
    1e17,  // beyond the fast range
    4294967295.0,
    DBL_MAX,
    -DBL_MAX,
    DBL_MIN,
    -DBL_MIN,
    std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
};

const uint32_t kEdgeRanges[] = {0, 1, 9, 10, 2147483647u, 2147483648u, 4294967294u, 4294967295u};

TEST_F(Export, EqualsFprintfByteForByteOnEdgeAndRandomValues) {
    constexpr int32_t kLines = 12;  // several of the writer's chunks
    constexpr size_t kEdges = sizeof kEdgeValues / sizeof kEdgeValues[0];
    constexpr size_t kRanges = sizeof kEdgeRanges / sizeof kEdgeRanges[0];
    std::mt19937_64 random(3401);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> magnitude(-6, 7);
    auto plausible = [&] { return unit(random) * std::pow(10.0, magnitude(random)); };

    for (size_t i = 0; i < static_cast<size_t>(kLines) * laser::kSamplesPerLine; ++i) {
        laser::LaserSample& s = laser::sample_array[i];
        if (i < kEdges * kEdges) {
            // Every edge value in every column, and beside every other one.
            const double a = kEdgeValues[i % kEdges];
            const double b = kEdgeValues[i / kEdges];
            s.distance = a;
            s.amplitude = b;
            s.temperature = a;
            s.angle1 = b;
            s.angle2 = a;
            s.raw_range = kEdgeRanges[i % kRanges];
        } else {
            s.distance = plausible();
            s.amplitude = plausible();
            s.temperature = plausible();
            s.angle1 = plausible();
            s.angle2 = plausible();
            s.raw_range = static_cast<uint32_t>(random());
        }
        s.flags = static_cast<uint16_t>(i);
    }
    save(kLines);
    save_reference(kLines);
    const std::string fast = read(path_, std::ios::binary);
    const std::string reference = read(reference_path(), std::ios::binary);
    ASSERT_EQ(fast.size(), reference.size());
    const auto mismatch = std::mismatch(fast.begin(), fast.end(), reference.begin());
    EXPECT_TRUE(mismatch.first == fast.end())
        << "first difference at byte " << (mismatch.first - fast.begin()) << ": "
        << fast.substr(static_cast<size_t>(mismatch.first - fast.begin()), 40) << " instead of "
        << reference.substr(static_cast<size_t>(mismatch.second - reference.begin()), 40);
}

}  // namespace
