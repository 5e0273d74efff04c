// The command line: option words into run settings, the usage text, and the start-up checks.

#include "driver/settings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "temp_stream.hpp"

namespace {

using driver::RunSettings;

struct Parsed {
    driver::ParseResult result;
    RunSettings settings;
    std::string output;
};

// Parses "morvane" followed by words, capturing what the parser prints. The settings point at
// the words, which stay alive until the next parse.
Parsed parse(std::vector<std::string> words) {
    static std::vector<std::string> storage;
    storage = std::move(words);
    storage.insert(storage.begin(), "morvane");
    std::vector<char*> argv;
    for (auto& w : storage) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    Parsed parsed;
    testsupport::TempStream out;
    parsed.result = driver::parse_arguments(static_cast<int>(storage.size()), argv.data(),
                                            &parsed.settings, out.get());
    parsed.output = out.text();
    return parsed;
}

// The three file names, then the options.
std::vector<std::string> with_files(std::vector<std::string> options) {
    options.insert(options.begin(), {"laser.txt", "gyro.txt", "gps.txt"});
    return options;
}

// Every field of the settings, named, so that a parse is compared whole.
std::string describe(const RunSettings& s) {
    std::ostringstream out;
    out.precision(17);  // doubles exactly
    out << "laser_file " << s.laser_file << ", laser_port " << s.laser_port << ", board_number "
        << s.board_number << ", sample_period " << s.sample_period << ", lines " << s.lines
        << ", max_range " << s.max_range << ", motor_number " << s.motor_number << ", motor_power "
        << s.motor_power << ", gyro_file " << s.gyro_file << ", gps_file " << s.gps_file
        << ", gyro_mode " << s.gyro_mode << ", gyro_port " << s.gyro_port << ", gyro_baud "
        << s.gyro_baud << ", dt " << s.dt << ", time_rate " << s.time_rate << ", decimation "
        << s.decimation << ", dos_time " << s.dos_time << ", gps_port " << s.gps_port
        << ", gps_baud " << s.gps_baud << ", gps_bits " << s.gps_bits << ", gps_parity "
        << s.gps_parity << ", gps_stop_bits " << s.gps_stop_bits;
    return out.str();
}

// Each row's options give the default settings with the row's edit applied, and nothing else.
TEST(CommandLine, OptionWordsSetTheirFields) {
    using S = RunSettings;
    const struct {
        const char* legend;
        std::vector<std::string> options;
        void (*edit)(RunSettings& s);
    } cases[] = {
        {"three file names keep every default", {}, [](S&) {}},
        {"the first character is not examined: xc 7", {"xc", "7"}, [](S& s) { s.laser_port = 7; }},
        {"characters after the letter are ignored: -cport 7",
         {"-cport", "7"},
         [](S& s) { s.laser_port = 7; }},
        {"a slash works as well: /c 7", {"/c", "7"}, [](S& s) { s.laser_port = 7; }},
        {"a value word may begin with a minus sign", {"-t", "-1"}, [](S& s) { s.dt = -1.0; }},
        {"a later option replaces an earlier one",
         {"-l", "50", "-l", "100"},
         [](S& s) { s.lines = 100; }},
        {"the mode takes the first character", {"-M", "angle"}, [](S& s) { s.gyro_mode = 'a'; }},
        {"the mode is stored unchanged in case", {"-M", "A"}, [](S& s) { s.gyro_mode = 'A'; }},
        {"a port is a device name, not a number", {"-C", "2"}, [](S& s) { s.gyro_port = "2"; }},
        {"a word without a number gives 0", {"-r", "x"}, [](S& s) { s.max_range = 0; }},
        {"the leading number of a word counts", {"-l", "12abc"}, [](S& s) { s.lines = 12; }},
        {"letters are case-sensitive: -m is not -M", {"-m", "3"}, [](S& s) { s.motor_number = 3; }},
        {"-s and -S differ",
         {"-s", "40", "-S", "COM9"},
         [](S& s) { s.sample_period = 40, s.gps_port = "COM9"; }},
        {"beyond 32 bits gives the nearest limit",
         {"-c", "99999999999", "-b", "-99999999999"},
         [](S& s) { s.laser_port = INT32_MAX, s.board_number = INT32_MIN; }},
        {"-D takes no value word and sets the clock time",
         {"-D", "-c", "5"},
         [](S& s) { s.dos_time = 1, s.laser_port = 5; }},
        {"a negative decimation keeps its bit pattern",
         {"-d", "-1"},
         [](S& s) { s.decimation = 0xFFFFFFFFu; }},
        {"RateGoesToItsSetting: -f sets the spacing",
         {"-f", "0.5"},
         [](S& s) { s.time_rate = 0.5; }},
        {"every remaining option",
         {"-B", "921600", "-p", "100", "-R", "4800", "-N", "7", "-P", "2", "-n", "1", "-t", "0.01"},
         [](S& s) {
             s.gyro_baud = 921600, s.motor_power = 100, s.gps_baud = 4800, s.gps_bits = 7;
             s.gps_parity = 2, s.gps_stop_bits = 1, s.dt = 0.01;
         }},
    };
    // The defaults the usage text gives.
    RunSettings expected;
    expected.laser_file = "laser.txt";
    expected.gyro_file = "gyro.txt";
    expected.gps_file = "gps.txt";
    ASSERT_EQ(
        describe(expected),
        "laser_file laser.txt, laser_port 1, board_number 1, sample_period 20, lines 200, "
        "max_range 650, motor_number 1, motor_power 255, gyro_file gyro.txt, gps_file gps.txt, "
        "gyro_mode a, gyro_port COM2, gyro_baud 38400, dt -1, time_rate 0, decimation 1, "
        "dos_time 0, gps_port COM3, gps_baud 9600, gps_bits 8, gps_parity 0, gps_stop_bits 0");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Parsed parsed = parse(with_files(c.options));
        ASSERT_EQ(parsed.result, driver::kParseOk);
        EXPECT_EQ(parsed.output, "");
        RunSettings edited = expected;
        c.edit(edited);
        EXPECT_EQ(describe(parsed.settings), describe(edited));
    }
}

