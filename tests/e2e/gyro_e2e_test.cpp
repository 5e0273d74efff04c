// The gyro phase end to end: the program as a process against ahrs-sim on a pseudo-terminal,
// keys through a pipe, console output, the gyro file and the bytes the unit received checked.
// The same suite runs the native program and, under Wine, the Windows program with COM7 mapped
// onto the simulator's pseudo-terminal (MORVANE_TARGET=native or wine; see README.md).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "process.hpp"
#include "text.hpp"
#include "wine.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::count_of;
using testsupport::ExitStatus;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::read_file;
using testsupport::split;

// Printed when the whole suite cannot run here; ctest reports the test as skipped on it.
constexpr const char* kSkipMarker = "E2E-SKIPPED: ";

// The COM port the Windows program is given under Wine.
constexpr int kComNumber = 7;

// Generous bounds: CI machines have two cores, and Wine adds a cold start now and then.
constexpr milliseconds kSimStart(5000);
constexpr milliseconds kRecordsWait(15000);
constexpr milliseconds kExitWait(15000);

// These runs give the program no interface library: after the gyro phase the laser phase cannot
// bind it and the run ends with this code. The laser suite proves the code of a whole survey.
constexpr int kExitAfterGyroPhase = 2;

struct Target {
    bool wine = false;
    std::string exe;
    std::string sim;
    std::string skip_reason;  // not empty: the suite cannot run
};

Target& target() {
    static Target t;
    return t;
}

// Reads the target from the environment and, for Wine, starts the prefix's wineserver for the
// whole suite.
class TargetEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Target& t = target();
        const char* kind = std::getenv("MORVANE_TARGET");
        const char* exe = std::getenv("MORVANE_EXE");
        const char* sim = std::getenv("AHRS_SIM");
        t.wine = kind != nullptr && std::string(kind) == "wine";
        t.exe = exe != nullptr ? exe : "";
        t.sim = sim != nullptr ? sim : "";
        if (kind == nullptr || t.exe.empty() || t.sim.empty()) {
            t.skip_reason = "MORVANE_TARGET, MORVANE_EXE and AHRS_SIM are not all set";
        } else if (!fs::exists(t.exe)) {
            t.skip_reason =
                "no program at " + t.exe + (t.wine ? " (build it with: make windows)" : "");
        } else if (!fs::exists(t.sim)) {
            t.skip_reason = "no simulator at " + t.sim;
        } else if (t.wine) {
            std::string why;
            if (!testsupport::wine_setup(&why)) {
                t.skip_reason = "Wine cannot run here: " + why;
            } else {
                wine_started_ = true;
            }
        }
        if (!t.skip_reason.empty()) {
            std::printf("%s%s\n", kSkipMarker, t.skip_reason.c_str());
            std::fflush(stdout);
        }
    }

    void TearDown() override {
        if (wine_started_) {
            testsupport::wine_cleanup();
        }
    }

private:
    bool wine_started_ = false;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new TargetEnvironment);

// msvcrt writes console text in text mode: "\n" arrives as "\r\n". The gyro file is "wb" and
// keeps its "\n".
std::string console_text(const std::string& raw, bool wine) {
    return wine ? testsupport::without_crlf(raw) : raw;
}

// One record of the gyro file: its packet count, TAIL_WORD and field count.
struct Record {
    unsigned long count = 0;
    unsigned long tail = 0;
    size_t fields = 0;
    bool well_formed = false;  // every value field has the "%f" shape
};

std::vector<Record> parse_records(const std::string& file) {
    static const std::regex fixed_point("-?[0-9]+\\.[0-9]{6}");
    std::vector<Record> records;
    for (const std::string& line : split(file, '\n')) {
        Record record;
        const std::vector<std::string> fields = split(line, ' ');
        record.fields = fields.size();
        if (fields.size() >= 3) {
            record.count = std::stoul(fields.front());
            record.tail = std::stoul(fields.back());
            record.well_formed = std::all_of(
                fields.begin() + 1, fields.end() - 1,
                [](const std::string& value) { return std::regex_match(value, fixed_point); });
        }
        records.push_back(record);
    }
    return records;
}

struct Summary {
    unsigned packets = 0, invalid = 0, restarts = 0, records = 0;
};

