// The gyro phase end to end: the program as a process against ahrs-sim on a pseudo-terminal,
// keys through a pipe, console output, the gyro file and the bytes the unit received checked.
// The same suite runs the native program and, under Wine, the Windows program with COM7 mapped
// onto the simulator's pseudo-terminal (MORVANE_TARGET=native or wine; see README.md).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "e2e_run.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::count_of;
using testsupport::e2e_target;
using testsupport::exchange_pattern;
using testsupport::ExitStatus;
using testsupport::GyroRecord;
using testsupport::GyroSummary;
using testsupport::kHangBound;
using testsupport::milliseconds;
using testsupport::parse_gyro_records;
using testsupport::parse_gyro_summary;
using testsupport::split;
using testsupport::UnitExchange;

// These runs give the program no interface library: after the gyro phase the laser phase cannot
// bind it and the run ends with kExitAfterGyroPhase. The laser suite proves the code of a whole
// survey.
using testsupport::kExitAfterGyroPhase;

// The sixth invalid packet in a row restarts the link.
constexpr unsigned kBadPacketsToRestart = 6;

// A silence longer than any test: the unit stays silent until the test ends it.
constexpr const char* kForever = "600000";

// One gyro-phase run: the unit's options, the program's options after its three files and -C,
// and the records to wait for before q is pressed.
struct GyroRun {
    std::vector<std::string> unit = {};
    std::vector<std::string> options = {};
    size_t records = 5;
};

class GyroE2e : public testsupport::E2eTest {
protected:
    // Starts the unit with unit_options and the program on it with no options.
    void start_recording(const std::vector<std::string>& unit_options = {}) {
        ASSERT_EQ(start_unit(unit_options), "");
        ASSERT_EQ(launch(arguments()), "");
    }

    // The whole run: the unit, the program, run.records records, q; the phase must end with the
    // gyro phase's code and its summary line, which summary_ then holds.
    void record_and_quit(const GyroRun& run) {
        ASSERT_EQ(start_unit(run.unit), "");
        ASSERT_EQ(launch(arguments(run.options)), "");
        ASSERT_TRUE(wait_gyro_records(run.records)) << transcript();
        const ExitStatus status = quit();
        ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
        const std::optional<GyroSummary> summary = parse_gyro_summary(out());
        ASSERT_TRUE(summary.has_value()) << transcript();
        summary_ = *summary;
    }

    GyroSummary summary_;
};

// --- The start-up exchange and the console -------------------------------------------------

struct ExchangeCase {
    const char* legend;
    char mode;
    std::vector<std::string> sim_options = {};
};

class Exchange : public GyroE2e, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchange, UnitReceivesStopModeStopProbeContinuous) {
    const ExchangeCase& c = GetParam();
    std::vector<std::string> unit_options{"--mode", c.mode == 'a' ? "c" : "a"};
    unit_options.insert(unit_options.end(), c.sim_options.begin(), c.sim_options.end());
    ASSERT_NO_FATAL_FAILURE(
        record_and_quit({.unit = unit_options, .options = {"-M", std::string(1, c.mode)}}));
    // One exchange; its probe repeats only when an answer was not one whole packet.
    EXPECT_TRUE(std::regex_match(unit().log(), std::regex(exchange_pattern(c.mode))))
        << c.legend << ": the unit received \"" << unit().log() << "\"";
    EXPECT_EQ(summary_.invalid, 0u) << c.legend << ": packet boundaries set by the exchange";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Exchange,
    ::testing::Values(
        ExchangeCase{.legend = "silent unit, angle mode: stops, 'a' until 'A', stops, 'G', 'C'",
                     .mode = 'a'},
        ExchangeCase{.legend = "scaled mode: the letter is 'c', acknowledged with 'C'",
                     .mode = 'c'},
        ExchangeCase{.legend = "voltage mode", .mode = 'r'},
        ExchangeCase{.legend = "unit already streaming: stopped, then the same exchange",
                     .mode = 'a',
                     .sim_options = {"--streaming"}}),
    [](const ::testing::TestParamInfo<ExchangeCase>& param_info) {
        return std::string(1, param_info.param.mode) +
               (param_info.param.sim_options.empty() ? "" : "_streaming");
    });

