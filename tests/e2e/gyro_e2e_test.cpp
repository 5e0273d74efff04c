// The gyro phase end to end: the program against ahrs-sim on a pseudo-terminal (natively, or
// the Windows program under Wine with COM7 mapped onto it; see README.md), keys through a pipe;
// its console, its exit code, the gyro file and the bytes the unit received checked.

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
// These runs give the program no interface library: after the gyro phase the run ends with
// kExitAfterGyroPhase. The laser suite proves the code of a whole survey.
using namespace testsupport;

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

class GyroE2e : public E2eTest {
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

// --- One run per mode: the start-up exchange, the console and the records --------------------

struct ModeCase {
    const char* name;
    const char* legend;
    char mode;  // asked with -M; the unit starts in another mode
    std::vector<std::string> unit = {};
    std::vector<std::string> options = {};  // after -M
    size_t fields;                          // per record
    unsigned long step = 1;                 // between successive counts (and TAIL_WORDs)
    size_t records = 30;  // the live line shows every tenth packet: two display lines at least
};

class ModeRun : public GyroE2e, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeRun, ExchangeConsoleAndRecordsWithoutGaps) {
    const ModeCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    std::vector<std::string> unit_options{"--mode", c.mode == 'a' ? "c" : "a"};
    unit_options.insert(unit_options.end(), c.unit.begin(), c.unit.end());
    std::vector<std::string> options{"-M", std::string(1, c.mode)};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ASSERT_NO_FATAL_FAILURE(
        record_and_quit({.unit = unit_options, .options = options, .records = c.records}));

    // One exchange; its probe repeats only when an answer was not one whole packet.
    EXPECT_TRUE(std::regex_match(unit().log(), std::regex(exchange_pattern(c.mode))))
        << "the unit received \"" << unit().log() << "\"";
    EXPECT_EQ(summary_.invalid, 0u) << "packet boundaries set by the exchange";
    EXPECT_EQ(summary_.restarts, 0u);
    EXPECT_TRUE(
        std::regex_search(out(), std::regex("\nGyro - [0-9]+ packets, 0 invalid, 0 "
                                            "restarts, [0-9]+ records\nbefore hsifdllinit\n$")))
        << "q ends the phase" << transcript();