std::optional<Summary> parse_summary(const std::string& out) {
    static const std::regex line(
        "(^|\n)Gyro - ([0-9]+) packets, ([0-9]+) invalid, ([0-9]+) restarts, ([0-9]+) records\n");
    std::smatch match;
    if (!std::regex_search(out, match, line)) {
        return std::nullopt;
    }
    return Summary{
        static_cast<unsigned>(std::stoul(match[2])), static_cast<unsigned>(std::stoul(match[3])),
        static_cast<unsigned>(std::stoul(match[4])), static_cast<unsigned>(std::stoul(match[5]))};
}

// One test's world: a temporary folder, the simulated unit and the program under test.
class GyroE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!target().skip_reason.empty()) {
            GTEST_SKIP() << target().skip_reason;
        }
        wine_ = target().wine;
        char pattern[] = "/tmp/morvane-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }

    void TearDown() override {
        logger_.reset();
        stop_sim();
        mapping_.reset();
        if (!dir_.empty()) {
            if (HasFailure()) {
                std::printf("files of this test kept in %s\n", dir_.c_str());
            } else {
                std::error_code ec;
                fs::remove_all(dir_, ec);
            }
        }
    }

    // Starts the unit with extra simulator options; the port name the program gets follows the
    // unit's link across hang-ups.
    void start_sim(const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv{target().sim, "--link", link_path(), "--log",
                                      (dir_ / "unit.log").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        sim_ = std::make_unique<Process>();
        ASSERT_TRUE(sim_->start(argv)) << sim_->error();
        sim_->close_stdin();
        ASSERT_FALSE(testsupport::first_line(*sim_, kSimStart).empty())
            << "the simulator printed no device path; stderr: " << sim_->err();
        if (wine_) {
            mapping_ = std::make_unique<testsupport::ComMapping>(kComNumber, link_path());
            ASSERT_TRUE(mapping_->ok()) << mapping_->error();
        }
    }

    void stop_sim() {
        if (sim_ && sim_->running()) {
            sim_->signal(SIGTERM);
            sim_->wait(milliseconds(5000));
        }
    }

    std::string link_path() const { return (dir_ / "link").string(); }

    // The port word the program is given for the unit.
    std::string port() const { return wine_ ? "COM" + std::to_string(kComNumber) : link_path(); }

    // Starts the program with its whole argument list (after the program name).
    void start_logger(const std::vector<std::string>& args) {
        std::vector<std::string> argv;
        std::vector<std::string> env;
        if (wine_) {
            argv = {testsupport::wine_run_script(), target().exe};
            env = testsupport::wine_environment();
        } else {
            argv = {target().exe};
        }
        argv.insert(argv.end(), args.begin(), args.end());
        logger_ = std::make_unique<Process>();
        ASSERT_TRUE(logger_->start(argv, env, dir_.string())) << logger_->error();
    }

    // Starts the program on the three files and the unit's port, with more options.
    void start_recording(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args{"laser.txt", "gyro.txt", "gps.txt", "-C", port()};
        args.insert(args.end(), options.begin(), options.end());
        start_logger(args);
    }

    fs::path gyro_path() const { return dir_ / "gyro.txt"; }
    std::string gyro_file() const { return read_file(gyro_path()); }
    std::string unit_log() const { return read_file(dir_ / "unit.log"); }
    std::string out() const { return console_text(logger_->out(), wine_); }
    std::string err() const { return console_text(logger_->err(), wine_); }

    // Waits until the gyro file holds at least n complete records.
    bool wait_records(size_t n, milliseconds timeout = kRecordsWait) {
        return testsupport::wait_until([&] { return count_of(gyro_file(), "\n") >= n; }, timeout,
                                       milliseconds(20));
    }

    // Presses q and waits for the program to end.
    ExitStatus quit() {
        logger_->send("q");
        return logger_->wait(kExitWait);
    }

    // Everything the program printed, for failure messages.
    std::string transcript() const {
        return "\n--- stdout ---\n" + out() + "\n--- stderr ---\n" + err() +
               "\n--- simulator ---\n" + (sim_ ? sim_->err() : std::string());
    }

    bool wine_ = false;
    fs::path dir_;
    std::unique_ptr<Process> sim_;
    std::unique_ptr<Process> logger_;
    std::unique_ptr<testsupport::ComMapping> mapping_;
};