struct ConsoleCase {
    const char* legend;
    char mode;
    const char* heading;
    size_t display_values;
};

class Console : public GyroE2e, public ::testing::WithParamInterface<ConsoleCase> {};

TEST_P(Console, ShowsTheStartLinesHeadingAndOneLiveLine) {
    const ConsoleCase& c = GetParam();
    const std::string mode(1, c.mode);
    // The live line shows every tenth packet: 30 records give at least two display lines.
    ASSERT_NO_FATAL_FAILURE(
        record_and_quit({.unit = {"--mode", mode}, .options = {"-M", mode}, .records = 30}));

    const std::string text = out();
    const std::string start = std::string("Version 1.1\n") + "Gyro record is starting now!\n" +
                              "For stop, Press 'Q' !\n" + c.heading + "before restart\n" +
                              "after restart\n";
    ASSERT_EQ(text.substr(0, start.size()), start) << c.legend << transcript();

    // Display lines: values of "%7.2f " (TEMP "%8.2f "), each line ended by "\r" alone.
    const std::string live = text.substr(start.size());
    const size_t end = live.find("\nGyro - ");
    ASSERT_NE(end, std::string::npos) << transcript();
    const std::vector<std::string> lines = split(live.substr(0, end), '\r');
    ASSERT_GE(lines.size(), 2u) << c.legend << transcript();
    EXPECT_EQ(live[end - 1], '\r') << "the last display line ends in \"\\r\"";
    std::string pattern;
    for (size_t i = 1; i < c.display_values; ++i) {
        pattern += "[ 0-9.-]{7} ";
    }
    pattern += "[ 0-9.-]{8} ";
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, std::regex(pattern)))
            << c.legend << ": display line \"" << line << "\"";
    }
    EXPECT_EQ(count_of(live.substr(0, end), "\n"), 0u) << "no line feed inside the live line";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Console,
    ::testing::Values(
        ConsoleCase{.legend = "angle mode: the ROLL heading, 13 values",
                    .mode = 'a',
                    .heading = "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  "
                               "ACCELZ  MAGX   MAGY   MAGZ  TEMP\n",
                    .display_values = 13},
        ConsoleCase{.legend = "scaled mode: the GYROX heading, 10 values",
                    .mode = 'c',
                    .heading = "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY  "
                               "  MAGZ  TEMP\n",
                    .display_values = 10},
        ConsoleCase{.legend = "voltage mode: the GYROX heading, 10 values",
                    .mode = 'r',
                    .heading = "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY  "
                               "  MAGZ  TEMP\n",
                    .display_values = 10}),
    [](const ::testing::TestParamInfo<ConsoleCase>& param_info) {
        return std::string(1, param_info.param.mode);
    });

// --- Records ---------------------------------------------------------------------------------

struct RecordCase {
    const char* legend;
    char mode;
    std::vector<std::string> options = {};
    size_t fields;           // per record
    unsigned long step = 1;  // between successive counts (and TAIL_WORDs)
};

class Records : public GyroE2e, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(Records, OneRecordPerGroupCountsAndTailWordsWithoutGaps) {
    const RecordCase& c = GetParam();
    const std::string mode(1, c.mode);
    std::vector<std::string> options{"-M", mode};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ASSERT_NO_FATAL_FAILURE(
        record_and_quit({.unit = {"--mode", mode}, .options = options, .records = 20}));

