// The laser phase end to end: whole runs of the program (ahrs-sim for the gyro phase, q, then the
// simulated interface library), natively and under Wine. Every capture pays the program's fixed 5 s
// mirror wait, so the runs that fail before the motor starts come first and the captures are few.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e_run.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

constexpr int kSamplesPerLine = 5000;
constexpr int kExitFailure = 2;

// Captures run 20 times faster than the sample period says, unless a case wants real pacing.
constexpr const char* kSpeedup = "HSIF_SIM_SPEEDUP=20";

// The interface library's calls of a complete set-up, in order (first HsifSetSamplePeriod
// succeeding), up to sampling enabled.
const std::vector<std::string> kSetupCalls = {"HsifDllInit",           "HsifOpenPort",
                                              "HsifSendStr",           "HsifOpen",
                                              "HsifResetBoard",        "HsifLoadCalibrationData",
                                              "HsifSetSamplePeriod",   "HsifSetPollMode",
                                              "HsifClearSampleBuffer", "HsifCalibrate",
                                              "HsifSamplingModeInit",  "HsifClearEncoder",
                                              "HsifCalibrateEncoder",  "HsifCalibrateEncoder",
                                              "HsifSetSamplePeriod",   "HsifSetMotorPower",
                                              "HsifClearSampleBuffer", "HsifSamplingEnable"};

// The laser file's header row.
constexpr const char* kHeader =
    "Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\tAngle2(radins\t"
    "Index1\tIndex2\t";

// What an untouched record of the zero-initialised sample array is written as.
constexpr const char* kZeroRow = "0.00\t0\t0.0\t0.0\t0.0000\t0.0000\t0\t0\t";

// Console text of the set-up with the default range and period.
constexpr const char* kOpened = "Opened high speed interface.\n";
const std::string kCalibrated = std::string(kOpened) + "HISF Card Calibration\n";
const std::string kModeInitDone = kCalibrated + "SamplingModeInit\n";
constexpr const char* kMaxRangeOut = "max range 650 sample period 20\n";
constexpr const char* kMaxRangeErr = "max_range 650 sample_period 20\n";
constexpr const char* kMirrorWait = "Waiting (20 sec.) for mirror to move\n";
constexpr const char* kSamplingStart = "Clear Sample Buffer\nSampling Enable\nBegin sampling\n";

// A table's case names for gtest: the row's name.
constexpr auto kByName = [](const auto& param_info) { return std::string(param_info.param.name); };