// --- The start-up exchange and the console -------------------------------------------------

struct ExchangeCase {
    const char* legend;
    char mode;
    std::vector<std::string> sim_options;
    const char* exchange;  // what the unit must have received, as a regular expression
};

class Exchange : public GyroE2e, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchange, UnitReceivesStopModeStopProbeContinuous) {
    const ExchangeCase& c = GetParam();
    std::vector<std::string> sim_options{"--mode", c.mode == 'a' ? "c" : "a"};
    sim_options.insert(sim_options.end(), c.sim_options.begin(), c.sim_options.end());
    start_sim(sim_options);
    start_recording({"-M", std::string(1, c.mode)});
    ASSERT_TRUE(wait_records(5)) << transcript();
    const ExitStatus status = quit();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_TRUE(std::regex_match(unit_log(), std::regex(c.exchange)))
        << c.legend << ": the unit received \"" << unit_log() << "\"";
    const std::optional<Summary> summary = parse_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->invalid, 0u) << c.legend << ": packet boundaries set by the exchange";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Exchange,
    ::testing::Values(
        ExchangeCase{
            "silent unit, angle mode: stops, 'a' until 'A', stops, 'G', 'C'", 'a', {}, "P+a+P+GC"},
        ExchangeCase{"scaled mode: the letter is 'c', acknowledged with 'C'", 'c', {}, "P+c+P+GC"},
        ExchangeCase{"voltage mode", 'r', {}, "P+r+P+GC"},
        ExchangeCase{"unit already streaming: stopped, then the same exchange",
                     'a',
                     {"--streaming"},
                     "P+a+P+GC"}),
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
    start_sim({"--mode", std::string(1, c.mode)});
    start_recording({"-M", std::string(1, c.mode)});
    // The live line shows every tenth packet: 30 records give at least two display lines.
    ASSERT_TRUE(wait_records(30)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

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
        ConsoleCase{
            "angle mode: the ROLL heading, 13 values", 'a',
            "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  ACCELZ  MAGX  "
            " MAGY   MAGZ  TEMP\n",
            13},
        ConsoleCase{
            "scaled mode: the GYROX heading, 10 values", 'c',
            "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n", 10},
        ConsoleCase{
            "voltage mode: the GYROX heading, 10 values", 'r',
            "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n", 10}),
    [](const ::testing::TestParamInfo<ConsoleCase>& param_info) {
        return std::string(1, param_info.param.mode);
    });

// --- Records ---------------------------------------------------------------------------------

struct RecordCase {
    const char* legend;
    char mode;
    std::vector<std::string> options;
    size_t fields;       // per record
    unsigned long step;  // between successive counts (and TAIL_WORDs)
};

class Records : public GyroE2e, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(Records, OneRecordPerGroupCountsAndTailWordsWithoutGaps) {
    const RecordCase& c = GetParam();
    start_sim({"--mode", std::string(1, c.mode)});
    std::vector<std::string> options{"-M", std::string(1, c.mode)};
    options.insert(options.end(), c.options.begin(), c.options.end());
    start_recording(options);
    ASSERT_TRUE(wait_records(20)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    const std::string file = gyro_file();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.back(), '\n') << "the file ends with a whole record";
    EXPECT_EQ(count_of(file, "\r"), 0u) << "the gyro file is binary: no \"\\r\"";
    const std::vector<Record> records = parse_records(file);
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

    const std::optional<Summary> summary = parse_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->invalid, 0u);
    EXPECT_EQ(summary->restarts, 0u);
    EXPECT_EQ(summary->records, records.size());
    EXPECT_EQ(summary->packets / c.step, records.size());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Records,
    ::testing::Values(
        RecordCase{"angle mode: count, 13 values, TAIL_WORD", 'a', {}, 15, 1},
        RecordCase{"scaled mode: count, 10 values, TAIL_WORD", 'c', {}, 12, 1},
        RecordCase{"voltage mode: count, 10 values, TAIL_WORD", 'r', {}, 12, 1},
        RecordCase{"decimation 3: every third packet, counts 3, 6, 9", 'a', {"-d", "3"}, 15, 3},
        RecordCase{"decimation 0 is full rate", 'c', {"-d", "0"}, 12, 1},
        RecordCase{"computed time: one field more", 'r', {"-t", "0.01"}, 13, 1}),
    [](const ::testing::TestParamInfo<RecordCase>& param_info) {
        return std::string(1, param_info.param.mode) + "_case" + std::to_string(param_info.index);
    });

