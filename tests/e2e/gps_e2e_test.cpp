// The GPS file end to end: the program records the simulated receiver beside the simulated AHRS
// unit, natively and as the Windows build under Wine (the receiver on a third COM port).

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e_run.hpp"
#include "sent_log.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
// The runs end with kExitAfterGyroPhase: the laser phase finds no interface library.
using namespace testsupport;

constexpr double kGpsBaud = 9600;
constexpr double kBitsPerByte = 10;

// Invalid lines other than the first and the last, which may hold a sentence cut by the port's
// opening or by the end of the run.
size_t inner_invalid_lines(const std::vector<GpsLine>& lines) {
    return lines.size() < 2 ? 0
                            : static_cast<size_t>(std::count_if(
                                  lines.begin() + 1, lines.end() - 1,
                                  [](const GpsLine& line) { return !line.reason.empty(); }));
}

class GpsE2e : public E2eTest {
protected:
    // Starts the unit (with its sent log), the receiver with receiver_options unless receiver is
    // false, and the program on the three files with options ("{gyro}" stands for the unit's
    // port).
    void start(const std::vector<std::string>& receiver_options,
               const std::vector<std::string>& options = {}, bool receiver = true) {
        ASSERT_EQ(start_unit({"--sent-log", (dir() / "unit-sent.log").string()}), "");
        if (receiver) {
            ASSERT_EQ(start_receiver(receiver_options), "");
        }
        std::vector<std::string> args = arguments();
        for (const std::string& option : options) {
            args.push_back(option == "{gyro}" ? unit().port() : option);
        }
        ASSERT_EQ(launch(args), "");
    }

    // Checks that every valid sentence of lines is the receiver's next heard one.
    std::vector<SentSentence> expect_every_sentence_kept(const std::vector<GpsLine>& lines) {
        std::vector<SentSentence> kept;
        const std::string fault = check_sentences_kept(receiver().sent(), lines, &kept);
        EXPECT_EQ(fault, "") << transcript();
        return kept;
    }
};

// The program's clock zero as each recording shows it, on the machine's clock: the moment a
// sentence's last byte went on the line less its GPS line's time, and the moment a packet went
// on the line less its gyro record's -D time. Each is the clock zero less that line's delay; a
// high percentile over a recording is the zero less its shortest delays (a few milliseconds).
// Not the greatest: on a loaded machine a simulator that wakes late reports one sentence or
// packet on the line before its bytes were, which would shift the greatest alone. The run ends
// with Ctrl+C, which must leave every sentence counted in the file.
TEST_F(GpsE2e, SentencesAreKeptWithTheClockOfTheGyroFileAndCtrlCEndsTheRun) {
    ASSERT_NO_FATAL_FAILURE(start({"--rate", "4", "--seed", "5"}, {"-D"}));
    ASSERT_TRUE(wait_sentences(40)) << transcript();
    program().signal(SIGINT);
    const ExitStatus status = wait();
    ASSERT_EQ(status.code, kExitInterrupted) << status.describe() << transcript();

    const std::vector<GpsLine> lines = gps_lines();
    const std::vector<GpsLine> sentences = valid_sentences(lines);
    const std::vector<SentSentence> sent = expect_every_sentence_kept(lines);
    ASSERT_EQ(sent.size(), sentences.size());
    EXPECT_EQ(inner_invalid_lines(lines), 0u);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_GE(lines[i].seconds, lines[i - 1].seconds) << "line " << i;
    }

    std::vector<double> gps_zeros;
    unsigned fixes = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const double end = static_cast<double>(sent[i].microseconds) / 1e6 +
                           static_cast<double>(sent[i].text.size() + 2) * kBitsPerByte / kGpsBaud;
        gps_zeros.push_back(end - sentences[i].seconds);
        const std::vector<std::string> fields = nmea_fields(sent[i].text);
        fixes +=
            fields[0].ends_with("GGA") && fields.size() > 6 && std::atoi(fields[6].c_str()) > 0;
    }
    const std::vector<SentPacket> packets = parse_sent_log(read_file(dir() / "unit-sent.log"));
    std::vector<double> gyro_zeros;
    for (const std::string& record : split(gyro_file(), '\n')) {
        const std::vector<std::string> fields = split(record, ' ');
        const unsigned long tail = std::stoul(fields.back());
        const auto packet = std::find_if(packets.begin(), packets.end(),
                                         [&](const auto& p) { return p.tail_word == tail; });
        if (packet != packets.end()) {
            gyro_zeros.push_back(static_cast<double>(packet->microseconds) / 1e6 -
                                 std::stod(fields[1]));
        }
    }
    const auto high = [](std::vector<double> zeros) {
        const auto at = zeros.begin() + static_cast<std::ptrdiff_t>(zeros.size() * 9 / 10);
        std::nth_element(zeros.begin(), at, zeros.end());
        return *at;
    };
    ASSERT_FALSE(gps_zeros.empty());
    ASSERT_FALSE(gyro_zeros.empty());
    EXPECT_NEAR(high(gps_zeros), high(gyro_zeros), 0.050) << "the GPS and gyro times are one clock";

    const std::optional<GpsSummary> summary = parse_gps_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->sentences, lines.size()) << "every sentence counted is in the file";
    EXPECT_EQ(summary->invalid, lines.size() - sentences.size());
    EXPECT_EQ(summary->fixes, fixes);
    EXPECT_GT(fixes, 0u);
}