std::string regex_escape(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// What the program's library search finds.
enum class Library {
    kSimulated,   // the simulated interface library
    kNone,        // no library of the name
    kIncomplete,  // a library of the name that lacks one of the 50 entry points
};

// How one run is started.
struct SurveyPlan {
    std::vector<std::string> sim_env = {};  // HSIF_SIM_* controls for this run
    std::vector<std::string> options = {};  // option words after the ports
    Library library = Library::kSimulated;
    bool calibration = true;  // LOOKUPHS in the working directory
    // Press q once the gyro file holds this many records; 0: at once, and the gyro phase ends
    // during its start-up exchange.
    size_t gyro_records = 0;
    std::string laser_file = "laser.txt";
    // Keys typed right after that q: they wait for the laser phase, which reads one per line.
    std::string keys = {};
    // Set: the simulated GPS receiver runs with these options and the program records it;
    // otherwise the program is given a GPS port that names no device.
    std::optional<std::vector<std::string>> receiver = std::nullopt;
    // Set: the folder of the unpacked package, whose morvane.exe runs with its simulator/ folder
    // (hsif.dll and LOOKUPHS) in place of the build's program and library.
    fs::path package = {};
    // Set: the words of a tracer the program runs under (natively), such as strace's.
    std::vector<std::string> tracer = {};
};

// Prepares a whole run in run's folder (the library's folder, the calibration file, the laser
// control port, the unit and the receiver), starts the program and presses q for the gyro phase.
// Returns an empty text, or why it could not start.
std::string start_survey(E2eRun* run, const SurveyPlan& plan) {
    const E2eTarget& t = e2e_target();
    const fs::path& dir = run->dir();
    std::string library_dir;
    std::error_code ec;
    if (!plan.package.empty()) {
        library_dir = (plan.package / "simulator").string();
    } else if (plan.library == Library::kSimulated) {
        library_dir = t.hsif_sim_dir;
        const fs::path library = fs::path(library_dir) / t.hsif_file_name();
        if (!fs::exists(library)) {
            return "no simulated interface library at " + library.string() +
                   (t.wine ? " (build it with: make windows)" : " (build it with: make)");
        }
    } else if (plan.library == Library::kIncomplete) {
        // The stand-in under the interface library's file name, in a folder of its own.
        library_dir = (dir / "incomplete").string();
        fs::create_directory(library_dir, ec);
        fs::copy_file(t.incomplete_library, fs::path(library_dir) / t.hsif_file_name(), ec);
        if (ec) {
            return "cannot copy the incomplete library " + t.incomplete_library + ": " +
                   ec.message();
        }
    }
    if (plan.calibration) {
        const fs::path calibration =
            plan.package.empty() ? fs::path(t.calibration) : plan.package / "simulator/LOOKUPHS";
        if (fs::copy_file(calibration, dir / "LOOKUPHS", ec); ec) {
            return "cannot copy the calibration file " + calibration.string() + ": " + ec.message();
        }
    }
    std::string why = run->open_laser_port();
    if (why.empty()) {
        why = run->start_unit();
    }
    if (why.empty() && plan.receiver) {
        why = run->start_receiver(*plan.receiver);
    }
    if (!why.empty()) {
        return why;
    }

    std::vector<std::string> env = t.library_search(library_dir);
    env.insert(env.end(), {"HSIF_SIM_TRACE=trace.txt", "HSIF_SIM_SEED=11"});
    if (!t.wine) {
        env.push_back("HSIF_SIM_PORT=" + run->laser_port().slave_path());
    }
    env.insert(env.end(), plan.sim_env.begin(), plan.sim_env.end());
    std::vector<std::string> options{"-c", std::to_string(kLaserCom)};
    options.insert(options.end(), plan.options.begin(), plan.options.end());
    std::vector<std::string> args = run->arguments(options, plan.laser_file);
    std::string program = plan.package.empty() ? t.exe : (plan.package / "morvane.exe").string();
    if (!plan.tracer.empty()) {
        args.insert(args.begin(), program);
        args.insert(args.begin(), plan.tracer.begin() + 1, plan.tracer.end());
        program = plan.tracer.front();
    }
    if (why = run->launch(args, env, program); !why.empty()) {
        return why;
    }
    if (plan.gyro_records > 0 && !run->wait_gyro_records(plan.gyro_records)) {
        return "no gyro record came";
    }
    run->program().send("q" + plan.keys);
    return {};
}

// Standard output from the driver's "before hsifdllinit\n" on; empty when it never came.
std::string laser_out(const E2eRun& run) {
    const std::string text = run.out();
    const size_t at = text.find("before hsifdllinit\n");
    return at == std::string::npos ? std::string() : text.substr(at);
}

// The standard output of a successful set-up: the driver's line, the library's path, the line
// after HsifDllInit.
std::string setup_out() {
    return "before hsifdllinit\nUsing DLL: " + e2e_target().hsif_loaded_path() +
           "\n\nafter hsifdllinit\n";
}

class LaserE2e : public E2eTest {
protected:
    // Starts the run; false, with a failure recorded, when it could not start.
    bool start(const SurveyPlan& run) {
        const std::string why = start_survey(this, run);
        EXPECT_TRUE(why.empty()) << why;
        return why.empty();
    }

    // Starts the run and waits for its end, expecting exit code `code`; false, with a failure
    // recorded, when it could not start.
    bool run_to_end(const SurveyPlan& run, int code, const std::string& legend = "") {
        if (!start(run)) {
            return false;
        }
        const ExitStatus status = wait();
        EXPECT_EQ(status.code, code) << legend << ": " << status.describe() << transcript();
        return true;
    }
};

// The motor started, then stopped (power 0) on the same motor, and the card closed last.
::testing::AssertionResult motor_stopped_and_card_closed(const std::vector<HsifCall>& calls) {
    const std::vector<HsifCall> motor = calls_named(calls, "HsifSetMotorPower");
    if (motor.size() != 2 || motor[1].int_arg(2) != 0 ||
        motor[1].int_arg(1) != motor[0].int_arg(1) || calls.back().name != "HsifClose") {
        return ::testing::AssertionFailure() << "the motor is not stopped and the card closed:\n"
                                             << describe(calls);
    }
    return ::testing::AssertionSuccess();
}

// The laser file as text with "\n" line ends, after checking that the target wrote its own:
// "\r\n" in the Windows program's text mode, "\n" natively.
std::string laser_text(const E2eRun& run) {
    const std::string bytes = run.laser_bytes();
    if (e2e_target().wine) {
        EXPECT_EQ(count_of(bytes, "\r\n"), count_of(bytes, "\n")) << "line ends not \"\\r\\n\"";
        return without_crlf(bytes);
    }
    EXPECT_EQ(count_of(bytes, "\r"), 0u) << "carriage returns in a native file";
    return bytes;
}

// --- The failure table of the set-up ----------------------------------------------------------

struct SetupFailureCase {
    const char* legend;
    const char* name;                   // test name
    std::vector<std::string> env = {};  // how the failure is injected
    bool calibration = true;            // LOOKUPHS in the working directory
    std::string err;                    // all of standard error
    // Standard output after "after hsifdllinit\n": the range line, once a first period is set.
    std::string out_after_setup = kMaxRangeOut;
    // The calls made: the set-up sequence up to (and with) the failing call, its occurrence
    // counted from 1, then the diagnostic calls, then HsifClose when a card handle was had.
    const char* failing_call;
    int occurrence = 1;
    std::vector<std::string> diagnostic_calls = {};
    bool card_closed = true;
};

std::vector<std::string> expected_calls(const SetupFailureCase& c) {
    std::vector<std::string> calls;
    int seen = 0;
    for (const std::string& name : kSetupCalls) {
        calls.push_back(name);
        if (name == c.failing_call && ++seen == c.occurrence) {
            break;
        }
    }
    calls.insert(calls.end(), c.diagnostic_calls.begin(), c.diagnostic_calls.end());
    if (c.card_closed) {
        calls.push_back("HsifClose");
    }
    return calls;
}

class SetupFailure : public LaserE2e, public ::testing::WithParamInterface<SetupFailureCase> {};

TEST_P(SetupFailure, PrintsItsMessageUndoesOnlyWhatWasDoneAndExits2) {
    const SetupFailureCase& c = GetParam();
    ASSERT_TRUE(
        run_to_end({.sim_env = c.env, .calibration = c.calibration}, kExitFailure, c.legend));
    EXPECT_EQ(err(), c.err) << c.legend;
    EXPECT_EQ(laser_out(*this), setup_out() + c.out_after_setup) << c.legend;

    const std::vector<HsifCall> calls = trace();
    EXPECT_EQ(call_names(calls), expected_calls(c)) << c.legend << "\n--- trace ---\n"
                                                    << describe(calls);
    const std::vector<HsifCall> opens = calls_named(calls, "HsifOpen");
    const std::vector<HsifCall> closes = calls_named(calls, "HsifClose");
    if (!opens.empty() && !closes.empty()) {
        EXPECT_EQ(closes[0].int_arg(0), opens[0].int_result()) << "the card that was opened";
    }

    // The file is created before the port is opened, and nothing is written to it.
    const fs::path laser = dir() / "laser.txt";
    ASSERT_TRUE(fs::exists(laser)) << c.legend;
    EXPECT_EQ(fs::file_size(laser), 0u) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SetupFailure,
    ::testing::Values(
        SetupFailureCase{.legend = "port open fails: no port to close, no card",
                         .name = "OpenPort",
                         .env = {"HSIF_SIM_FAIL=HsifOpenPort"},
                         .err = "Error: Serial Comm port open failed.\n",
                         .out_after_setup = "",
                         .failing_call = "HsifOpenPort",
                         .card_closed = false},
        SetupFailureCase{
            .legend = "a speed-up the library cannot honour: named by the library, then "
                      "the port open fails",
            .name = "RefusedControl",
            .env = {"HSIF_SIM_SPEEDUP=1e-12"},
            .err = "hsif-sim: HSIF_SIM_SPEEDUP=1e-12 refused (accepted: 0 for no pacing, "
                   "or 0.001 to 1000000); HsifOpenPort fails\n"
                   "Error: Serial Comm port open failed.\n",
            .out_after_setup = "",
            .failing_call = "HsifOpenPort",
            .card_closed = false},
        SetupFailureCase{.legend = "card open fails: the port is closed, HsifClose is not called",
                         .name = "Open",
                         .env = {"HSIF_SIM_FAIL=HsifOpen"},
                         .err = std::string(kOpened) + "Error: HsifOpen failed.\n",
                         .out_after_setup = "",
                         .failing_call = "HsifOpen",
                         .card_closed = false},
        SetupFailureCase{.legend = "board reset fails: port and card closed",
                         .name = "ResetBoard",
                         .env = {"HSIF_SIM_FAIL=HsifResetBoard"},
                         .err = std::string(kOpened) + "Error: HsifResetBoard failed.\n",
                         .out_after_setup = "",
                         .failing_call = "HsifResetBoard"},
        SetupFailureCase{.legend = "calibration data refused: its message on stdout",
                         .name = "LoadCalibrationData",
                         .env = {"HSIF_SIM_FAIL=HsifLoadCalibrationData"},
                         .err = kOpened,
                         .out_after_setup = "ERROR: Could not read calibration file\n",
                         .failing_call = "HsifLoadCalibrationData"},
        SetupFailureCase{.legend = "no LOOKUPHS in the working directory: the same as a refusal",
                         .name = "CalibrationFileMissing",
                         .calibration = false,
                         .err = kOpened,
                         .out_after_setup = "ERROR: Could not read calibration file\n",
                         .failing_call = "HsifLoadCalibrationData"},
        SetupFailureCase{.legend = "first sample period refused on the 50 kHz model (0)",
                         .name = "SamplePeriodModel0",
                         .env = {"HSIF_SIM_FAIL=HsifSetSamplePeriod#1", "HSIF_SIM_MODEL=0",
                                 "HSIF_SIM_MIN_PERIOD=25"},
                         .err = std::string(kOpened) + "HsifSetSamplePeriod failed.\n" +
                                "The AR4000 50 KHz model minimum sample period is 25 us.\n",
                         .failing_call = "HsifSetSamplePeriod",
                         .diagnostic_calls = {"HsifGetCardModel", "HsifGetMinSamplePeriod"}},
        SetupFailureCase{.legend = "first sample period refused on the 200 kHz model (1)",
                         .name = "SamplePeriodModel1",
                         .env = {"HSIF_SIM_FAIL=HsifSetSamplePeriod#1", "HSIF_SIM_MODEL=1",
                                 "HSIF_SIM_MIN_PERIOD=5"},
                         .err = std::string(kOpened) + "HsifSetSamplePeriod failed.\n" +
                                "The AR4000 200 KHz model minimum sample period is 5 us.\n",
                         .failing_call = "HsifSetSamplePeriod",
                         .diagnostic_calls = {"HsifGetCardModel", "HsifGetMinSamplePeriod"}},
        SetupFailureCase{.legend = "first sample period refused and the model unknown",
                         .name = "SamplePeriodUnknownModel",
                         .env = {"HSIF_SIM_FAIL=HsifSetSamplePeriod#1,HsifGetCardModel"},
                         .err = std::string(kOpened) + "HsifSetSamplePeriod failed.\n" +
                                "Unknown Hsif card model.\n",
                         .failing_call = "HsifSetSamplePeriod",
                         .diagnostic_calls = {"HsifGetCardModel"}},
        SetupFailureCase{.legend = "first sample period refused and the minimum period unknown",
                         .name = "SamplePeriodUnknownMinimum",
                         .env = {"HSIF_SIM_FAIL=HsifSetSamplePeriod#1,HsifGetMinSamplePeriod"},
                         .err = std::string(kOpened) + "HsifSetSamplePeriod failed.\n" +
                                "Unknown minimum sample period.\n",
                         .failing_call = "HsifSetSamplePeriod",
                         .diagnostic_calls = {"HsifGetCardModel", "HsifGetMinSamplePeriod"}},
        SetupFailureCase{.legend = "card calibration fails",
                         .name = "Calibrate",
                         .env = {"HSIF_SIM_FAIL=HsifCalibrate"},
                         .err = kCalibrated + "Error: Could not get calibration value **\n",
                         .failing_call = "HsifCalibrate"},
        SetupFailureCase{.legend = "sampling mode refused",
                         .name = "SamplingModeInit",
                         .env = {"HSIF_SIM_FAIL=HsifSamplingModeInit"},
                         .err = kModeInitDone + "Error: Could not initialize sampling mode\n",
                         .failing_call = "HsifSamplingModeInit"},
        SetupFailureCase{.legend = "encoders not cleared",
                         .name = "ClearEncoder",
                         .env = {"HSIF_SIM_FAIL=HsifClearEncoder"},
                         .err = kModeInitDone + "Error: Failed to clear encoder1\n",
                         .failing_call = "HsifClearEncoder"},
        SetupFailureCase{.legend = "mirror encoder (1) not set",
                         .name = "CalibrateEncoder1",
                         .env = {"HSIF_SIM_FAIL=HsifCalibrateEncoder#1"},
                         .err = kModeInitDone + "Error: Failed to set encoder1\n",
                         .failing_call = "HsifCalibrateEncoder"},
        SetupFailureCase{.legend = "pan encoder (2) not set",
                         .name = "CalibrateEncoder2",
                         .env = {"HSIF_SIM_FAIL=HsifCalibrateEncoder#2"},
                         .err = kModeInitDone + "Error: Failed to set encoder2\n",
                         .failing_call = "HsifCalibrateEncoder",
                         .occurrence = 2},
        SetupFailureCase{
            .legend = "second sample period refused: the motor never starts",
            .name = "SamplePeriod2",
            .env = {"HSIF_SIM_FAIL=HsifSetSamplePeriod#2"},
            .err = kModeInitDone + kMaxRangeErr + "Error: Failed to set sample and range\n",
            .failing_call = "HsifSetSamplePeriod",
            .occurrence = 2}),
    kByName);

// --- Before the port: the library and the laser file ---------------------------------------

TEST_F(LaserE2e, MissingLibraryIsReportedWithThePlatformsFileNameAndExits2) {
    ASSERT_TRUE(run_to_end({.library = Library::kNone}, kExitFailure));
    EXPECT_EQ(err(), "Unable to load " + e2e_target().hsif_file_name() + "\n");
    EXPECT_EQ(laser_out(*this), "before hsifdllinit\n") << transcript();
    EXPECT_TRUE(trace().empty()) << "nothing of a library ran";
    EXPECT_FALSE(fs::exists(dir() / "laser.txt")) << "the laser file is not created";
}

TEST_F(LaserE2e, IncompleteLibraryIsRefusedLikeAMissingOne) {
    const std::string& stand_in = e2e_target().incomplete_library;
    if (stand_in.empty()) {
        GTEST_SKIP() << "HSIF_INCOMPLETE_LIBRARY is not set";
    }
    ASSERT_TRUE(fs::exists(stand_in)) << "no incomplete library at " << stand_in;
    ASSERT_TRUE(run_to_end({.library = Library::kIncomplete}, kExitFailure));
    EXPECT_EQ(err(), "Unable to load " + e2e_target().hsif_file_name() + "\n");
    EXPECT_EQ(laser_out(*this), "before hsifdllinit\n") << "no \"Using DLL\" line";
    EXPECT_FALSE(fs::exists(dir() / "laser.txt")) << "the laser file is not created";
}

TEST_F(LaserE2e, LaserFileThatCannotBeCreatedIsReportedBeforeThePortOpens) {
    ASSERT_TRUE(run_to_end({.laser_file = "no-such-folder/laser.txt"}, kExitFailure));
    EXPECT_EQ(err(), "Error: Can't create the file no-such-folder/laser.txt\n");
    EXPECT_EQ(laser_out(*this), setup_out()) << transcript();
    EXPECT_EQ(call_names(trace()), std::vector<std::string>{"HsifDllInit"})
        << "neither port nor card is opened";
}

TEST_F(LaserE2e, LaserFileThatCannotBeWrittenEndsWithCode2AndTheMotorStopped) {
    // Every write to the full device fails, as on a full disk.
    ASSERT_TRUE(run_to_end(
        {.sim_env = {kSpeedup}, .options = {"-l", "1"}, .laser_file = "/dev/full"}, kExitFailure));
    EXPECT_EQ(count_of(err(), "Saving Data,Please Waiting\nError: Can't close the file\n"), 1u)
        << transcript();
    EXPECT_TRUE(motor_stopped_and_card_closed(trace()));
}

// --- Capture ---------------------------------------------------------------------------------

enum class CaptureEnd { kComplete, kKey, kBufferFailure, kTimeout };

struct CaptureCase {
    const char* legend;
    const char* name;
    int lines;                          // -l
    std::vector<std::string> env = {};  // simulated library controls
    std::string keys = "";              // typed right after the gyro phase's q, read one per line
    CaptureEnd end = CaptureEnd::kComplete;
    int saved;                // lines in the laser file
    std::set<int> lost = {};  // lines (counted from 1) that report lost data
    int exit_code = 0;
};

// Standard error of one captured line (number from 1): the count-down, the samples read, lost
// data, the process result.
std::string line_err(const CaptureCase& c, int line) {
    std::string text = regex_escape("lines = " + std::to_string(c.lines - line) + "\n");
    if (c.end == CaptureEnd::kBufferFailure && line == c.saved + 1) {
        return text;
    }
    text += "numRead -?[0-9]+\n";
    if (c.lost.count(line) != 0) {
        text += "data lost\n";
    }
    return text + "result = -?[0-9]+\n";
}

class Capture : public LaserE2e, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(Capture, LinesAreCountedSavedAndTheMotorStopped) {
    const CaptureCase& c = GetParam();
    SurveyPlan run{.sim_env = c.env, .options = {"-l", std::to_string(c.lines)}, .keys = c.keys};
    run.sim_env.push_back(kSpeedup);
    ASSERT_TRUE(run_to_end(run, c.exit_code, c.legend));

    // Console: the set-up, each line's messages, then the end of capture.
    const bool failed = c.end == CaptureEnd::kBufferFailure || c.end == CaptureEnd::kTimeout;
    const int attempted = failed ? c.saved + 1 : c.saved;
    std::string pattern = regex_escape(kModeInitDone + kMaxRangeErr + kMirrorWait + kSamplingStart);
    for (int line = 1; line <= attempted; ++line) {
        pattern += line_err(c, line);
    }
    if (failed) {
        pattern += "[\\s\\S]*";  // what the clean-up prints is not fixed
    } else {
        const int counter = c.end == CaptureEnd::kComplete ? -1 : c.lines - c.saved;
        pattern += regex_escape("End sampling\nSampling Lines counter: " + std::to_string(counter) +
                                "\nSaving Data,Please Waiting\n");
    }
    EXPECT_TRUE(std::regex_match(err(), std::regex(pattern)))
        << c.legend << ": standard error does not match\n"
        << pattern << transcript();
    std::string out_tail = kMaxRangeOut;
    if (c.end == CaptureEnd::kBufferFailure) {
        out_tail += "ERROR: Buffer overflow flag not getting set.\n";
    } else if (c.end == CaptureEnd::kTimeout) {
        out_tail += "ERROR: Sample measurement timeout!\n";
    }
    EXPECT_EQ(laser_out(*this), setup_out() + out_tail) << c.legend;

    // Trace: the set-up, per line a read (and after lost data a clear and a re-enable) and the
    // processing, then the motor stopped and the card closed.
    std::vector<std::string> expected = kSetupCalls;
    for (int line = 1; line <= attempted; ++line) {
        expected.push_back("HsifGetBufferedSamples");
        if (c.end == CaptureEnd::kBufferFailure && line == attempted) {
            break;
        }
        if (c.lost.count(line) != 0) {
            expected.push_back("HsifClearSampleBuffer");
            expected.push_back("HsifSamplingEnable");
        }
        expected.push_back("HsifProcessSamples");
    }
    expected.push_back("HsifSetMotorPower");
    expected.push_back("HsifClose");
    const std::vector<HsifCall> calls = trace();
    EXPECT_EQ(call_names(calls), expected) << c.legend << "\n--- trace ---\n" << describe(calls);
    EXPECT_TRUE(motor_stopped_and_card_closed(calls)) << c.legend;

    // The laser file: the header and the saved lines.
    const std::string text = laser_text(*this);
    EXPECT_EQ(text.substr(0, std::string(kHeader).size()), kHeader) << c.legend;
    EXPECT_EQ(count_of(text, "\n"), static_cast<size_t>(c.saved * kSamplesPerLine))
        << c.legend << ": rows in the laser file";
}

// The simulated library counts its lines from 0 (HSIF_SIM_LOST_LINES, HSIF_SIM_TIMEOUT_LINES) and
// its calls from 1 (HSIF_SIM_FAIL=Name#k); the legends count lines from 1.
INSTANTIATE_TEST_SUITE_P(
    Lines, Capture,
    ::testing::Values(
        CaptureCase{.legend = "lines 0: no read, the header only, counter -1",
                    .name = "Zero",
                    .lines = 0,
                    .saved = 0},
        CaptureCase{.legend = "lines 3, no key: three lines counted down 2, 1, 0, counter -1",
                    .name = "All",
                    .lines = 3,
                    .saved = 3},
        CaptureCase{.legend = "q before the first line ends: one line saved, counter N-1",
                    .name = "QAtLine1",
                    .lines = 4,
                    .keys = "q",
                    .end = CaptureEnd::kKey,
                    .saved = 1},
        CaptureCase{
            .legend = "Q and x are read and ignored, one per line: q ends line 3, counter N-3",
            .name = "QAtLine3",
            .lines = 5,
            .keys = "Qxq",
            .end = CaptureEnd::kKey,
            .saved = 3},
        CaptureCase{.legend = "lost data on line 2: cleared, re-enabled, the line kept",
                    .name = "LostLine",
                    .lines = 3,
                    .env = {"HSIF_SIM_LOST_LINES=1"},
                    .saved = 3,
                    .lost = {2}},
        CaptureCase{.legend = "samples not delivered on line 3: motor stopped, lines 1 and 2 saved",
                    .name = "BufferFailure",
                    .lines = 4,
                    .env = {"HSIF_SIM_FAIL=HsifGetBufferedSamples#3"},
                    .end = CaptureEnd::kBufferFailure,
                    .saved = 2,
                    .exit_code = kExitFailure},
        CaptureCase{.legend = "timeout on line 3: motor stopped, lines 1 and 2 saved",
                    .name = "Timeout",
                    .lines = 4,
                    .env = {"HSIF_SIM_TIMEOUT_LINES=2"},
                    .end = CaptureEnd::kTimeout,
                    .saved = 2,
                    .exit_code = kExitFailure}),
    kByName);

// One run of two lines with chosen settings: the console, the settings and the card in the
// library's calls, and a well-formed laser file.
TEST_F(LaserE2e, CompleteRunCarriesItsSettingsToTheCardAndWritesEverySample) {
    constexpr int kLines = 2;
    ASSERT_TRUE(run_to_end({.sim_env = {kSpeedup},
                            .options = {"-l", std::to_string(kLines), "-b", "3", "-r", "500", "-s",
                                        "25", "-m", "2", "-p", "100"},
                            .gyro_records = 1},
                           0));
    const std::vector<uint8_t> port_bytes = laser_port().read_until_quiet(100);
    EXPECT_GE(count_of(gyro_file(), "\n"), 1u) << "the gyro phase recorded before q";

    // Console: the library's path and every step.
    EXPECT_EQ(laser_out(*this), setup_out() + "max range 500 sample period 25\n");
    const std::string expected = std::string(kModeInitDone) + "max_range 500 sample_period 25\n" +
                                 kMirrorWait + kSamplingStart;
    EXPECT_EQ(err().substr(0, expected.size()), expected) << transcript();

    // The laser file: the header and one well-formed row per sample.
    const std::string text = laser_text(*this);
    ASSERT_EQ(text.substr(0, std::string(kHeader).size()), kHeader);
    EXPECT_NE(text.back(), '\n') << "no line end after the last row";

    // Each row: "%.2f\t%.0f\t%.1f\t%.1f\t%.4f\t%.4f\t%d\t%d\t", the raw range never negative
    // and the index columns 0 or 1.
    static const std::regex row(
        "-?[0-9]+\\.[0-9]{2}\t[0-9]+\t-?[0-9]+\\.[0-9]\t-?[0-9]+\\.[0-9]\t-?[0-9]+\\.[0-9]{4}\t"
        "-?[0-9]+\\.[0-9]{4}\t[01]\t[01]\t");
    const std::vector<std::string> rows = split(text, '\n');
    ASSERT_EQ(rows.size(), static_cast<size_t>(1 + kLines * kSamplesPerLine));
    size_t bad = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (!std::regex_match(rows[i], row) && ++bad <= 3) {
            ADD_FAILURE() << "row " << i << " \"" << rows[i] << "\"";
        }
    }
    EXPECT_EQ(bad, 0u) << "malformed rows";

    // Each line was processed into its own place: none is left as the zeroed array.
    for (int line = 0; line < kLines; ++line) {
        const auto begin = rows.begin() + 1 + line * kSamplesPerLine;
        EXPECT_FALSE(std::all_of(begin, begin + kSamplesPerLine,
                                 [](const std::string& r) { return r == kZeroRow; }))
            << "line " << line << " holds only zero records";
    }

    // The library's calls: the settings, and the card handle in every card call.
    const std::vector<HsifCall> calls = trace();
    ASSERT_FALSE(calls.empty());
    const std::string all = describe(calls);
    const auto first = [&](const std::string& name, int occurrence = 1) {
        const std::vector<HsifCall> found = calls_named(calls, name);
        return static_cast<int>(found.size()) >= occurrence ? found[occurrence - 1] : HsifCall{};
    };
    EXPECT_EQ(calls_named(calls, "HsifDllInit").size(), 1u) << all;
    EXPECT_EQ(calls.front().name, "HsifDllInit") << all;

    const HsifCall port = first("HsifOpenPort");
    EXPECT_EQ(port.int_arg(1), 9600) << port.describe();
    EXPECT_EQ(port.int_arg(2), kLaserCom) << port.describe();
    EXPECT_NE(std::string(port_bytes.begin(), port_bytes.end()).find('I'), std::string::npos)
        << "\"I\" reached the laser control port";

    const HsifCall open = first("HsifOpen");
    EXPECT_EQ(open.int_arg(0), 3) << "board number: " << open.describe();
    const std::optional<int64_t> card = open.int_result();
    ASSERT_TRUE(card.has_value()) << open.describe();
    ASSERT_NE(*card, -1);
    for (const HsifCall& call : calls) {
        if (call.name != "HsifDllInit" && call.name != "HsifOpenPort" &&
            call.name != "HsifSendStr" && call.name != "HsifOpen") {
            EXPECT_EQ(call.int_arg(0), card)
                << "every card call gets the card: " << call.describe();
        }
    }
    for (int occurrence : {1, 2}) {
        const HsifCall period = first("HsifSetSamplePeriod", occurrence);
        EXPECT_EQ(period.int_arg(1), 0) << period.describe();
        EXPECT_EQ(period.int_arg(2), 500) << "max range: " << period.describe();
        EXPECT_EQ(period.int_arg(3), 25) << "sample period: " << period.describe();
    }
    EXPECT_EQ(first("HsifClearEncoder").int_arg(1), 3);
    EXPECT_EQ(first("HsifClearEncoder").int_arg(2), 1);
    EXPECT_EQ(first("HsifCalibrateEncoder", 1).int_arg(1), 1);
    EXPECT_EQ(first("HsifCalibrateEncoder", 1).int_arg(3), 4096);
    EXPECT_EQ(first("HsifCalibrateEncoder", 2).int_arg(1), 2);
    EXPECT_EQ(first("HsifCalibrateEncoder", 2).int_arg(3), 200);
    EXPECT_EQ(first("HsifSetPollMode").int_arg(1), 1);

    const HsifCall motor_on = first("HsifSetMotorPower", 1);
    const HsifCall motor_off = first("HsifSetMotorPower", 2);
    EXPECT_EQ(motor_on.int_arg(1), 2) << "motor number: " << motor_on.describe();
    EXPECT_EQ(motor_on.int_arg(2), 100) << "motor power: " << motor_on.describe();
    EXPECT_EQ(motor_off.int_arg(1), 2) << motor_off.describe();
    EXPECT_EQ(motor_off.int_arg(2), 0) << motor_off.describe();

    const std::vector<HsifCall> reads = calls_named(calls, "HsifGetBufferedSamples");
    const std::vector<HsifCall> processed = calls_named(calls, "HsifProcessSamples");
    ASSERT_EQ(reads.size(), static_cast<size_t>(kLines)) << all;
    ASSERT_EQ(processed.size(), static_cast<size_t>(kLines)) << all;
    for (const HsifCall& read : reads) {
        EXPECT_EQ(read.int_arg(2), kSamplesPerLine) << read.describe();
        EXPECT_EQ(read.int_arg(4), 1) << read.describe();
    }
    for (const HsifCall& process : processed) {
        EXPECT_EQ(process.int_arg(3), kSamplesPerLine) << process.describe();
    }
    EXPECT_EQ(calls.back().name, "HsifClose") << all;
}