    const bool angle = c.mode == 'a';
    const std::string text = out();
    const std::string start =
        std::string("Version 1.1\n") + "Gyro record is starting now!\n" +
        "For stop, Press 'Q' !\n" +
        (angle
             ? "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  ACCELZ  MAGX   "
               "MAGY   MAGZ  TEMP\n"
             : "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n") +
        "before restart\n" + "after restart\n";
    ASSERT_EQ(text.substr(0, start.size()), start) << transcript();
    // Display lines: values of "%7.2f " (TEMP "%8.2f "), each line ended by "\r" alone.
    const std::string live = text.substr(start.size());
    const size_t end = live.find("\nGyro - ");
    ASSERT_NE(end, std::string::npos) << transcript();
    const std::vector<std::string> lines = split(live.substr(0, end), '\r');
    ASSERT_GE(lines.size(), 2u) << transcript();
    EXPECT_EQ(live[end - 1], '\r') << "the last display line ends in \"\\r\"";
    const std::string pattern =
        std::string("([ 0-9.-]{7} ){") + (angle ? "12" : "9") + "}[ 0-9.-]{8} ";
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, std::regex(pattern)))
            << "display line \"" << line << "\"";
    }
    EXPECT_EQ(count_of(live.substr(0, end), "\n"), 0u) << "no line feed inside the live line";

    const std::string file = gyro_file();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.back(), '\n') << "the file ends with a whole record";
    EXPECT_EQ(count_of(file, "\r"), 0u) << "the gyro file is binary: no \"\\r\"";
    const std::vector<GyroRecord> records = parse_gyro_records(file);
    ASSERT_GE(records.size(), c.records);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(records[i].fields, c.fields);
        EXPECT_TRUE(records[i].well_formed);
        EXPECT_EQ(records[i].count % c.step, 0u);
        if (i > 0) {
            EXPECT_EQ(records[i].count, records[i - 1].count + c.step);
            EXPECT_EQ(records[i].tail, (records[i - 1].tail + c.step) % 65536);
        }
    }
    EXPECT_EQ(records.front().count, c.step);
    EXPECT_EQ(summary_.records, records.size());
    EXPECT_EQ(summary_.packets / c.step, records.size());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeRun,
    ::testing::Values(
        ModeCase{.name = "a", .legend = "angle mode", .mode = 'a', .fields = 15},
        ModeCase{.name = "c", .legend = "scaled mode", .mode = 'c', .fields = 12},
        ModeCase{.name = "r", .legend = "voltage mode", .mode = 'r', .fields = 12},
        ModeCase{.name = "a_streaming",
                 .legend = "unit already streaming: stopped, then the same exchange",
                 .mode = 'a',
                 .unit = {"--streaming"},
                 .fields = 15},
        ModeCase{.name = "a_decimation3",
                 .legend = "decimation 3: every third packet, counts 3, 6, 9",
                 .mode = 'a',
                 .options = {"-d", "3"},
                 .fields = 15,
                 .step = 3},
        ModeCase{.name = "c_decimation0",
                 .legend = "decimation 0 is full rate",
                 .mode = 'c',
                 .options = {"-d", "0"},
                 .fields = 12},
        ModeCase{.name = "r_time",
                 .legend = "computed time: one field more",
                 .mode = 'r',
                 .options = {"-t", "0.01"},
                 .fields = 13},
        // An earlier program left the port with XON/XOFF on: the program turns it off, so the
        // bytes 0x11 and 0x13 arrive (the TAIL_WORDs 17 and 19 carry both) and no packet is bad.
        ModeCase{.name = "a_xon_xoff",
                 .legend = "a port left with software flow control",
                 .mode = 'a',
                 .unit = {"--xon-xoff"},
                 .fields = 15,
                 .records = 60}),
    [](const ::testing::TestParamInfo<ModeCase>& param_info) { return param_info.param.name; });

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
    SCOPED_TRACE(c.legend);
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
    const std::vector<UnitExchange> exchanges = unit_exchanges(unit().log());
    ASSERT_EQ(exchanges.size(), 2u) << transcript();
    for (const UnitExchange& exchange : exchanges) {
        EXPECT_TRUE(std::regex_match(exchange.bytes, std::regex(exchange_pattern('a'))))
            << exchange.bytes;
    }
    EXPECT_EQ(summary_.restarts, 1u);
    EXPECT_EQ(count_of(out(), "\nbad checksum:"), summary_.invalid) << transcript();
    EXPECT_EQ(summary_.records, summary_.packets - summary_.invalid);

    const std::vector<GyroRecord> records = gyro_records();
    ASSERT_EQ(records.size(), summary_.records);
    ASSERT_GT(records.size(), kGoodFirst);
    // Before the burst every packet is read and recorded.
    for (size_t i = 0; i < kGoodFirst; ++i) {
        ASSERT_EQ(records[i].count, i + 1) << "record " << i;
        ASSERT_EQ(records[i].tail, i + exchanges[0].probes) << "record " << i;
    }
    // After it the counter goes on over the bad packets read, and no packet is missed.
    const GyroRecord& first = records[kGoodFirst];
    EXPECT_EQ(first.count, kGoodFirst + summary_.invalid + 1);
    for (size_t i = kGoodFirst + 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].count, records[i - 1].count + 1) << "record " << i;
        ASSERT_EQ(records[i].tail, records[i - 1].tail + 1) << "record " << i;
    }
    // The unit's numbers tell what the restart drained; the logger counts every bad packet
    // that reached it: the burst less the bad packets among those drained.
    const unsigned long probes = exchanges[0].probes + exchanges[1].probes;
    ASSERT_GE(first.tail, kGoodFirst + c.bad + probes) << "a bad packet was recorded";
    const unsigned long drained = first.tail + 1 - probes - first.count;
    const unsigned long drained_bad =
        std::min<unsigned long>(drained, c.bad - kBadPacketsToRestart);
    EXPECT_EQ(summary_.invalid, c.bad - drained_bad)
        << drained << " packets drained by the restart";
    if (c.pause != nullptr) {
        // The last bad packet is judged as the line falls silent, so the restart stops the unit
        // during its pause: nothing it sends afterwards is drained, and no silence is reported.
        EXPECT_EQ(drained, 0u) << transcript();
        EXPECT_EQ(count_of(out(), "no data from the unit"), 0u) << transcript();
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

// A second program on the port, Q, x and a blank leave the recording going; Ctrl+C (under Wine,
// SIGINT to the Windows program's process, delivered as a console control event) ends it.
TEST_F(GyroE2e, PortInUseAndOtherKeysLeaveTheRecordingAndInterruptEndsItWithCode130) {
    start_recording();
    ASSERT_TRUE(wait_gyro_records(5)) << transcript();
    if (!e2e_target().wine) {  // under Wine a second exclusive open of a COM port succeeds
        TargetProgram second;
        ASSERT_TRUE(second.launch(e2e_target().exe,
                                  {"l2.txt", "g2.txt", "s2.txt", "-C", unit().port()}, {},
                                  dir().string()));
        const ExitStatus refused = second.wait(kHangBound);
        EXPECT_EQ(refused.code, 1) << refused.describe() << second.out() << second.err();
        EXPECT_TRUE(std::regex_search(second.console_out(),
                                      std::regex("\nGyro - could not open serial port, [0-9]+\n$")))
            << second.out();
    }
    program().send("Qx ");
    const size_t before = count_of(gyro_file(), "\n");
    ASSERT_TRUE(wait_gyro_records(before + 30))
        << "recording goes on after the second program, Q, x and a blank" << transcript();
    EXPECT_TRUE(program().running());
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

// --- Ports that are missing, silent or lost --------------------------------------------------

TEST_F(GyroE2e, MissingPortLeavesAnEmptyFileAndExitCode1) {
    ASSERT_EQ(launch(arguments()), "");  // no unit: nothing at the port's name
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_EQ(out(), "Version 1.1\nGyro - could not open serial port, 2\n") << transcript();
    ASSERT_TRUE(fs::exists(dir() / "gyro.txt"));
    EXPECT_EQ(fs::file_size(dir() / "gyro.txt"), 0u);
}

// The unit falls silent after 10 records until the test ends. Ten records are far less than the
// file's buffer holds: they reach the file only through the program's own timed flush.
TEST_F(GyroE2e, SilentUnitIsReportedOnceItsRecordsAreFlushedAndQStillEnds) {
    constexpr size_t kRecords = 10;
    start_recording({"--silence", std::string(kForever) + "@" + std::to_string(kRecords)});
    ASSERT_TRUE(wait_gyro_records(kRecords))
        << "the file holds " << count_of(gyro_file(), "\n") << " records" << transcript();
    EXPECT_TRUE(program().running());
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
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(launch(arguments()), "");
    // Each wait gives up after 5 s; the mode letter's is the first that fails.
    const ExitStatus status = wait();
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
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
    EXPECT_EQ(unit_exchanges(unit().log()).size(), 2u)
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
    const std::vector<UnitExchange> exchanges = unit_exchanges(unit().log());
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

// The error of a file named twice, for either pair.
constexpr const char* kSameFile =
    "Error: the [a-zA-Z]+ file \\S+ and the [a-zA-Z]+ file \\S+ are the same file\n";

struct BadCommandCase {
    const char* legend;
    std::vector<std::string> options;
    // What stdout ends with; empty: stdout is the version line and stderr the one line err_line.
    const char* stdout_tail = "";
    const char* err_line = "[^\n]*\n";
    std::vector<std::string> files = {"laser.txt", "gyro.txt", "gps.txt"};
};

class BadCommandLine : public GyroE2e, public ::testing::WithParamInterface<BadCommandCase> {};

TEST_P(BadCommandLine, EndsWithCode1BeforeAnyFileIsCreated) {
    const BadCommandCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    // The records of an earlier run, in a file some rows name twice: nothing may empty it.
    write_file(dir() / "same.txt", "records of an earlier run\n");
    std::vector<std::string> args = c.files;
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(launch(args), "");
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    for (const char* file : {"gyro.txt", "laser.txt", "gps.txt"}) {
        EXPECT_FALSE(fs::exists(dir() / file)) << file;
    }
    EXPECT_EQ(read_file(dir() / "same.txt"), "records of an earlier run\n") << "nothing emptied";
    const std::string text = out();
    if (*c.stdout_tail != '\0') {
        const std::string tail = c.stdout_tail;
        ASSERT_GE(text.size(), tail.size()) << transcript();
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << transcript();
    } else {
        EXPECT_EQ(text, "Version 1.1\n");
        EXPECT_TRUE(std::regex_match(err(), std::regex(c.err_line))) << "one line" << transcript();
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
        BadCommandCase{.legend = "a record spacing that is not finite", .options = {"-f", "inf"}},
        BadCommandCase{.legend = "the laser and the gyro file the same",
                       .options = {"-C", "no-such-port"},
                       .err_line = kSameFile,
                       .files = {"same.txt", "same.txt", "gps.txt"}},
        BadCommandCase{.legend = "the gyro and the GPS file the same, one through its folder",
                       .options = {"-C", "no-such-port"},
                       .err_line = kSameFile,
                       .files = {"laser.txt", "same.txt", "./same.txt"}}),
    [](const ::testing::TestParamInfo<BadCommandCase>& param_info) {
        return "case" + std::to_string(param_info.index);
    });

// --- What the program says it recorded is in the file ---------------------------------------

TEST_F(GyroE2e, AGyroFileThatCannotBeWrittenEndsTheRunWithCode1) {
    // Every write to the full device fails, as on a full disk. Under Wine the Unix device is
    // reached through its path as well.
    ASSERT_EQ(start_unit(), "");
    ASSERT_EQ(launch({"laser.txt", "/dev/full", "gps.txt", "-C", unit().port(), "-S", kNoGpsPort}),
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

    TargetProgram quit_by_signal;
    ASSERT_TRUE(quit_by_signal.launch(e2e_target().exe,
                                      {"laser.txt", "gyro2.txt", "gps.txt", "-C", unit().port()},
                                      {}, dir().string()));
    ASSERT_TRUE(wait_until([&] { return count_of(read_file(dir() / "gyro2.txt"), "\n") >= 20; },
                           kHangBound, milliseconds(20)));
    quit_by_signal.signal(SIGQUIT);
    const ExitStatus status = quit_by_signal.wait(kHangBound);
    EXPECT_EQ(status.code, 130) << status.describe() << quit_by_signal.console_err();
    const std::optional<GyroSummary> summary = parse_gyro_summary(quit_by_signal.console_out());
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(count_of(read_file(dir() / "gyro2.txt"), "\n"), summary->records)
        << "every record counted is in the file";
}

}  // namespace