TEST_F(GyroE2e, GyroFileIsFlushedWhileTheRunGoesOn) {
    start_sim();
    start_recording();
    // At least once a second: each of three successive waits sees the file grow.
    uintmax_t size = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(testsupport::wait_until(
            [&] {
                std::error_code ec;
                const uintmax_t now = fs::file_size(gyro_path(), ec);
                if (!ec && now > size) {
                    size = now;
                    return true;
                }
                return false;
            },
            milliseconds(2500), milliseconds(50)))
            << "the file stayed at " << size << " bytes" << transcript();
    }
    EXPECT_EQ(quit().code, kExitAfterGyroPhase) << transcript();
}

// --- Bad packets and the restart rule --------------------------------------------------------

struct BurstCase {
    const char* legend;
    unsigned bad;  // bad packets in a row, after 50 good ones
};

class BadBurst : public GyroE2e, public ::testing::WithParamInterface<BurstCase> {};

TEST_P(BadBurst, OneRestartPerRunOfBadPacketsAndTheCounterGoesOn) {
    const BurstCase& c = GetParam();
    constexpr unsigned kGoodFirst = 50;
    start_sim({"--bad-burst", std::to_string(c.bad) + "@" + std::to_string(kGoodFirst)});
    start_recording();
    ASSERT_TRUE(wait_records(kGoodFirst + 30)) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    const std::string log = unit_log();
    EXPECT_EQ(count_of(log, "G"), 2u) << c.legend << ": one restart, one probe each: " << log;
    const std::optional<Summary> summary = parse_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->restarts, 1u) << c.legend;
    EXPECT_EQ(summary->invalid, c.bad) << c.legend;
    EXPECT_EQ(summary->records, summary->packets - c.bad);
    EXPECT_EQ(count_of(out(), "\nbad checksum:"), c.bad) << transcript();

    // Records 1..50, then nothing for the bad packets, then on from 50 + bad + 1: the counter
    // is not reset by the restart.
    const std::vector<Record> records = parse_records(gyro_file());
    ASSERT_EQ(records.size(), summary->records);
    for (size_t i = 0; i < records.size(); ++i) {
        const unsigned long expected = i < kGoodFirst ? i + 1 : i + 1 + c.bad;
        ASSERT_EQ(records[i].count, expected) << c.legend << ", record " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Bursts, BadBurst,
                         ::testing::Values(BurstCase{"six bad packets: restart at the sixth", 6},
                                           BurstCase{"twenty bad packets: still one restart", 20}),
                         [](const ::testing::TestParamInfo<BurstCase>& param_info) {
                             return std::to_string(param_info.param.bad);
                         });

// --- Ending the run --------------------------------------------------------------------------

TEST_F(GyroE2e, OtherKeysAreConsumedAndQEndsThePhase) {
    start_sim();
    start_recording();
    ASSERT_TRUE(wait_records(5)) << transcript();
    logger_->send("Qx ");
    const size_t before = count_of(gyro_file(), "\n");
    ASSERT_TRUE(wait_records(before + 30)) << "recording goes on after Q, x and a blank";
    EXPECT_TRUE(logger_->running());
    const ExitStatus status = quit();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    const std::string text = out();
    EXPECT_TRUE(
        std::regex_search(text, std::regex("\nGyro - [0-9]+ packets, 0 invalid, 0 "
                                           "restarts, [0-9]+ records\nbefore hsifdllinit\n$")))
        << transcript();
    EXPECT_EQ(gyro_file().back(), '\n');
}