// --- Ctrl+C ----------------------------------------------------------------------------------

TEST_F(LaserE2e, InterruptDuringCaptureEndsAfterTheLineWithCode130) {
    // Real pacing: 5000 samples of 100 us make a line of half a second, so the whole capture
    // would take 20 s. The interrupt comes once the first line is read; a second one while the
    // motor runs does not end the program at once.
    constexpr int kLines = 40;
    constexpr const char* kNotice = "stopping the scanner and saving, please wait\n";
    ASSERT_TRUE(start({.options = {"-l", std::to_string(kLines), "-s", "100"}}));
    ASSERT_TRUE(wait_err("numRead ")) << transcript();
    const size_t begun = count_of(err(), "lines = ");
    program().signal(SIGINT);
    ASSERT_TRUE(wait_err(kNotice)) << transcript();
    program().signal(SIGINT);
    const ExitStatus status = wait();
    EXPECT_EQ(status.code, kExitInterrupted) << status.describe() << transcript();
    EXPECT_EQ(count_of(err(), kNotice), 1u) << transcript();

    // The line under way when the interrupt came is finished and kept, and no other is begun.
    std::smatch counter;
    const std::string stderr_text = err();
    ASSERT_TRUE(
        std::regex_search(stderr_text, counter, std::regex("Sampling Lines counter: (-?[0-9]+)\n")))
        << transcript();
    const int saved = kLines - std::stoi(counter[1]);
    EXPECT_GE(saved, static_cast<int>(begun)) << "a line begun is finished";
    EXPECT_LT(saved, kLines) << "the capture ended early";
    EXPECT_EQ(count_of(stderr_text, "lines = "), static_cast<size_t>(saved))
        << "no line is begun after it";
    const std::vector<HsifCall> calls = trace();
    EXPECT_EQ(calls_named(calls, "HsifProcessSamples").size(), static_cast<size_t>(saved));
    EXPECT_TRUE(motor_stopped_and_card_closed(calls));
    EXPECT_EQ(count_of(laser_text(*this), "\n"), static_cast<size_t>(saved * kSamplesPerLine))
        << "the captured lines are saved";
}