    const std::string file = gyro_file();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.back(), '\n') << "the file ends with a whole record";
    EXPECT_EQ(count_of(file, "\r"), 0u) << "the gyro file is binary: no \"\\r\"";
    const std::vector<GyroRecord> records = parse_gyro_records(file);
    ASSERT_GE(records.size(), 20u);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(std::string(c.legend) + ", record " + std::to_string(i));
        EXPECT_EQ(records[i].fields, c.fields);
        EXPECT_TRUE(records[i].well_formed);
        EXPECT_EQ(records[i].count % c.step, 0u);
        if (i > 0) {
            EXPECT_EQ(records[i].count, records[i - 1].count + c.step);
            EXPECT_EQ(records[i].tail, (records[i - 1].tail + c.step) % 65536);
        }
    }
    EXPECT_EQ(records.front().count, c.step) << c.legend;

    EXPECT_EQ(summary_.invalid, 0u);
    EXPECT_EQ(summary_.restarts, 0u);
    EXPECT_EQ(summary_.records, records.size());
    EXPECT_EQ(summary_.packets / c.step, records.size());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Records,
    ::testing::Values(
        RecordCase{.legend = "angle mode: count, 13 values, TAIL_WORD", .mode = 'a', .fields = 15},
        RecordCase{.legend = "scaled mode: count, 10 values, TAIL_WORD", .mode = 'c', .fields = 12},
        RecordCase{
            .legend = "voltage mode: count, 10 values, TAIL_WORD", .mode = 'r', .fields = 12},
        RecordCase{.legend = "decimation 3: every third packet, counts 3, 6, 9",
                   .mode = 'a',
                   .options = {"-d", "3"},
                   .fields = 15,
                   .step = 3},
        RecordCase{.legend = "decimation 0 is full rate",
                   .mode = 'c',
                   .options = {"-d", "0"},
                   .fields = 12},
        RecordCase{.legend = "computed time: one field more",
                   .mode = 'r',
                   .options = {"-t", "0.01"},
                   .fields = 13}),
    [](const ::testing::TestParamInfo<RecordCase>& param_info) {
        return std::string(1, param_info.param.mode) + "_case" + std::to_string(param_info.index);
    });

TEST_F(GyroE2e, GyroFileIsFlushedWhileTheRunGoesOn) {
    // Ten records are far less than the file's buffer holds, and the unit then falls silent:
    // they reach the file only through the program's own timed flush, while the run goes on.
    constexpr size_t kRecords = 10;
    start_recording({"--silence", std::string(kForever) + "@" + std::to_string(kRecords)});
    ASSERT_TRUE(wait_gyro_records(kRecords))
        << "the file holds " << count_of(gyro_file(), "\n") << " records" << transcript();
    EXPECT_TRUE(program().running());
    EXPECT_EQ(quit().code, kExitAfterGyroPhase) << transcript();
    EXPECT_EQ(count_of(gyro_file(), "\n"), kRecords);
}

// --- Bad packets and the restart rule --------------------------------------------------------

struct BurstCase {
    const char* legend;
    unsigned bad;  // bad packets in a row, after 50 good ones
    // Then the unit's silence in ms, if any: longer than the 2 s before the "no data" notice,
    // shorter than the 5 s a start-up exchange waits for an answer.
    const char* pause = nullptr;
};

class BadBurst : public GyroE2e, public ::testing::WithParamInterface<BurstCase> {};