TEST(CommandLine, BadWordsEndTheRunWithAMessage) {
    const std::string hint = "type morvane without any parameters for help\n";
    const struct {
        const char* legend;
        std::vector<std::string> options;
        std::string output;
    } cases[] = {
        {"unknown letter", {"-x", "1"}, "unknown argument: -x\n" + hint},
        {"-D takes no value word: the next word is read as an option",
         {"-D", "5"},
         "unknown argument: 5\n" + hint},
        {"an option without its value word", {"-c"}, "missing value for -c\n" + hint},
        {"a value missing after good options", {"-l", "5", "-M"}, "missing value for -M\n" + hint},
        {"a word too short for a letter", {"-"}, "unknown argument: -\n" + hint},
        {"an empty word", {""}, "unknown argument: \n" + hint},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Parsed parsed = parse(with_files(c.options));
        EXPECT_EQ(parsed.result, driver::kParseError);
        EXPECT_EQ(parsed.output, c.output);
    }
}

TEST(CommandLine, TooFewFileNamesPrintTheUsage) {
    for (auto words : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
        Parsed parsed = parse(words);
        EXPECT_EQ(parsed.result, driver::kParseUsage);
        ASSERT_EQ(parsed.output.rfind("usage: morvane <Laserfile><Gyrofile><GPSfile> <options>\n"
                                      "Available options are: \n",
                                      0),
                  0u);
        EXPECT_EQ(std::count(parsed.output.begin(), parsed.output.end(), '\n'), 26);
        EXPECT_NE(parsed.output.find("\n    StopBits values: 0 -- 1 stop bit; 1 -- 1.5 stop bits; "
                                     "2 -- 2 stop bits.\n"),
                  std::string::npos);
        EXPECT_NE(parsed.output.find("\n-P <patiry > where the default is NOPARITY (0)\n"),
                  std::string::npos);
    }
}

TEST(StartupChecks, RefuseWhatWouldHangOverrunOrGiveNoTimes) {
    using S = RunSettings;
    struct Case {
        const char* legend;
        void (*edit)(RunSettings& s) = [](S&) {};
        bool ok = true;
        uint32_t decimation_after = 1;
    };
    const Case cases[] = {
        {.legend = "defaults"},
        {.legend = "scaled mode",
         .edit = [](S& s) { s.gyro_mode = 'c', s.decimation = 3, s.lines = 0; },
         .decimation_after = 3},
        {.legend = "voltage mode", .edit = [](S& s) { s.gyro_mode = 'r', s.lines = 1; }},
        {.legend = "upper-case mode is never acknowledged",
         .edit = [](S& s) { s.gyro_mode = 'A'; },
         .ok = false},
        {.legend = "unknown mode", .edit = [](S& s) { s.gyro_mode = 'x'; }, .ok = false},
        {.legend = "no mode letter at all", .edit = [](S& s) { s.gyro_mode = '\0'; }, .ok = false},
        {.legend = "decimation 0 is full rate", .edit = [](S& s) { s.decimation = 0; }},
        {.legend = "negative decimation",
         .edit = [](S& s) { s.decimation = 0xFFFFFFFFu; },
         .ok = false,
         .decimation_after = 0xFFFFFFFFu},
        {.legend = "the largest positive decimation",
         .edit = [](S& s) { s.decimation = 0x7FFFFFFFu; },
         .decimation_after = 0x7FFFFFFFu},
        {.legend = "more lines than the array holds",
         .edit = [](S& s) { s.lines = 201; },
         .ok = false},
        {.legend = "negative lines", .edit = [](S& s) { s.lines = -1; }, .ok = false},
        {.legend = "a time step and a spacing",
         .edit = [](S& s) { s.dt = 0.01, s.time_rate = 0.5; }},
        {.legend = "any negative time step means counts", .edit = [](S& s) { s.dt = -HUGE_VAL; }},
        {.legend = "time step nan", .edit = [](S& s) { s.dt = std::nan(""); }, .ok = false},
        {.legend = "time step inf", .edit = [](S& s) { s.dt = HUGE_VAL; }, .ok = false},
        {.legend = "a time step whose times overflow",
         .edit = [](S& s) { s.dt = 1e308; },
         .ok = false},
        {.legend = "spacing nan", .edit = [](S& s) { s.time_rate = std::nan(""); }, .ok = false},
        {.legend = "spacing -inf", .edit = [](S& s) { s.time_rate = -HUGE_VAL; }, .ok = false},
        {.legend = "GPS: 7 data bits, space parity, two stop bits",
         .edit = [](S& s) { s.gps_bits = 7, s.gps_parity = 4, s.gps_stop_bits = 2; }},
        {.legend = "GPS: 9 data bits", .edit = [](S& s) { s.gps_bits = 9; }, .ok = false},
        {.legend = "GPS: parity 5", .edit = [](S& s) { s.gps_parity = 5; }, .ok = false},
        {.legend = "GPS: stop bits -1", .edit = [](S& s) { s.gps_stop_bits = -1; }, .ok = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        RunSettings s;
        s.laser_file = "laser.txt";
        s.gyro_file = "gyro.txt";
        s.gps_file = "gps.txt";
        c.edit(s);
        testing::internal::CaptureStderr();
        bool ok = driver::check_settings(&s);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(err.empty(), c.ok) << err;
        EXPECT_EQ(s.decimation, c.decimation_after);
    }
}

}  // namespace