// --- What the receiver does wrong --------------------------------------------------------

struct ReceiverCase {
    const char* name;
    std::vector<std::string> receiver;
    size_t sentences;            // sentences to wait for before q
    const char* out_line = "";   // a line expected once on stdout ("" none)
    const char* err_regex = "";  // the whole of stderr
    bool invalid_lines = false;  // inner_invalid_lines finds some
    bool fixes = true;
};

class ReceiverFault : public GpsE2e, public ::testing::WithParamInterface<ReceiverCase> {};

TEST_P(ReceiverFault, IsToldOnceAndTheRecordingGoesOn) {
    const ReceiverCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(c.receiver));
    ASSERT_TRUE(wait_sentences(c.sentences)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    if (*c.out_line != '\0') {
        EXPECT_EQ(count_of(out(), c.out_line), 1u) << transcript();
    }
    const std::string gps_err = err().substr(0, err().find("Unable to load"));
    EXPECT_TRUE(std::regex_match(gps_err, std::regex(c.err_regex))) << transcript();
    const std::vector<GpsLine> lines = gps_lines();
    EXPECT_EQ(inner_invalid_lines(lines) > 0, c.invalid_lines) << transcript();
    const std::optional<GpsSummary> summary = parse_gps_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->sentences, lines.size());
    EXPECT_EQ(summary->fixes > 0, c.fixes);
    if (c.name != std::string("HangUp")) {  // a hang-up may cut a sentence anywhere
        expect_every_sentence_kept(lines);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gps, ReceiverFault,
    ::testing::Values(
        ReceiverCase{.name = "Silence",
                     .receiver = {"--rate", "4", "--silence", "7000@8"},
                     .sentences = 12,
                     .out_line = "GPS - no sentence from the receiver for 5 s, still listening\n"},
        ReceiverCase{.name = "HangUp",
                     .receiver = {"--rate", "4", "--hangup", "1000@8"},
                     .sentences = 16,
                     .err_regex = "GPS - lost the serial port, -?[0-9]+\n"},
        ReceiverCase{
            .name = "BadChecksumsAndGarbage",
            .receiver = {"--rate", "4", "--bad-checksum-rate", "0.2", "--garbage-rate", "0.2"},
            .sentences = 20,
            .invalid_lines = true},
        ReceiverCase{.name = "NoFix",
                     .receiver = {"--rate", "4", "--no-fix", "600"},
                     .sentences = 8,
                     .fixes = false}),
    [](const ::testing::TestParamInfo<ReceiverCase>& param_info) { return param_info.param.name; });

// --- A GPS port that cannot be recorded ---------------------------------------------------

struct PortCase {
    const char* name;
    std::vector<std::string> options;  // after the three files and -C; "{gyro}": the unit's port
    std::string err;                   // the whole of stderr before the laser phase
};

class UnusablePort : public GpsE2e, public ::testing::WithParamInterface<PortCase> {};

TEST_P(UnusablePort, OneLineAndTheRunGoesOnWithoutGps) {
    const PortCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start({}, c.options, false));
    ASSERT_TRUE(wait_gyro_records(1)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    std::string expected = c.err;
    if (const size_t at = expected.find("{gyro}"); at != std::string::npos) {
        static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
        expected.replace(at, 6, std::regex_replace(unit().port(), special, R"(\$&)"));
    }
    const std::string gps_err = err().substr(0, err().find("Unable to load"));
    EXPECT_TRUE(std::regex_match(gps_err, std::regex(expected))) << transcript();
    EXPECT_TRUE(fs::exists(dir() / "gps.txt"));
    EXPECT_EQ(fs::file_size(dir() / "gps.txt"), 0u);
    EXPECT_FALSE(parse_gps_summary(out()).has_value()) << transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Gps, UnusablePort,
    ::testing::Values(
        PortCase{.name = "Missing",
                 .options = {"-S", "no-such-port"},
                 .err = "GPS - could not open serial port no-such-port, -?[0-9]+: recording "
                        "without GPS\n"},
        PortCase{.name = "TheGyroPort",
                 .options = {"-S", "{gyro}"},
                 .err = "GPS - {gyro} is the gyro port: recording without GPS\n"},
        PortCase{.name = "TheLaserControlPort",
                 .options = {"-S", "COM5", "-c", "5"},
                 .err = "GPS - COM5 is the laser control port COM5, which the laser phase "
                        "needs: recording without GPS\n"}),
    [](const ::testing::TestParamInfo<PortCase>& param_info) { return param_info.param.name; });

// Before any port opens: the unit receives nothing.
TEST_F(GpsE2e, AGpsFileThatCannotBeCreatedEndsTheRunBeforeAnyPortOpens) {
    ASSERT_EQ(start_unit(), "");
    ASSERT_EQ(launch({"laser.txt", "gyro.txt", "no-folder/gps.txt", "-C", unit().port()}), "");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe();
    EXPECT_EQ(err(), "GPS - Error: Can't create the file no-folder/gps.txt\n") << transcript();
    EXPECT_EQ(unit().log(), "") << "the unit's port was opened";
}

}  // namespace