// How many of the burst's packets the logger sees depends on timing: packets the unit sent while
// the restart stopped it are drained unread. So the expectations follow the unit's TAIL_WORDs
// (its packet numbers, probe answers included) and the logger's own counts.
TEST_P(BadBurst, OneRestartPerRunOfBadPacketsAndTheCounterGoesOn) {
    const BurstCase& c = GetParam();
    constexpr unsigned kGoodFirst = 50;
    std::vector<std::string> unit_options{"--bad-burst",
                                          std::to_string(c.bad) + "@" + std::to_string(kGoodFirst)};
    if (c.pause != nullptr) {
        unit_options.insert(
            unit_options.end(),
            {"--silence", std::string(c.pause) + "@" + std::to_string(kGoodFirst + c.bad)});
    }
    ASSERT_NO_FATAL_FAILURE(record_and_quit({.unit = unit_options, .records = kGoodFirst + 30}));

    // One restart: two whole exchanges.
    const std::vector<UnitExchange> exchanges = testsupport::unit_exchanges(unit().log());
    ASSERT_EQ(exchanges.size(), 2u) << c.legend << transcript();
    for (const UnitExchange& exchange : exchanges) {
        EXPECT_TRUE(std::regex_match(exchange.bytes, std::regex(exchange_pattern('a'))))
            << exchange.bytes;
    }
    EXPECT_EQ(summary_.restarts, 1u) << c.legend;
    EXPECT_EQ(count_of(out(), "\nbad checksum:"), summary_.invalid) << transcript();
    EXPECT_EQ(summary_.records, summary_.packets - summary_.invalid);

    const std::vector<GyroRecord> records = gyro_records();
    ASSERT_EQ(records.size(), summary_.records);
    ASSERT_GT(records.size(), kGoodFirst);
    // Before the burst every packet is read and recorded.
    for (size_t i = 0; i < kGoodFirst; ++i) {
        ASSERT_EQ(records[i].count, i + 1) << c.legend << ", record " << i;
        ASSERT_EQ(records[i].tail, i + exchanges[0].probes) << c.legend << ", record " << i;
    }
    // After it the counter goes on over the bad packets read, and no packet is missed.
    const GyroRecord& first = records[kGoodFirst];
    EXPECT_EQ(first.count, kGoodFirst + summary_.invalid + 1) << c.legend;
    for (size_t i = kGoodFirst + 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].count, records[i - 1].count + 1) << c.legend << ", record " << i;
        ASSERT_EQ(records[i].tail, records[i - 1].tail + 1) << c.legend << ", record " << i;
    }
    // The unit's numbers tell what the restart drained; the logger counts every bad packet
    // that reached it: the burst less the bad packets among those drained.
    const unsigned long probes = exchanges[0].probes + exchanges[1].probes;
    ASSERT_GE(first.tail, kGoodFirst + c.bad + probes) << "a bad packet was recorded";
    const unsigned long drained = first.tail + 1 - probes - first.count;
    const unsigned long drained_bad =
        std::min<unsigned long>(drained, c.bad - kBadPacketsToRestart);
    EXPECT_EQ(summary_.invalid, c.bad - drained_bad)
        << c.legend << ": " << drained << " packets drained by the restart";
    if (c.pause != nullptr) {
        // The last bad packet is judged as the line falls silent, so the restart stops the unit
        // during its pause: nothing it sends afterwards is drained, and no silence is reported.
        EXPECT_EQ(drained, 0u) << c.legend << transcript();
        EXPECT_EQ(count_of(out(), "no data from the unit"), 0u) << c.legend << transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, BadBurst,
    ::testing::Values(BurstCase{.legend = "six bad packets: restart at the sixth", .bad = 6},
                      BurstCase{.legend = "twenty bad packets: still one restart", .bad = 20},
                      BurstCase{.legend = "six bad packets, then a pause: the sixth is judged",
                                .bad = 6,
                                .pause = "3000"}),
    [](const ::testing::TestParamInfo<BurstCase>& param_info) {
        return std::to_string(param_info.param.bad) +
               (param_info.param.pause != nullptr ? "_pause" : "");
    });

// --- Ending the run --------------------------------------------------------------------------

TEST_F(GyroE2e, OtherKeysAreConsumedAndQEndsThePhase) {
    start_recording();
    ASSERT_TRUE(wait_gyro_records(5)) << transcript();
    program().send("Qx ");
    const size_t before = count_of(gyro_file(), "\n");
    ASSERT_TRUE(wait_gyro_records(before + 30)) << "recording goes on after Q, x and a blank";
    EXPECT_TRUE(program().running());
    const ExitStatus status = quit();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_TRUE(
        std::regex_search(out(), std::regex("\nGyro - [0-9]+ packets, 0 invalid, 0 "
                                            "restarts, [0-9]+ records\nbefore hsifdllinit\n$")))
        << transcript();
    EXPECT_EQ(gyro_file().back(), '\n');
}

