// The gyro recording loop's bookkeeping on a byte stream: the restart rule, decimation and the
// packet counter, with lost bytes found again instead of costing a restart.

#include "driver/gyro_recording.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "../ahrs/packet_builder.hpp"
#include "temp_stream.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr long kL = ahrs::kAnglePacketLength;

// The unit's packets 1..count in a row, angle mode, TAIL_WORD = packet number; packets listed in
// `bad` carry a wrong checksum.
Bytes stream(uint16_t count, std::vector<uint16_t> bad = {}) {
    Bytes bytes;
    for (uint16_t n = 1; n <= count; ++n) {
        Bytes p = ahrs_test::make_packet(
            'a', {{ahrs_test::angle::kRoll, n}, {ahrs_test::angle::kTail, n}});
        if (std::find(bad.begin(), bad.end(), n) != bad.end()) {
            ++p.back();
        }
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return bytes;
}

struct Outcome {
    unsigned restarts = 0;
    driver::GyroRecording recording;
    std::vector<std::string> records;  // "count tail"
};

// Runs the bookkeeping over the stream, fed in pieces of 13 bytes; each restart the rule calls
// for is answered at once (the unit then goes on with the stream where it was).
Outcome record(const Bytes& bytes, uint32_t decimation = 1) {
    Outcome out;
    driver::RunSettings settings;
    settings.decimation = decimation;
    driver::gyro_recording_start(&out.recording, settings);
    driver::gyro_link_ready(&out.recording, kL);
    testsupport::TempStream file;
    out.recording.file.stream = file.get();
    testing::internal::CaptureStdout();
    size_t at = 0;
    for (bool more = true; more;) {
        switch (driver::gyro_step(&out.recording)) {
            case driver::kGyroNeedBytes: {
                const size_t piece = std::min({size_t{13}, bytes.size() - at,
                                               size_t{ahrs::framer_wanted(out.recording.framer)}});
                std::copy_n(bytes.begin() + static_cast<long>(at), piece,
                            ahrs::framer_space(&out.recording.framer));
                ahrs::framer_received(&out.recording.framer, static_cast<uint32_t>(piece));
                at += piece;
                more = piece > 0;
                break;
            }
            case driver::kGyroRestartDue:
                ++out.restarts;
                driver::gyro_link_ready(&out.recording, kL);
                break;
            case driver::kGyroGroupDone:
                break;
            case driver::kGyroWriteFailed:
                ADD_FAILURE() << "write failed";
                more = false;
                break;
        }
    }
    (void)testing::internal::GetCapturedStdout();
    std::istringstream records(file.text());
    for (std::string text; std::getline(records, text);) {
        out.records.push_back(text.substr(0, text.find(' ')) + text.substr(text.rfind(' ')));
    }
    return out;
}

TEST(GyroRecording, RestartRuleDecimationAndCounter) {
    struct Case {
        const char* legend = "";
        Bytes bytes = {};
        uint32_t decimation = 1;
        unsigned restarts = 0;
        uint32_t invalid = 0;
        size_t records = 0;
        std::vector<std::string> first_records = {};  // count and TAIL_WORD of the first records
    };
    const Case cases[] = {
        {.legend = "clean: one record a packet, counts 1, 2, 3",
         .bytes = stream(20),
         .records = 20,
         .first_records = {"1 1", "2 2", "3 3"}},
        {.legend = "five bad in a row: no restart",
         .bytes = stream(20, {3, 4, 5, 6, 7}),
         .invalid = 5,
         .records = 15,
         .first_records = {"1 1", "2 2", "8 8"}},
        {.legend = "six bad in a row: one restart, at the sixth",
         .bytes = stream(20, {3, 4, 5, 6, 7, 8}),
         .restarts = 1,
         .invalid = 6,
         .records = 14},
        {.legend = "twenty bad in a row: still one restart",
         .bytes =
             stream(40, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}),
         .restarts = 1,
         .invalid = 20,
         .records = 20},
        {.legend = "six bad, a good one, six bad: two restarts",
         .bytes = stream(20, {2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}),
         .restarts = 2,
         .invalid = 12,
         .records = 8},
        {.legend = "decimation 3: records from every third packet, counts 3, 6, 9",
         .bytes = stream(12),
         .decimation = 3,
         .records = 4,
         .first_records = {"3 3", "6 6", "9 9"}},
        {.legend = "decimation 3: a group whose last packet is bad writes nothing",
         .bytes = stream(12, {6}),
         .decimation = 3,
         .invalid = 1,
         .records = 3,
         .first_records = {"3 3", "9 9", "12 12"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome out = record(c.bytes, c.decimation);
        EXPECT_EQ(out.restarts, c.restarts);
        EXPECT_EQ(out.recording.invalid, c.invalid);
        EXPECT_EQ(out.records.size(), c.records);
        EXPECT_EQ(out.recording.records, c.records);
        ASSERT_GE(out.records.size(), c.first_records.size());
        for (size_t i = 0; i < c.first_records.size(); ++i) {
            EXPECT_EQ(out.records[i], c.first_records[i]) << "record " << i;
        }
    }
}

// A byte lost on the line costs the packet it was in, not a restart and five more.
TEST(GyroRecording, ALostByteCostsOnePacketAndNoRestart) {
    Bytes bytes = stream(30);
    bytes.erase(bytes.begin() + 9 * kL + 4);  // inside packet 10
    const Outcome out = record(bytes);
    EXPECT_EQ(out.restarts, 0u);
    EXPECT_EQ(out.recording.invalid, 1u);
    EXPECT_EQ(out.records.size(), 29u);
    EXPECT_EQ(out.recording.framer.realignments, 1u);
    EXPECT_EQ(out.records[9], "11 11") << "the counter stays with the unit's packets";
}

}  // namespace