TEST_F(GyroE2e, InterruptEndsWithCode130AndEveryRecordWritten) {
    // Under Wine, SIGINT to the Windows program's process is delivered as a Ctrl+C console
    // control event.
    start_sim();
    start_recording();
    ASSERT_TRUE(wait_records(20)) << transcript();
    logger_->signal(SIGINT);
    const ExitStatus status = logger_->wait(kExitWait);
    EXPECT_EQ(status.code, 130) << status.describe() << transcript();
    EXPECT_EQ(count_of(out(), "before hsifdllinit"), 0u) << "the laser phase is skipped";
    const std::optional<Summary> summary = parse_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    const std::string file = gyro_file();
    EXPECT_EQ(count_of(file, "\n"), summary->records) << "every record counted is in the file";
    EXPECT_EQ(file.back(), '\n');
}

// --- Ports that are missing, busy, silent or lost --------------------------------------------

TEST_F(GyroE2e, MissingPortLeavesAnEmptyFileAndExitCode1) {
    start_recording();  // no unit: nothing at the port's name
    const ExitStatus status = logger_->wait(kExitWait);
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_EQ(out(), "Version 1.1\nGyro - could not open serial port, 2\n") << transcript();
    ASSERT_TRUE(fs::exists(gyro_path()));
    EXPECT_EQ(fs::file_size(gyro_path()), 0u);
}

TEST_F(GyroE2e, PortInUseIsRefused) {
    if (wine_) {
        GTEST_SKIP() << "under Wine a second exclusive open of a COM port succeeds";
    }
    start_sim();
    start_recording();
    ASSERT_TRUE(wait_records(3)) << transcript();
    Process second;
    ASSERT_TRUE(second.start({target().exe, "l2.txt", "g2.txt", "s2.txt", "-C", port()}, {},
                             dir_.string()));
    const ExitStatus status = second.wait(kExitWait);
    EXPECT_EQ(status.code, 1) << status.describe() << second.out() << second.err();
    EXPECT_TRUE(std::regex_search(second.out(),
                                  std::regex("\nGyro - could not open serial port, [0-9]+\n$")))
        << second.out();
    EXPECT_EQ(quit().code, kExitAfterGyroPhase)
        << "the first run goes on undisturbed" << transcript();
}

TEST_F(GyroE2e, SilentUnitIsReportedOnceAndQStillEnds) {
    start_sim({"--silence", "6000@30"});
    start_recording();
    const std::string notice = "Gyro - no data from the unit, still waiting (press q to stop)\n";
    ASSERT_TRUE(logger_->wait_for_text(notice.substr(0, 30), milliseconds(10000))) << transcript();
    // Still silent well after the notice: it is printed once, on a line of its own.
    EXPECT_FALSE(logger_->wait_for(
        [&](const std::string& text, const std::string&) {
            return count_of(text, notice.substr(0, 30)) > 1;
        },
        milliseconds(1500)))
        << "the notice is repeated" << transcript();
    const testsupport::Clock::time_point pressed = testsupport::Clock::now();
    const ExitStatus status = quit();
    const auto took = std::chrono::duration_cast<milliseconds>(testsupport::Clock::now() - pressed);
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_LT(took.count(), 3000) << "q ends the wait for data promptly";
    EXPECT_EQ(count_of(out(), notice), 1u) << transcript();
    EXPECT_EQ(count_of(out(), "\n" + notice), 1u) << "on its own line" << transcript();
    EXPECT_EQ(count_of(gyro_file(), "\n"), 30u);
}

TEST_F(GyroE2e, UnitThatNeverAcknowledgesEndsTheRun) {
    start_sim({"--no-ack"});
    const testsupport::Clock::time_point started = testsupport::Clock::now();
    start_recording();
    // Each wait gives up after 5 s; the mode letter's is the first that fails.
    const ExitStatus status = logger_->wait(milliseconds(40000));
    const auto took = std::chrono::duration_cast<milliseconds>(testsupport::Clock::now() - started);
    EXPECT_EQ(status.code, 1) << status.describe() << transcript();
    EXPECT_GE(took.count(), 4500);
    EXPECT_EQ(count_of(err(), "Gyro - no answer from the unit on " + port() + "\n"), 1u)
        << transcript();
    EXPECT_EQ(count_of(out(), "before hsifdllinit"), 0u);
    EXPECT_TRUE(std::regex_match(unit_log(), std::regex("P+a+")))
        << "only stop commands and the mode letter: " << unit_log();
}