TEST_F(GyroE2e, InterruptEndsWithCode130AndEveryRecordWritten) {
    // Under Wine, SIGINT to the Windows program's process is delivered as a Ctrl+C console
    // control event.
    start_recording();
    ASSERT_TRUE(wait_gyro_records(20)) << transcript();
    program().signal(SIGINT);
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 130) << status.describe() << transcript();
    EXPECT_EQ(count_of(out(), "before hsifdllinit"), 0u) << "the laser phase is skipped";
    const std::optional<GyroSummary> summary = parse_gyro_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    const std::string file = gyro_file();
    EXPECT_EQ(count_of(file, "\n"), summary->records) << "every record counted is in the file";
    EXPECT_EQ(file.back(), '\n');
}

// --- Ports that are missing, busy, silent or lost --------------------------------------------

TEST_F(GyroE2e, MissingPortLeavesAnEmptyFileAndExitCode1) {
    ASSERT_EQ(launch(arguments()), "");  // no unit: nothing at the port's name
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_EQ(out(), "Version 1.1\nGyro - could not open serial port, 2\n") << transcript();
    ASSERT_TRUE(fs::exists(dir() / "gyro.txt"));
    EXPECT_EQ(fs::file_size(dir() / "gyro.txt"), 0u);
}

TEST_F(GyroE2e, PortInUseIsRefused) {
    if (e2e_target().wine) {
        GTEST_SKIP() << "under Wine a second exclusive open of a COM port succeeds";
    }
    start_recording();
    ASSERT_TRUE(wait_gyro_records(3)) << transcript();
    testsupport::TargetProgram second;
    ASSERT_TRUE(second.launch(e2e_target().exe, {"l2.txt", "g2.txt", "s2.txt", "-C", unit().port()},
                              {}, dir().string()));
    const ExitStatus status = second.wait(kHangBound);
    EXPECT_EQ(status.code, 1) << status.describe() << second.out() << second.err();
    EXPECT_TRUE(std::regex_search(second.console_out(),
                                  std::regex("\nGyro - could not open serial port, [0-9]+\n$")))
        << second.out();
    EXPECT_EQ(quit().code, kExitAfterGyroPhase)
        << "the first run goes on undisturbed" << transcript();
}

TEST_F(GyroE2e, SilentUnitIsReportedOnceAndQStillEnds) {
    // The unit stays silent after 30 packets until the test ends: a run that ends with exactly
    // those records ended during the silence.
    constexpr size_t kRecords = 30;
    start_recording({"--silence", std::string(kForever) + "@" + std::to_string(kRecords)});
    const std::string notice = "Gyro - no data from the unit, still waiting (press q to stop)\n";
    ASSERT_TRUE(program().wait_for_console(notice)) << transcript();
    // Still silent for longer than the notice's 2 s after it: it is printed once.
    EXPECT_FALSE(program().wait_for(
        [&](const std::string& text, const std::string&) {
            return count_of(text, notice.substr(0, 30)) > 1;
        },
        milliseconds(2500)))
        << "the notice is repeated" << transcript();
    // A key typed right after q does not take it back.
    program().send("qx");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_EQ(count_of(out(), notice), 1u) << transcript();
    EXPECT_EQ(count_of(out(), "\n" + notice), 1u) << "on its own line" << transcript();
    EXPECT_EQ(count_of(gyro_file(), "\n"), kRecords) << "q ends the wait for data";
}

