// The gyro file records: conversions to engineering units, record layout and the time column.

#include "ahrs/record.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "ahrs/reading.hpp"
#include "packet_builder.hpp"
#include "platform/console.hpp"
#include "temp_stream.hpp"

namespace {

using ahrs::TimeColumn;
using ahrs::TimeColumnState;

using testsupport::TempStream;

struct Written {
    int result;
    std::string file;
    std::string out;  // standard output
};

Written write_one(char mode, const std::vector<uint8_t>& packet, uint32_t count, double dt = -1.0,
                  int dos_time = 0, double clock = 0.0) {
    TimeColumnState state;
    double rate = 0.0;
    TempStream capture;
    EXPECT_NE(capture.get(), nullptr);
    testing::internal::CaptureStdout();
    const int result = ahrs::write_record(&state, &rate, mode, dt, count, packet.data(), dos_time,
                                          clock, capture.get());
    std::string out = testing::internal::GetCapturedStdout();
    return {result, capture.text(), out};
}

// The blank-separated fields of one record; the line feed must end it, once.
std::vector<std::string> fields_of(const std::string& record) {
    EXPECT_FALSE(record.empty());
    EXPECT_EQ(record.back(), '\n');
    EXPECT_EQ(record.find('\n'), record.size() - 1);
    EXPECT_EQ(record.find("  "), std::string::npos);
    std::vector<std::string> fields;
    std::istringstream in(record);
    std::string field;
    while (in >> field) {
        fields.push_back(field);
    }
    return fields;
}

namespace a = ahrs_test::angle;
namespace s = ahrs_test::sensor;
using ahrs_test::make_packet;
using ahrs_test::s16;

TEST(RecordLayout, WholeRecordsByteForByte) {
    const std::string kUnknown = "Gyro - unrecognized packet type in output_packet \n";
    struct {
        const char* legend;
        char mode;
        std::vector<uint8_t> packet;
        uint32_t count;
        int dos_time;
        double clock;
        std::string record;
        double dt = -1.0;
        int result = 1;
        std::string out = "";  // standard output
    } const cases[] = {
        {"scaled mode, zero channels, count only", 'c', make_packet('c'), 10, 0, 0.0,
         "10 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "-61.105000 0\n"},
        {"voltage mode, tail word last, no blank before the line feed", 'r',
         make_packet('r', {{s::kTail, 513}}), 3, 0, 0.0,
         "3 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "-61.105000 513\n"},
        {"angle mode with the clock time", 'a', make_packet('a', {{a::kRoll, 32767}}), 7, 1, 1.234,
         "7 1.234000 180.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 0.000000 0.000000 0.000000 -61.105000 0\n"},
        {"count above 2^31 stays positive", 'c', make_packet('c'), 4294967295u, 0, 0.0,
         "4294967295 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 -61.105000 0\n"},
        {"count above 2^31 with a time", 'c', make_packet('c'), 2147483648u, 1, 0.5,
         "2147483648 0.500000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 0.000000 -61.105000 0\n"},
        {"angle, count only: count, 12 values, TEMP, tail word", 'a', make_packet('a'), 10, 0, 3.0,
         "10 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 0.000000 0.000000 -61.105000 0\n"},
        {"angle with computed time: clock + count * dt", 'a', make_packet('a'), 10, 0, 3.0,
         "10 3.100000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 0.000000 0.000000 0.000000 -61.105000 0\n",
         0.01},
        {"scaled with computed time", 'c', make_packet('c'), 10, 0, 3.0,
         "10 3.100000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 -61.105000 0\n",
         0.01},
        {"voltage with clock time", 'r', make_packet('r'), 10, 1, 3.0,
         "10 3.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 -61.105000 0\n"},
        {"angle with clock time, a time step given", 'a', make_packet('a'), 10, 1, 3.0,
         "10 3.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
         "0.000000 0.000000 0.000000 0.000000 -61.105000 0\n",
         0.5},
        // An unknown mode writes the time column, then complains.
        {"unknown mode, count only", 'x', make_packet('a'), 5, 0, 2.0, "5 ", -1.0, 0, kUnknown},
        {"unknown mode, clock time", 'x', make_packet('a'), 5, 1, 2.0, "5 2.000000 ", -1.0, 0,
         kUnknown},
        {"unknown mode, computed time", 'x', make_packet('a'), 5, 0, 2.0, "5 4.500000 ", 0.5, 0,
         kUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Written w = write_one(c.mode, c.packet, c.count, c.dt, c.dos_time, c.clock);
        EXPECT_EQ(w.result, c.result);
        EXPECT_EQ(w.file, c.record);
        EXPECT_EQ(w.out, c.out);
    }
}

TEST(Conversion, ExampleValuesInTheRecord) {
    struct {
        const char* legend;
        char mode;
        uint32_t offset;
        uint16_t raw;
        std::string text;
    } const cases[] = {
        // Angles: raw * 180 / 32767, so 32767 is exactly 180 and -32768 a little beyond.
        {"ROLL full scale", 'a', a::kRoll, 32767, "180.000000"},
        {"ROLL most negative", 'a', a::kRoll, s16(-32768), "-180.005493"},
        {"ROLL one count", 'a', a::kRoll, 1, "0.005493"},
        {"PITCH half scale", 'a', a::kPitch, 16384, "90.002747"},
        {"YAW minus one count", 'a', a::kYaw, s16(-1), "-0.005493"},
        // Scaled channels: raw * (range * 1.5) / 32767.
        {"scaled GYROX full scale", 'c', s::kGyroX, 32767, "150.000000"},
        {"scaled ACCELX full scale", 'c', s::kAccelX, 32767, "6.000000"},
        {"scaled MAGX full scale", 'c', s::kMagX, 32767, "1.500000"},
        {"scaled GYROX most negative", 'c', s::kGyroX, s16(-32768), "-150.004578"},
        {"scaled GYROZ 0xFFFF is -1", 'c', s::kGyroZ, 0xFFFF, "-0.004578"},
        {"scaled MAGZ -1, last channel", 'c', s::kMagZ, s16(-1), "-0.000046"},
        {"angle-mode GYROX after the angles", 'a', a::kGyroX, 32767, "150.000000"},
        {"angle-mode GYROY", 'a', a::kGyroY, s16(-32768), "-150.004578"},
        {"angle-mode ACCELX", 'a', a::kAccelX, 32767, "6.000000"},
        {"angle-mode MAGZ, last channel", 'a', a::kMagZ, 32767, "1.500000"},
        // Voltage mode: unsigned counts of 5/4096 V.
        {"voltage count 4096 is 5 V", 'r', s::kGyroX, 4096, "5.000000"},
        {"voltage count 65535 is unsigned", 'r', s::kAccelZ, 65535, "79.998779"},
        {"voltage one count", 'r', s::kMagX, 1, "0.001221"},
        {"voltage last channel", 'r', s::kMagZ, 4096, "5.000000"},
        // TEMP: ((raw * 5 / 4096) - 1.375) * 44.44 in every mode, raw unsigned.
        {"TEMP 0", 'a', a::kTemp, 0, "-61.105000"},
        {"TEMP 1126, just below zero", 'c', s::kTemp, 1126, "-0.021699"},
        {"TEMP 1127, just above zero", 'r', s::kTemp, 1127, "0.032549"},
        {"TEMP 2048", 'r', s::kTemp, 2048, "49.995000"},
        {"TEMP 65535 is unsigned", 'c', s::kTemp, 65535, "3494.040752"},
        // TAIL_WORD: the integer unchanged, never negative.
        {"TAIL_WORD 0xFFFF angle", 'a', a::kTail, 0xFFFF, "65535"},
        {"TAIL_WORD 0xFFFF scaled", 'c', s::kTail, 0xFFFF, "65535"},
        {"TAIL_WORD 0x8000 voltage", 'r', s::kTail, 0x8000, "32768"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Written zero = write_one(c.mode, make_packet(c.mode), 1);
        const Written w = write_one(c.mode, make_packet(c.mode, {{c.offset, c.raw}}), 1);
        ASSERT_EQ(w.result, 1);
        std::vector<std::string> expected = fields_of(zero.file);
        // In a count-only record the count is field 0, then each 16-bit field in packet order.
        const size_t index = (c.offset - 1) / 2 + 1;
        ASSERT_LT(index, expected.size());
        // Only the field's own column changes.
        expected[index] = c.text;
        EXPECT_EQ(fields_of(w.file), expected);
    }
}

TEST(Conversion, DecodePacketKnowsOnlyTheThreeModes) {
    ahrs::AhrsReading reading{};
    reading.temp = 42.0;
    const std::vector<uint8_t> packet = make_packet('a', {{a::kRoll, 32767}});
    EXPECT_FALSE(ahrs::decode_packet('A', packet.data(), &reading));
    EXPECT_EQ(reading.temp, 42.0) << "an unknown mode leaves the reading untouched";

    ASSERT_TRUE(ahrs::decode_packet('c', make_packet('c', {{s::kGyroX, 1}}).data(), &reading));
    EXPECT_EQ(reading.roll, 0.0) << "scaled mode has no angles";
    EXPECT_EQ(reading.pitch, 0.0);
    EXPECT_EQ(reading.yaw, 0.0);
}

struct Step {
    uint32_t count;
    double clock;  // seconds
    TimeColumn::Kind kind;
    double time;  // for kCountAndTime
};

struct SequenceCase {
    const char* legend;
    double dt;
    double time_rate = 0.0;
    int dos_time = 0;
    TimeColumnState start = {};
    std::vector<Step> steps;
    double time_rate_after = 0.0;
};

constexpr auto kTime = TimeColumn::kCountAndTime;
constexpr auto kCountOnly = TimeColumn::kCount;
constexpr auto kDrop = TimeColumn::kSkip;

// Steps are {count, clock, kind, time}.
TEST(TimeColumn, SequencesFollowDosTimeDtAndTheRate) {
    const SequenceCase cases[] = {
        // Clock time whenever dos_time is set.
        {.legend = "dt negative: the clock reading, time_rate reset",
         .dt = -1.0,
         .time_rate = 0.5,
         .dos_time = 1,
         .steps = {{1, 3.5, kTime, 3.5}, {2, 3.6, kTime, 3.6}}},
        {.legend = "dt positive: still the clock, no rate test",
         .dt = 0.01,
         .time_rate = 0.5,
         .dos_time = 1,
         .steps = {{5, 1.0, kTime, 1.0}, {6, 1.001, kTime, 1.001}, {7, 1.001, kTime, 1.001}}},
        {.legend = "dt zero",
         .dt = 0.0,
         .dos_time = 1,
         .steps = {{1, 0.0, kTime, 0.0}, {9, 7.25, kTime, 7.25}}},
        {.legend = "non-zero dos_time other than 1",
         .dt = 0.01,
         .dos_time = -3,
         .steps = {{4, 2.0, kTime, 2.0}}},
        // Otherwise the count alone when dt is negative.
        {.legend = "default dt -1: count alone, time_rate reset",
         .dt = -1.0,
         .time_rate = 0.25,
         .steps = {{1, 9.0, kCountOnly, 0}, {2, 9.0, kCountOnly, 0}, {3, 100.0, kCountOnly, 0}}},
        {.legend = "any negative dt", .dt = -0.001, .steps = {{77, 1.0, kCountOnly, 0}}},
        // Otherwise the computed time, counting on from the anchor.
        {.legend = "first call: the clock reading plus count * dt",
         .dt = 0.01,
         .steps = {{1, 12.345, kTime, 12.355}}},
        {.legend = "first call with count 100: base count stays 0",
         .dt = 0.01,
         .steps = {{100, 1.0, kTime, 2.0}}},
        {.legend = "decimation 3 on time: steps of 0.03, clock jitter ignored",
         .dt = 0.01,
         .steps = {{3, 2.0, kTime, 2.03},
                   {6, 2.065, kTime, 2.06},
                   {9, 2.089, kTime, 2.09},
                   {12, 2.159, kTime, 2.12}}},
        {.legend = "clock more than 4 dt ahead: the clock, later times count on from it",
         .dt = 0.01,
         .steps = {{1, 1.0, kTime, 1.01},
                   {2, 1.02, kTime, 1.02},
                   {3, 1.1, kTime, 1.1},
                   {4, 1.11, kTime, 1.11},
                   {5, 1.125, kTime, 1.12}}},
        {.legend = "exactly 4 dt behind is not re-anchored, beyond it is",
         .dt = 0.25,
         .steps = {{0, 10.0, kTime, 10.0},
                   {1, 11.25, kTime, 10.25},
                   {2, 11.5, kTime, 10.5},
                   {3, 12.0, kTime, 12.0},
                   {4, 12.25, kTime, 12.25}}},
        {.legend = "dt 0: every record whose clock moved on carries the clock",
         .dt = 0.0,
         .steps = {{1, 5.0, kTime, 5.0},
                   {2, 5.001, kTime, 5.001},
                   {3, 5.001, kTime, 5.001},
                   {4, 5.5, kTime, 5.5}}},
        {.legend = "count difference is unsigned across the counter's wrap",
         .dt = 0.25,
         .start = TimeColumnState{0.0, 0xFFFFFFF0u, 100.0, 100.0, false},
         .steps = {{0x10, 108.0, kTime, 108.0}, {0x11, 108.25, kTime, 108.25}}},
        // The rate test drops whole records.
        {.legend = "records at least time_rate apart; time_rate kept",
         .dt = 0.25,
         .time_rate = 1.0,
         .steps = {{1, 2.0, kDrop, 0},
                   {2, 2.5, kDrop, 0},
                   {3, 2.75, kDrop, 0},
                   {4, 3.0, kTime, 3.0},
                   {5, 3.25, kDrop, 0},
                   {7, 3.75, kDrop, 0},
                   {8, 4.0, kTime, 4.0}},
         .time_rate_after = 1.0},
        {.legend = "the rate test comes first: a dropped record does not re-anchor",
         .dt = 0.25,
         .time_rate = 1.0,
         .steps = {{1, 2.0, kDrop, 0},
                   {2, 9.0, kDrop, 0},
                   {4, 9.0, kTime, 9.0},
                   {5, 9.25, kDrop, 0},
                   {8, 10.0, kTime, 10.0}},
         .time_rate_after = 1.0},
        {.legend = "dt 0 with a rate: the computed time never advances, all dropped",
         .dt = 0.0,
         .time_rate = 0.1,
         .steps = {{1, 5.0, kDrop, 0}, {2, 6.0, kDrop, 0}, {3, 60.0, kDrop, 0}},
         .time_rate_after = 0.1},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.legend);
        TimeColumnState state = c.start;
        double rate = c.time_rate;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            SCOPED_TRACE("step " + std::to_string(i) + ", count " + std::to_string(step.count));
            const TimeColumn column =
                ahrs::compute_time_column(&state, &rate, c.dt, step.count, c.dos_time, step.clock);
            EXPECT_EQ(column.kind, step.kind);
            EXPECT_EQ(column.count, step.count);
            if (step.kind == kTime) {
                EXPECT_NEAR(column.time, step.time, 1e-9);
            }
        }
        EXPECT_EQ(rate, c.time_rate_after);
    }
}

TEST(TimeColumn, StateChangesOnlyWhereTheRulesSay) {
    TimeColumnState state;
    double rate = 0.5;

    ahrs::compute_time_column(&state, &rate, -1.0, 3, 0, 4.0);
    EXPECT_EQ(state.now_time, 0.0) << "count-only records leave the state alone";
    EXPECT_TRUE(state.first_call);
    EXPECT_EQ(rate, 0.0);

    ahrs::compute_time_column(&state, &rate, 0.01, 4, 1, 4.5);
    EXPECT_EQ(state.now_time, 4.5) << "a clock-time record reads the clock";
    EXPECT_TRUE(state.first_call) << "and computes no time";

    ahrs::compute_time_column(&state, &rate, 0.01, 5, 0, 6.0);
    EXPECT_FALSE(state.first_call);
    EXPECT_EQ(state.base_count, 0u);
    EXPECT_EQ(state.base_time, 6.0);
    EXPECT_NEAR(state.last_time, 6.05, 1e-9);

    ahrs::compute_time_column(&state, &rate, 0.01, 6, 0, 7.0);
    EXPECT_EQ(state.base_count, 6u) << "re-anchored on the count of the late record";
    EXPECT_EQ(state.base_time, 7.0);
    EXPECT_EQ(state.last_time, 7.0);
}

TEST(TimeColumn, ClockRecordsClearTheRateForLaterComputedTimes) {
    // time_rate is shared: once a clock-time or count-only record reset it, a computed-time
    // record that would have been dropped is written.
    TimeColumnState state;
    double rate = 10.0;
    EXPECT_EQ(ahrs::compute_time_column(&state, &rate, 0.01, 1, 0, 1.0).kind, kDrop);
    EXPECT_EQ(ahrs::compute_time_column(&state, &rate, 0.01, 2, 1, 1.01).kind, kTime);
    EXPECT_EQ(ahrs::compute_time_column(&state, &rate, 0.01, 3, 0, 1.02).kind, kTime);
}

TEST(TimeColumn, DroppedRecordWritesNothing) {
    TimeColumnState state;
    double rate = 1.0;
    TempStream capture;
    ASSERT_NE(capture.get(), nullptr);
    const std::vector<uint8_t> packet = make_packet('a');
    testing::internal::CaptureStdout();
    EXPECT_EQ(ahrs::write_record(&state, &rate, 'a', 0.25, 1, packet.data(), 0, 2.0, capture.get()),
              0);
    EXPECT_EQ(ahrs::write_record(&state, &rate, 'a', 0.25, 4, packet.data(), 0, 3.0, capture.get()),
              1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string text = capture.text();
    EXPECT_EQ(text.rfind("4 3.000000 0.000000 ", 0), 0u) << text;
    EXPECT_EQ(fields_of(text).size(), 16u);
}

TEST(OutputPacket, ClockTimeComesFromTheProgramClock) {
    TempStream capture;
    ASSERT_NE(capture.get(), nullptr);
    const std::vector<uint8_t> packet = make_packet('c');
    const double before = platform::elapsed_ms() / 1000.0;
    EXPECT_EQ(ahrs::output_packet('c', -1.0, 8, packet.data(), 1, capture.get()), 1);
    const double after = platform::elapsed_ms() / 1000.0;
    const std::vector<std::string> fields = fields_of(capture.text());
    ASSERT_EQ(fields.size(), 13u);
    EXPECT_EQ(fields[0], "8");
    const double written = std::stod(fields[1]);
    EXPECT_GE(written, before);
    EXPECT_LE(written, after);
}

}  // namespace