TEST_F(GyroE2e, LostPortIsReportedReopenedAndRecordingGoesOn) {
    constexpr unsigned kBefore = 100;
    start_sim({"--hangup", "1500@" + std::to_string(kBefore)});
    start_recording();
    ASSERT_TRUE(logger_->wait_for_text("Gyro - lost the serial port, ", milliseconds(10000), true))
        << transcript();
    const size_t at_loss = parse_records(gyro_file()).size();
    // Back within a few seconds of the device's return: a restart, then records again.
    ASSERT_TRUE(wait_records(at_loss + 50, milliseconds(15000))) << transcript();
    const ExitStatus status = quit();
    ASSERT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();

    EXPECT_EQ(count_of(err(), "Gyro - lost the serial port, "), 1u) << transcript();
    EXPECT_TRUE(std::regex_search(err(), std::regex("Gyro - lost the serial port, -?[0-9]+\n")));
    EXPECT_EQ(count_of(unit_log(), "G"), 2u) << "a restart on the new line: " << unit_log();
    const std::optional<Summary> summary = parse_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->restarts, 1u);
    const std::vector<Record> records = parse_records(gyro_file());
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_GT(records[i].count, records[i - 1].count) << "the counter goes on, record " << i;
    }
}

TEST_F(GyroE2e, QDuringAnOutageEndsThePhase) {
    start_sim({"--hangup", "0@50"});  // the line never comes back
    start_recording();
    ASSERT_TRUE(logger_->wait_for_text("Gyro - lost the serial port, ", milliseconds(10000), true))
        << transcript();
    const ExitStatus status = quit();
    EXPECT_EQ(status.code, kExitAfterGyroPhase) << status.describe() << transcript();
    EXPECT_TRUE(std::regex_search(out(), std::regex("before hsifdllinit\n$"))) << transcript();
    EXPECT_EQ(count_of(gyro_file(), "\n"), 50u);
}

// --- The command line ------------------------------------------------------------------------

TEST_F(GyroE2e, NoArgumentsPrintsVersionThenUsageAndWaitsForAKey) {
    start_logger({});
    ASSERT_TRUE(logger_->wait_for(
        [](const std::string& text, const std::string&) {
            return text.find("Space.") != std::string::npos &&
                   text.find("2 stop bits.") != std::string::npos;
        },
        milliseconds(10000)))
        << transcript();
    EXPECT_TRUE(logger_->running()) << "it waits for one character";
    logger_->send("\n");
    const ExitStatus status = logger_->wait(kExitWait);
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
    EXPECT_FALSE(fs::exists(gyro_path()));
}

struct BadCommandCase {
    const char* legend;
    std::vector<std::string> options;
    const char* stdout_tail;  // what stdout ends with; empty: a line on stderr instead
};

class BadCommandLine : public GyroE2e, public ::testing::WithParamInterface<BadCommandCase> {};

TEST_P(BadCommandLine, EndsWithCode1BeforeAnyFileIsCreated) {
    const BadCommandCase& c = GetParam();
    std::vector<std::string> args{"laser.txt", "gyro.txt", "gps.txt"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    start_logger(args);
    const ExitStatus status = logger_->wait(kExitWait);
    EXPECT_EQ(status.code, 1) << c.legend << ": " << status.describe() << transcript();
    EXPECT_FALSE(fs::exists(gyro_path())) << c.legend;
    EXPECT_FALSE(fs::exists(dir_ / "laser.txt")) << c.legend;
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
        BadCommandCase{"unknown option letter",
                       {"-x", "5"},
                       "unknown argument: -x\ntype morvane without any parameters for help\n"},
        BadCommandCase{"option without its value word",
                       {"-d"},
                       "missing value for -d\ntype morvane without any parameters for help\n"},
        BadCommandCase{"word too short to carry a letter",
                       {"-", "5"},
                       "type morvane without any parameters for help\n"},
        BadCommandCase{"mode the unit does not know", {"-M", "x"}, ""},
        BadCommandCase{"negative decimation", {"-d", "-1"}, ""},
        BadCommandCase{"more lines than the sample array holds", {"-l", "201"}, ""}),
    [](const ::testing::TestParamInfo<BadCommandCase>& param_info) {
        return "case" + std::to_string(param_info.index);
    });

}  // namespace