TEST_F(GyroE2e, UnitThatNeverAcknowledgesEndsTheRun) {
    ASSERT_EQ(start_unit({"--no-ack"}), "");
    const testsupport::Clock::time_point started = testsupport::Clock::now();
    ASSERT_EQ(launch(arguments()), "");
    // Each wait gives up after 5 s; the mode letter's is the first that fails.
    const ExitStatus status = wait();
    const auto took = std::chrono::duration_cast<milliseconds>(testsupport::Clock::now() - started);
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_GE(took.count(), 4500) << "the program waited its 5 s";
    EXPECT_EQ(count_of(err(), "Gyro - no answer from the unit on " + unit().port() + "\n"), 1u)
        << transcript();
    EXPECT_EQ(count_of(out(), "before hsifdllinit"), 0u);
    EXPECT_TRUE(std::regex_match(unit().log(), std::regex("P+a+")))
        << "only stop commands and the mode letter: " << unit().log();
}

TEST_F(GyroE2e, LostPortIsReportedReopenedAndRecordingGoesOn) {
    constexpr unsigned kBefore = 100;
    start_recording({"--hangup", "1500@" + std::to_string(kBefore)});
    ASSERT_TRUE(program().wait_for_console("Gyro - lost the serial port, ", kHangBound, true))
        << transcript();
    const size_t at_loss = gyro_records().size();
    // Back once the device returns: a restart, then records again.
    ASSERT_TRUE(wait_gyro_records(at_loss + 50)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    EXPECT_EQ(count_of(err(), "Gyro - lost the serial port, "), 1u) << transcript();
    EXPECT_TRUE(std::regex_search(err(), std::regex("Gyro - lost the serial port, -?[0-9]+\n")));
    EXPECT_EQ(testsupport::unit_exchanges(unit().log()).size(), 2u)
        << "a restart on the new line: " << unit().log();
    const std::optional<GyroSummary> summary = parse_gyro_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->restarts, 1u);
    const std::vector<GyroRecord> records = gyro_records();
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_GT(records[i].count, records[i - 1].count) << "the counter goes on, record " << i;
    }
}

TEST_F(GyroE2e, QDuringAnOutageEndsThePhase) {
    constexpr unsigned kBefore = 50;
    start_recording({"--hangup", "0@" + std::to_string(kBefore)});  // the line never comes back
    ASSERT_TRUE(program().wait_for_console("Gyro - lost the serial port, ", kHangBound, true))
        << transcript();
    const ExitStatus status = quit();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_TRUE(std::regex_search(out(), std::regex("before hsifdllinit\n$"))) << transcript();
    // The records of the packets that reached the logger before the line went: a hang-up may
    // take the last ones unread with it.
    const std::optional<GyroSummary> summary = parse_gyro_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    const std::vector<GyroRecord> records = gyro_records();
    EXPECT_EQ(records.size(), summary->records);
    EXPECT_LE(records.size(), kBefore);
    const std::vector<UnitExchange> exchanges = testsupport::unit_exchanges(unit().log());
    ASSERT_EQ(exchanges.size(), 1u) << unit().log();
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i].count, i + 1) << "record " << i;
        ASSERT_EQ(records[i].tail, i + exchanges[0].probes) << "record " << i;
    }
}

// --- The command line ------------------------------------------------------------------------

TEST_F(GyroE2e, NoArgumentsPrintsVersionThenUsageAndWaitsForAKey) {
    ASSERT_EQ(launch({}), "");
    ASSERT_TRUE(program().wait_for_console("2 stop bits.")) << transcript();
    EXPECT_TRUE(program().running()) << "it waits for one character";
    program().send("\n");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe();
    const std::vector<std::string> lines = split(out(), '\n');
    ASSERT_EQ(lines.size(), 27u) << transcript();
    EXPECT_EQ(lines[0], "Version 1.1");
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex("usage: .*morvane(\\.exe)? <Laserfile><Gyrofile>"
                                              "<GPSfile> <options>")))
        << lines[1];
    EXPECT_EQ(lines[2], "Available options are: ");
    EXPECT_EQ(lines[26],
              "    StopBits values: 0 -- 1 stop bit; 1 -- 1.5 stop bits; 2 -- 2 stop bits.");
    EXPECT_FALSE(fs::exists(dir() / "gyro.txt"));
}