TEST_F(LaserE2e, InterruptDuringTheMirrorWaitCutsItShort) {
    ASSERT_TRUE(start({.sim_env = {kSpeedup}, .options = {"-l", "3"}}));
    ASSERT_TRUE(wait_err(kMirrorWait)) << transcript();
    const Clock::time_point signalled = Clock::now();
    program().signal(SIGINT);
    const ExitStatus status = wait();
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - signalled);
    EXPECT_EQ(status.code, kExitInterrupted) << status.describe() << transcript();
    // Only the time tells a wait cut short from one that ran out (the capture is skipped
    // either way). The interrupt comes as the wait begins; an uncut wait ends 5 s later, a cut
    // one within its 100 ms slice and the clean-up.
    EXPECT_LT(took, milliseconds(4000)) << "the 5 s wait is cut short";
    const std::vector<HsifCall> calls = trace();
    EXPECT_TRUE(motor_stopped_and_card_closed(calls));
    EXPECT_EQ(calls_named(calls, "HsifGetBufferedSamples").size(), 0u)
        << "no line is captured after the interrupt";
    EXPECT_TRUE(fs::exists(dir() / "laser.txt"));
}

// --- Files written out to the storage device -------------------------------------------------

// The path of strace on this machine, empty when it has none.
std::string strace_path() {
    const char* path = std::getenv("PATH");
    for (const std::string& folder : split(path != nullptr ? path : "", ':')) {
        const fs::path candidate = fs::path(folder) / "strace";
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

// What strace saw on one output file.
struct FileCalls {
    // The calls in order: 'w' a write, 's' a completed sync, 'x' a failed sync, 'c' the close.
    std::string letters;
    size_t written = 0;  // bytes written
    size_t synced = 0;   // bytes written before the last completed sync: surely on the device
};

// The calls of `strace -y` output on files (write, fdatasync, fsync, close), by file name.
std::map<std::string, FileCalls> parse_file_calls(const std::string& text) {
    static const std::regex line(
        R"(^\d+ +(write|fdatasync|fsync|close)\(\d+<([^>]*)>.*\) += (-?\d+).*$)");
    std::map<std::string, FileCalls> files;
    for (const std::string& entry : split(text, '\n')) {
        std::smatch m;
        if (!std::regex_match(entry, m, line)) {
            continue;
        }
        FileCalls& file = files[fs::path(m[2].str()).filename().string()];
        const long result = std::stol(m[3]);
        if (m[1] == "write") {
            file.letters += 'w';
            file.written += result > 0 ? static_cast<size_t>(result) : 0;
        } else if (m[1] == "close") {
            file.letters += 'c';
        } else if (result == 0) {
            file.letters += 's';
            file.synced = file.written;
        } else {
            file.letters += 'x';
        }
    }
    return files;
}

struct SyncCase {
    const char* legend;
    const char* failing = nullptr;  // the file whose first sync fails with EIO (strace injects it)
    size_t gyro_records = 1;        // recorded before q: 250 at 100 packets/s span two seconds
    // Each traced file and its calls (FileCalls::letters) as a regular expression.
    std::vector<std::pair<std::string, std::string>> calls;
    int code;
    std::string message = {};  // once on stderr
};

class FileSync : public LaserE2e, public ::testing::WithParamInterface<SyncCase> {};

// The program under strace: its sync calls on the three files, seen from outside, and a sync that
// fails made to fail by strace. Natively only (Wine's calls are its own).
TEST_P(FileSync, EachFileIsOnTheDeviceOnceASecondAndBeforeItIsClosed) {
    const SyncCase& c = GetParam();
    if (e2e_target().wine) {
        GTEST_SKIP() << "the sync calls are traced natively, with strace";
    }
    const std::string strace = strace_path();
    if (strace.empty()) {
        GTEST_SKIP() << "strace is not installed: the sync calls cannot be seen";
    }
    std::vector<std::string> tracer{strace, "-f",
                                    "-y",   "-qq",
                                    "-e",   "signal=none",
                                    "-e",   "trace=write,fdatasync,fsync,close",
                                    "-o",   (dir() / "sync-trace.txt").string()};
    for (const auto& [file, pattern] : c.calls) {
        tracer.insert(tracer.end(), {"-P", (dir() / file).string()});
    }
    if (c.failing != nullptr) {
        tracer.insert(tracer.end(), {"-e", "inject=fdatasync:error=EIO:when=1"});
    }
    // The leak checker of a sanitizer build cannot work under a tracer; the other checks can.
    ASSERT_TRUE(run_to_end({.sim_env = {kSpeedup, "ASAN_OPTIONS=detect_leaks=0"},
                            .options = {"-l", "2"},
                            .gyro_records = c.gyro_records,
                            .receiver = std::vector<std::string>{},
                            .tracer = tracer},
                           c.code, c.legend));
    if (!c.message.empty()) {
        EXPECT_EQ(count_of(err(), c.message), 1u) << c.legend << transcript();
    }

    std::map<std::string, FileCalls> calls = parse_file_calls(read_file(dir() / "sync-trace.txt"));
    for (const auto& [file, pattern] : c.calls) {
        EXPECT_TRUE(std::regex_match(calls[file].letters, std::regex(pattern)))
            << c.legend << ": " << file << " saw \"" << calls[file].letters << "\", expected "
            << pattern;
    }
    if (calls["gyro.txt"].letters.empty()) {
        return;
    }
    // The summary claims the records that the last completed sync put on the device.
    const std::optional<GyroSummary> summary = parse_gyro_summary(out());
    ASSERT_TRUE(summary.has_value()) << transcript();
    EXPECT_EQ(summary->records, count_of(gyro_file().substr(0, calls["gyro.txt"].synced), "\n"))
        << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Syncs, FileSync,
    ::testing::Values(
        SyncCase{
            .legend = "a complete run: the gyro and GPS files every second, each file last",
            .gyro_records = 250,
            .calls = {{"gyro.txt", "(w*s){3,}c"}, {"gps.txt", "(w*s){2,}c"}, {"laser.txt", "w+sc"}},
            .code = 0},
        SyncCase{.legend = "the gyro file's first sync fails: a write failure, no record claimed",
                 .failing = "gyro.txt",
                 .calls = {{"gyro.txt", "w*xw*c"}},
                 .code = 1,
                 .message = "Gyro - Error: can't write the file gyro.txt: Input/output error\n"},
        SyncCase{.legend = "the GPS file's sync fails: reported once, the survey goes on",
                 .failing = "gps.txt",
                 .calls = {{"gps.txt", "w+xc"}},
                 .code = 1,
                 .message = "GPS - Error: can't write the file gps.txt: Input/output error\n"},
        SyncCase{.legend = "the laser file's sync fails: the file is not saved",
                 .failing = "laser.txt",
                 .calls = {{"laser.txt", "w+xc"}},
                 .code = kExitFailure,
                 .message = "Error: Can't close the file\n"}),
    [](const ::testing::TestParamInfo<SyncCase>& param_info) {
        return param_info.param.failing == nullptr
                   ? std::string("complete")
                   : fs::path(param_info.param.failing).stem().string() + "_fails";
    });

// --- The GPS receiver across a capture --------------------------------------------------------

// The receiver streams at the full 9600 baud line while lines of 2 s are captured at real pace
// (5000 samples of 400 us): the GPS file does not grow while the motor runs, and afterwards it
// holds every sentence the receiver sent, none lost while a line kept the program from the port.
TEST_F(LaserE2e, GpsSentencesAreHeldWhileTheMotorRunsAndWrittenAfterIt) {
    ASSERT_TRUE(start({.options = {"-l", "2", "-s", "400"},
                       .gyro_records = 1,
                       .receiver = std::vector<std::string>{"--rate", "5"}}));
    ASSERT_TRUE(wait_err(kMirrorWait)) << transcript();
    const size_t size_at_motor_start = gps_bytes().size();
    const size_t sent_at_motor_start = receiver().sent().size();
    ASSERT_TRUE(wait_until([&] { return receiver().sent().size() >= sent_at_motor_start + 3; },
                           kHangBound, milliseconds(50)));
    const size_t size_while_running = gps_bytes().size();
    // Only a reading taken before the motor stopped tells (a slow machine may miss the window).
    if (count_of(err(), "Sampling Lines counter") == 0) {
        EXPECT_EQ(size_while_running, size_at_motor_start) << "written while the motor ran";
    }
    const ExitStatus status = wait();
    ASSERT_EQ(status.code, 0) << status.describe() << transcript();

    std::vector<SentSentence> kept;
    EXPECT_EQ(check_sentences_kept(receiver().sent(), gps_lines(), &kept), "") << transcript();
    EXPECT_EQ(count_of(gps_bytes(), "#lost"), 0u);
    EXPECT_GT(kept.size(), 20u) << "sentences of the whole capture";
}

// The package as an operator unpacks it: its morvane.exe records, finds the simulated library in
// its simulator/ folder and writes the laser file.
TEST_F(LaserE2e, TheUnpackedPackageRecordsAndCapturesWithItsSimulatedLibrary) {
    const E2eTarget& t = e2e_target();
    if (!t.wine) {
        GTEST_SKIP() << "the package holds the Windows programs";
    }
    const fs::path package = dir() / "package";
    ASSERT_TRUE(fs::create_directory(package));
    ASSERT_EQ(unpack_zip(t.dist_zip, package), "");
    ASSERT_TRUE(run_to_end(
        {.sim_env = {kSpeedup}, .options = {"-l", "2"}, .gyro_records = 1, .package = package}, 0));
    EXPECT_NE(out().find("Using DLL: " + wine_path(fs::canonical(package / "simulator/hsif.dll"))),
              std::string::npos)
        << transcript();
    EXPECT_GE(count_of(gyro_file(), "\n"), 1u);
    EXPECT_EQ(count_of(laser_bytes(), "\n"), 2u * 5000u) << "the header and two lines";
}

}  // namespace