struct BadCommandCase {
    const char* legend;
    std::vector<std::string> options;
    const char* stdout_tail = "";  // what stdout ends with; empty: a line on stderr instead
};

class BadCommandLine : public GyroE2e, public ::testing::WithParamInterface<BadCommandCase> {};

TEST_P(BadCommandLine, EndsWithCode1BeforeAnyFileIsCreated) {
    const BadCommandCase& c = GetParam();
    std::vector<std::string> args{"laser.txt", "gyro.txt", "gps.txt"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(launch(args), "");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << c.legend << ": " << status.describe() << transcript();
    EXPECT_FALSE(fs::exists(dir() / "gyro.txt")) << c.legend;
    EXPECT_FALSE(fs::exists(dir() / "laser.txt")) << c.legend;
    const std::string text = out();
    if (*c.stdout_tail != '\0') {
        const std::string tail = c.stdout_tail;
        ASSERT_GE(text.size(), tail.size()) << transcript();
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << c.legend << transcript();
    } else {
        EXPECT_EQ(text, "Version 1.1\n") << c.legend;
        EXPECT_EQ(count_of(err(), "\n"), 1u) << c.legend << ": one line on stderr" << transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, BadCommandLine,
    ::testing::Values(
        BadCommandCase{
            .legend = "unknown option letter",
            .options = {"-x", "5"},
            .stdout_tail = "unknown argument: -x\ntype morvane without any parameters for help\n"},
        BadCommandCase{
            .legend = "option without its value word",
            .options = {"-d"},
            .stdout_tail = "missing value for -d\ntype morvane without any parameters for help\n"},
        BadCommandCase{.legend = "word too short to carry a letter",
                       .options = {"-", "5"},
                       .stdout_tail = "type morvane without any parameters for help\n"},
        BadCommandCase{.legend = "mode the unit does not know", .options = {"-M", "x"}},
        BadCommandCase{.legend = "negative decimation", .options = {"-d", "-1"}},
        BadCommandCase{.legend = "more lines than the sample array holds",
                       .options = {"-l", "201"}},
        BadCommandCase{.legend = "a time step that is not a number", .options = {"-t", "nan"}},
        BadCommandCase{.legend = "a time step whose times overflow", .options = {"-t", "1e308"}},
        BadCommandCase{.legend = "a record spacing that is not finite", .options = {"-f", "inf"}}),
    [](const ::testing::TestParamInfo<BadCommandCase>& param_info) {
        return "case" + std::to_string(param_info.index);
    });

// --- What the program says it recorded is in the file ---------------------------------------

TEST_F(GyroE2e, SameFileTwiceIsRefusedBeforeAnythingIsCreated) {
    struct Case {
        const char* legend;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"the laser and the gyro file", {"same.txt", "same.txt", "gps.txt"}},
        {"the gyro and the GPS file, one through its folder",
         {"laser.txt", "same.txt", "./same.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        testsupport::write_file(dir() / "same.txt", "records of an earlier run\n");
        std::vector<std::string> args = c.files;
        args.insert(args.end(), {"-C", "no-such-port"});
        testsupport::TargetProgram same_file_run;
        ASSERT_TRUE(same_file_run.launch(e2e_target().exe, args, {}, dir().string()));
        const ExitStatus status = same_file_run.wait(kHangBound);
        EXPECT_EQ(status.code, 1) << status.describe() << same_file_run.console_err();
        EXPECT_EQ(same_file_run.console_out(), "Version 1.1\n");
        EXPECT_TRUE(std::regex_match(same_file_run.console_err(),
                                     std::regex("Error: the [a-zA-Z]+ file \\S+ and the [a-zA-Z]+ "
                                                "file \\S+ are the same file\n")))
            << same_file_run.console_err();
        EXPECT_EQ(testsupport::read_file(dir() / "same.txt"), "records of an earlier run\n")
            << "nothing emptied";
        EXPECT_FALSE(fs::exists(dir() / "laser.txt"));
        EXPECT_FALSE(fs::exists(dir() / "gps.txt"));
    }
}

TEST_F(GyroE2e, AGyroFileThatCannotBeWrittenEndsTheRunWithCode1) {
    // Every write to the full device fails, as on a full disk. Under Wine the Unix device is
    // reached through its path as well.
    ASSERT_EQ(start_unit(), "");
    ASSERT_EQ(launch({"laser.txt", "/dev/full", "gps.txt", "-C", unit().port(), "-S",
                      testsupport::kNoGpsPort}),
              "");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_EQ(count_of(err(), "Gyro - Error: can't write the file /dev/full: "), 1u)
        << transcript();
    EXPECT_EQ(count_of(err(), "\n"), 1u) << "one line" << transcript();
    const std::optional<GyroSummary> summary = parse_gyro_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->records, 0u) << "no record reached the device";
    EXPECT_EQ(count_of(out(), "before hsifdllinit"), 0u) << "the laser phase is skipped";
    EXPECT_FALSE(fs::exists(dir() / "laser.txt"));
}

// A port an earlier program left with XON/XOFF on: the program turns it off, so the packets'
// bytes 0x11 and 0x13 arrive and every packet is valid. (The unit's TAIL_WORDs 17 and 19 carry
// both in the first 50 packets.)
TEST_F(GyroE2e, APortLeftWithSoftwareFlowControlRecordsEveryPacket) {
    ASSERT_NO_FATAL_FAILURE(record_and_quit({.unit = {"--xon-xoff"}, .records = 60}));
    EXPECT_EQ(summary_.invalid, 0u) << transcript();
    EXPECT_EQ(summary_.restarts, 0u);
    const std::vector<GyroRecord> file = gyro_records();
    ASSERT_GE(file.size(), 60u);
    for (size_t i = 1; i < file.size(); ++i) {
        ASSERT_EQ(file[i].tail, file[i - 1].tail + 1) << "record " << i << transcript();
    }
}

// Natively only: Windows has neither SIGQUIT nor SIGPIPE.
TEST_F(GyroE2e, QuitSignalEndsLikeAnInterruptAndAClosedConsoleDoesNotStopTheRecording) {
    if (e2e_target().wine) {
        GTEST_SKIP() << "POSIX signals";
    }
    ASSERT_EQ(start_unit(), "");
    // The console is a pipe into a reader that reads 100 bytes and goes away.
    ASSERT_EQ(launch({"-c", "\"$0\" \"$@\" | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}",
                      e2e_target().exe, "laser.txt", "gyro.txt", "gps.txt", "-C", unit().port()},
                     {}, "bash"),
              "");
    ASSERT_TRUE(wait_gyro_records(100))
        << "recording goes on after the console went away" << transcript();
    program().send("q");
    const ExitStatus piped = wait();
    EXPECT_EQ(piped.code, kExitAfterGyroPhase) << piped.describe() << transcript();

    testsupport::TargetProgram quit_by_signal;
    ASSERT_TRUE(quit_by_signal.launch(e2e_target().exe,
                                      {"laser.txt", "gyro2.txt", "gps.txt", "-C", unit().port()},
                                      {}, dir().string()));
    ASSERT_TRUE(testsupport::wait_until(
        [&] { return count_of(testsupport::read_file(dir() / "gyro2.txt"), "\n") >= 20; },
        kHangBound, milliseconds(20)));
    quit_by_signal.signal(SIGQUIT);
    const ExitStatus status = quit_by_signal.wait(kHangBound);
    EXPECT_EQ(status.code, 130) << status.describe() << quit_by_signal.console_err();
    const std::optional<GyroSummary> summary = parse_gyro_summary(quit_by_signal.console_out());
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(count_of(testsupport::read_file(dir() / "gyro2.txt"), "\n"), summary->records)
        << "every record counted is in the file";
}

}  // namespace
