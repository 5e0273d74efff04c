// The simulated interface library as the program meets it, loaded at run time: its exports and
// results, its controls, paced capture, plausible samples and the call trace.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "laser/hsif_api.hpp"
#include "laser/samples.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial/port.hpp"
#include "text.hpp"

namespace {

using laser::HsifApi;
using laser::LaserSample;
using laser::RawSample;
using serial::SerialPort;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int32_t kBoard = 1;
constexpr int32_t kCard = 101;  // the handle the simulator gives board 1
constexpr int32_t kLine = laser::kSamplesPerLine;
constexpr double kTwoPi = 6.283185307179586;

// The library file: HSIF_SIM_LIBRARY, else sim/libhsif.so in a folder above this program.
std::string library_path() {
    if (const char* path = std::getenv("HSIF_SIM_LIBRARY")) {
        return path;
    }
    std::error_code error;
    for (fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path();
         dir != dir.parent_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "sim/libhsif.so", error)) {
            return dir / "sim/libhsif.so";
        }
    }
    return "libhsif.so";
}

// Loaded once, every symbol bound at load (RTLD_NOW): a name the library needs from the
// program and cannot find fails the load here. This program exports the serial calls as the
// logger does (the build's export list).
struct Library {
    void* handle = nullptr;
    std::string error;
    HsifApi api{};
};

const Library& library() {
    static const Library loaded = [] {
        Library lib;
        lib.handle = dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib.handle == nullptr) {
            lib.error = dlerror();
            return lib;
        }
#define HSIF_SIM_TEST_BIND(name, params) \
    lib.api.name = reinterpret_cast<laser::name##Fn>(dlsym(lib.handle, #name));
        HSIF_ENTRY_POINTS(HSIF_SIM_TEST_BIND)
#undef HSIF_SIM_TEST_BIND
        return lib;
    }();
    return loaded;
}

const char* const kControls[] = {
    "HSIF_SIM_FAIL",       "HSIF_SIM_LOST_LINES",      "HSIF_SIM_TIMEOUT_LINES", "HSIF_SIM_MODEL",
    "HSIF_SIM_MIN_PERIOD", "HSIF_SIM_SPEEDUP",         "HSIF_SIM_SEED",          "HSIF_SIM_PORT",
    "HSIF_SIM_TRACE",      "HSIF_SIM_CALIBRATION_DIR", "HSIF_SIM_OWN_PORT",
};

// Each test starts the library afresh (HsifDllInit reads the controls again) with the controls
// it sets, no pacing unless it asks for it, and the laser control port on a pseudo-terminal.
class HsifSim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library().handle, nullptr) << library().error;
        ASSERT_TRUE(pty_.ok()) << pty_.error();
        for (const char* name : kControls) {
            unsetenv(name);
        }
        setenv("HSIF_SIM_SPEEDUP", "0", 1);
        setenv("HSIF_SIM_PORT", pty_.slave_path().c_str(), 1);
    }

    const HsifApi& api() const { return library().api; }

    // Applies the controls set so far.
    void start() { ASSERT_EQ(api().HsifDllInit(), 1); }

    // Starts the library, opens the port and the card (call it in ASSERT_NO_FATAL_FAILURE).
    void open_card() {
        start();
        ASSERT_NE(api().HsifOpenPort(&port_, 9600, 1), 0);
        ASSERT_EQ(api().HsifOpen(kBoard, &port_), kCard);
    }

    void close_card() {
        api().HsifClose(kCard);
        api().HsifClosePort(&port_);
    }

    // Starts the library and makes the laser phase's set-up, as far as sampling: every step must
    // succeed.
    void set_up_card(int32_t max_range = 650, int32_t period = 20) {
        ASSERT_NO_FATAL_FAILURE(open_card());
        ASSERT_NE(api().HsifResetBoard(kCard), 0);
        ASSERT_EQ(api().HsifSamplingModeInit(kCard), 1);
        ASSERT_EQ(api().HsifClearEncoder(kCard, 3, 1), 1);
        ASSERT_EQ(api().HsifSetSamplePeriod(kCard, 0, max_range, period), 1);
        ASSERT_EQ(api().HsifSetMotorPower(kCard, 1, 255), 1);
        ASSERT_EQ(api().HsifClearSampleBuffer(kCard), 1);
        ASSERT_EQ(api().HsifSamplingEnable(kCard), 1);
    }

    // One line, read and processed into `samples`.
    void capture_line(std::vector<RawSample>* raw, std::vector<LaserSample>* samples) {
        raw->assign(kLine, RawSample{});
        samples->assign(kLine, LaserSample{});
        int32_t read = 0;
        ASSERT_EQ(api().HsifGetBufferedSamples(kCard, raw->data(), kLine, &read, 1), 1);
        ASSERT_EQ(read, kLine);
        ASSERT_EQ(api().HsifProcessSamples(kCard, raw->data(), samples->data(), kLine), kLine);
    }

    test_support::Pty pty_;
    SerialPort port_{};
};

TEST_F(HsifSim, ExportsEveryEntryPointUnderItsPlainName) {
#define HSIF_SIM_TEST_PRESENT(name, params) \
    EXPECT_NE(reinterpret_cast<void*>(api().name), nullptr) << #name;
    HSIF_ENTRY_POINTS(HSIF_SIM_TEST_PRESENT)
#undef HSIF_SIM_TEST_PRESENT
}

// The laser phase's calls in its order, with what it relies on for each.
TEST_F(HsifSim, SetUpSequenceGivesTheResultsTheLaserPhaseTests) {
    // The demo calibration file is in tools/hsif_sim of the source tree this file belongs to.
    const fs::path demo_dir = fs::path(__FILE__).parent_path() / "../../../tools/hsif_sim";
    setenv("HSIF_SIM_CALIBRATION_DIR", demo_dir.c_str(), 1);
    start();
    constexpr int32_t kNonZero = -999;  // any result but 0
    struct Step {
        const char* legend;
        std::function<int32_t()> call;
        int32_t want;
    };
    int32_t model = -1;
    int32_t min_period = -1;
    const Step steps[] = {
        {"port open", [&] { return api().HsifOpenPort(&port_, 9600, 1); }, kNonZero},
        {"send I", [&] { return api().HsifSendStr(&port_, "I"); }, kNonZero},
        {"card open", [&] { return api().HsifOpen(kBoard, &port_); }, kCard},
        {"reset", [&] { return api().HsifResetBoard(kCard); }, kNonZero},
        {"demo calibration", [&] { return api().HsifLoadCalibrationData(kCard, "LOOKUPHS"); },
         kNonZero},
        {"first period", [&] { return api().HsifSetSamplePeriod(kCard, 0, 650, 20); }, kNonZero},
        {"model", [&] { return api().HsifGetCardModel(kCard, &model); }, kNonZero},
        {"min period", [&] { return api().HsifGetMinSamplePeriod(kCard, &min_period); }, kNonZero},
        {"calibrate", [&] { return api().HsifCalibrate(kCard); }, 1},
        {"sampling mode", [&] { return api().HsifSamplingModeInit(kCard); }, 1},
        {"clear encoders", [&] { return api().HsifClearEncoder(kCard, 3, 1); }, 1},
        {"mirror encoder", [&] { return api().HsifCalibrateEncoder(kCard, 1, 0, 4096); }, 1},
        {"pan encoder", [&] { return api().HsifCalibrateEncoder(kCard, 2, 0, 200); }, 1},
        {"second period", [&] { return api().HsifSetSamplePeriod(kCard, 0, 650, 20); }, 1},
    };
    for (const Step& step : steps) {
        const int32_t result = step.call();
        if (step.want == kNonZero) {
            EXPECT_NE(result, 0) << step.legend;
        } else {
            EXPECT_EQ(result, step.want) << step.legend;
        }
    }
    EXPECT_EQ(model, 1);
    EXPECT_EQ(min_period, 5);
    EXPECT_EQ(pty_.read(1, 2000), std::vector<uint8_t>{'I'});
    EXPECT_EQ(port_.is_open, 1);
    EXPECT_EQ(port_.dcb.BaudRate, 9600u);
    EXPECT_EQ(port_.dcb.ByteSize, 8);
    EXPECT_EQ(api().HsifClose(kCard), 1);
    EXPECT_EQ(api().HsifClosePort(&port_), 1);
}

TEST_F(HsifSim, PortOpenFailsOnADeviceThatIsNotThere) {
    setenv("HSIF_SIM_PORT", "/dev/no-such-hsif-port", 1);
    start();
    EXPECT_EQ(api().HsifOpenPort(&port_, 9600, 1), 0);
    EXPECT_EQ(port_.handle, INVALID_HANDLE_VALUE);
    // Without an open port the card cannot be reached.
    EXPECT_EQ(api().HsifOpen(kBoard, &port_), -1);
}

// A control the library cannot honour is named on standard error with its value and what is
// accepted, and the initialisation and the port open fail, so the program stops; the values at
// the ends of each range are taken.
TEST_F(HsifSim, ControlsThatCannotBeHonouredAreRefusedAndThePortOpenFails) {
    constexpr const char* kSpeedups = "0 for no pacing, or 0.001 to 1000000";
    constexpr const char* kLines = "comma-separated line numbers";
    constexpr const char* kNames = "comma-separated entry-point names";
    struct {
        const char* legend;
        const char* name;
        const char* value;
        const char* accepted;  // the fragment of the refusal; null: the value is taken
    } const cases[] = {
        {"speed-up so small the wait overflows", "HSIF_SIM_SPEEDUP", "1e-12", kSpeedups},
        {"speed-up above a million", "HSIF_SIM_SPEEDUP", "2e6", kSpeedups},
        {"negative speed-up", "HSIF_SIM_SPEEDUP", "-1", kSpeedups},
        {"speed-up not a number", "HSIF_SIM_SPEEDUP", "fast", kSpeedups},
        {"speed-up not finite", "HSIF_SIM_SPEEDUP", "inf", kSpeedups},
        {"speed-up out of double range", "HSIF_SIM_SPEEDUP", "1e400", kSpeedups},
        {"slowest speed-up", "HSIF_SIM_SPEEDUP", "0.001", nullptr},
        {"fastest speed-up", "HSIF_SIM_SPEEDUP", "1000000", nullptr},
        {"no pacing", "HSIF_SIM_SPEEDUP", "0", nullptr},
        {"model 2", "HSIF_SIM_MODEL", "2", "0 or 1"},
        {"minimum period 0", "HSIF_SIM_MIN_PERIOD", "0", "1 to 100000 (us)"},
        {"minimum period above every period", "HSIF_SIM_MIN_PERIOD", "100001", "1 to 100000"},
        {"minimum period with a unit", "HSIF_SIM_MIN_PERIOD", "5us", "1 to 100000"},
        {"longest minimum period", "HSIF_SIM_MIN_PERIOD", "100000", nullptr},
        {"negative seed", "HSIF_SIM_SEED", "-1", "0 to 18446744073709551615"},
        {"largest seed", "HSIF_SIM_SEED", "18446744073709551615", nullptr},
        {"a word among lost lines", "HSIF_SIM_LOST_LINES", "1,x", kLines},
        {"negative timed-out line", "HSIF_SIM_TIMEOUT_LINES", "-2", kLines},
        {"misspelt entry point", "HSIF_SIM_FAIL", "HsifOpen,HsifOpenPrt", kNames},
        {"call number 0", "HSIF_SIM_FAIL", "HsifOpen#0", kNames},
    };
    for (const auto& c : cases) {
        setenv(c.name, c.value, 1);
        // The library reports on file descriptor 2, which the capture replaces.
        testing::internal::CaptureStderr();
        const int32_t init = api().HsifDllInit();
        const int32_t open = api().HsifOpenPort(&port_, 9600, 1);
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.accepted == nullptr) {
            EXPECT_EQ(err, "") << c.legend;
            EXPECT_EQ(init, 1) << c.legend;
            EXPECT_EQ(open, 1) << c.legend;
            api().HsifClosePort(&port_);
        } else {
            const std::string line =
                std::string("hsif-sim: ") + c.name + "=" + c.value + " refused (accepted: ";
            EXPECT_EQ(err.rfind(line, 0), 0u) << c.legend << ": " << err;
            EXPECT_NE(err.find(c.accepted), std::string::npos) << c.legend << ": " << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.legend << ": one line";
            EXPECT_EQ(init, 0) << c.legend;
            EXPECT_EQ(open, 0) << c.legend;
            EXPECT_EQ(port_.handle, INVALID_HANDLE_VALUE) << c.legend;
        }
        unsetenv(c.name);
        setenv("HSIF_SIM_SPEEDUP", "0", 1);  // the fixture's default
    }
}

// The laser control port either way: through the program's exported calls, or with
// HSIF_SIM_OWN_PORT=1 on the library's own descriptor. From a port left cooked (XON/XOFF, CR/NL
// translation, echo), the record's handle is an open descriptor of the device, every byte value
// crosses the line unchanged both ways, and the program's close_port closes the descriptor.
TEST_F(HsifSim, TheControlPortEitherWayIsADescriptorTheProgramCloses) {
    struct {
        const char* legend;
        const char* own_port;
        DWORD write_timeout;  // as the program's calls report it: what the library set through them
    } const cases[] = {
        {"through the program's calls", "0", 1000},
        {"on the library's own descriptor, new to the program", "1", 0},
    };
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), uint8_t{0});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        test_support::Pty cooked(test_support::Pty::Line::kCooked);
        ASSERT_TRUE(cooked.ok()) << cooked.error();
        setenv("HSIF_SIM_PORT", cooked.slave_path().c_str(), 1);
        setenv("HSIF_SIM_OWN_PORT", c.own_port, 1);
        start();
        SerialPort port{};
        ASSERT_EQ(api().HsifOpenPort(&port, 9600, 1), 1);
        const int fd = static_cast<int>(port.handle);
        struct stat device {};
        struct stat opened {};
        ASSERT_EQ(stat(cooked.slave_path().c_str(), &device), 0);
        ASSERT_EQ(fstat(fd, &opened), 0) << "the handle is an open descriptor";
        EXPECT_EQ(opened.st_rdev, device.st_rdev);
        COMMTIMEOUTS timeouts{};
        ASSERT_TRUE(GetCommTimeouts(port.handle, &timeouts));
        EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, c.write_timeout);

        EXPECT_EQ(api().HsifSendStr(&port, "I\r\n\x11\x13"), 1);
        EXPECT_EQ(cooked.read(5), (std::vector<uint8_t>{'I', '\r', '\n', 0x11, 0x13}));
        EXPECT_EQ(api().HsifSendBinary(&port, all.data(), 256), 1);
        EXPECT_EQ(cooked.read(256), all);
        ASSERT_TRUE(cooked.write(all));
        std::vector<uint8_t> got(256);
        EXPECT_EQ(api().HsifBinaryReadBytes(&port, got.data(), 256, 2000), 256);
        EXPECT_EQ(got, all);

        EXPECT_EQ(serial::close_port(&port), 1);
        EXPECT_EQ(fcntl(fd, F_GETFD), -1);
        EXPECT_EQ(errno, EBADF) << "close_port closed the descriptor";
    }
}

// HSIF_SIM_FAIL: every call of a name, or only its call number k with "#k".
TEST_F(HsifSim, InjectedFailuresHitTheNamedCalls) {
    struct {
        const char* legend;
        const char* fail;
        std::vector<int32_t> period_results;  // two HsifSetSamplePeriod calls
        int32_t open_result;
    } const cases[] = {
        {"nothing injected", "", {1, 1}, kCard},
        {"every period call", "HsifSetSamplePeriod", {0, 0}, kCard},
        {"first period call", "HsifSetSamplePeriod#1", {0, 1}, kCard},
        {"second period call", "HsifSetSamplePeriod#2", {1, 0}, kCard},
        {"card open, in a list", "HsifCalibrate,HsifOpen", {0, 0}, -1},
    };
    for (const auto& c : cases) {
        setenv("HSIF_SIM_FAIL", c.fail, 1);
        start();
        ASSERT_NE(api().HsifOpenPort(&port_, 9600, 1), 0) << c.legend;
        EXPECT_EQ(api().HsifOpen(kBoard, &port_), c.open_result) << c.legend;
        for (size_t i = 0; i < c.period_results.size(); ++i) {
            EXPECT_EQ(api().HsifSetSamplePeriod(kCard, 0, 650, 20), c.period_results[i])
                << c.legend << ", call " << i + 1;
        }
        close_card();
    }
}

// The sample period is refused below the card's minimum and with a range out of reach.
TEST_F(HsifSim, SamplePeriodIsCheckedAgainstTheCardModel) {
    struct {
        const char* legend;
        const char* model;
        const char* min_period;
        int32_t max_range;
        int32_t period;
        int32_t result;
        int32_t reported_model;
        int32_t reported_min;
    } const cases[] = {
        {"200 kHz card at its minimum", "1", "", 650, 5, 1, 1, 5},
        {"200 kHz card below it", "1", "", 650, 4, 0, 1, 5},
        {"50 kHz card at 20 us", "0", "", 650, 20, 1, 0, 20},
        {"50 kHz card below 20 us", "0", "", 650, 19, 0, 0, 20},
        {"minimum set by control", "1", "30", 650, 20, 0, 1, 30},
        {"no range", "1", "", 0, 20, 0, 1, 5},
        {"range beyond the laser", "1", "", 100000, 20, 0, 1, 5},
    };
    for (const auto& c : cases) {
        setenv("HSIF_SIM_MODEL", c.model, 1);
        setenv("HSIF_SIM_MIN_PERIOD", c.min_period, 1);
        SCOPED_TRACE(c.legend);
        ASSERT_NO_FATAL_FAILURE(open_card());
        EXPECT_EQ(api().HsifSetSamplePeriod(kCard, 0, c.max_range, c.period), c.result) << c.legend;
        int32_t model = -1;
        int32_t min_period = -1;
        EXPECT_EQ(api().HsifGetCardModel(kCard, &model), 1) << c.legend;
        EXPECT_EQ(api().HsifGetMinSamplePeriod(kCard, &min_period), 1) << c.legend;
        EXPECT_EQ(model, c.reported_model) << c.legend;
        EXPECT_EQ(min_period, c.reported_min) << c.legend;
        close_card();
    }
}

TEST_F(HsifSim, CalibrationFileMustBeThereAndWellFormed) {
    struct {
        const char* legend;
        const char* text;  // null: no file
        int32_t result;
    } const cases[] = {
        {"missing", nullptr, 0},
        {"two rows", "0 -2\n1000 8\n", 1},
        {"comments, blanks, CRLF", "# raw inches\r\n\r\n0\t0.5\r\n 500 1.5 \r\n", 1},
        {"one row", "0 1\n", 0},
        {"a word", "0 1\nten 2\n", 0},
        {"trailing text", "0 1\n10 2 x\n", 0},
        {"raw not increasing", "10 1\n10 2\n", 0},
        {"inches not increasing", "0 5\n10 4\n", 0},
        {"negative raw", "-1 0\n10 2\n", 0},
    };
    ASSERT_NO_FATAL_FAILURE(open_card());
    const std::string path = ::testing::TempDir() + "hsif_cal_" + std::to_string(getpid());
    for (const auto& c : cases) {
        std::remove(path.c_str());
        if (c.text != nullptr) {
            ASSERT_TRUE(testsupport::write_file(path, c.text));
        }
        EXPECT_EQ(api().HsifLoadCalibrationData(kCard, path.c_str()), c.result) << c.legend;
    }
    std::remove(path.c_str());
    // The last table loaded converts by interpolation: "0 0.5", "500 1.5".
    double inches = 0.0;
    ASSERT_EQ(api().HsifRaw2Range(kCard, 250, &inches), 1);
    EXPECT_DOUBLE_EQ(inches, 1.0);
}

TEST_F(HsifSim, CaptureNeedsSamplingEnabled) {
    ASSERT_NO_FATAL_FAILURE(open_card());
    std::vector<RawSample> raw(kLine);
    int32_t read = -1;
    EXPECT_EQ(api().HsifGetBufferedSamples(kCard, raw.data(), kLine, &read, 1), 0);
    ASSERT_EQ(api().HsifSamplingModeInit(kCard), 1);
    ASSERT_EQ(api().HsifSamplingEnable(kCard), 1);
    EXPECT_EQ(api().HsifGetBufferedSamples(kCard, raw.data(), kLine, &read, 1), 1);
    EXPECT_EQ(read, kLine);
    ASSERT_EQ(api().HsifSamplingDisable(kCard), 1);
    EXPECT_EQ(api().HsifGetBufferedSamples(kCard, raw.data(), kLine, &read, 1), 0);
}

// A line of 5000 samples at 20 µs takes 100 ms of real time; a speed-up of 10 makes it 10 ms.
TEST_F(HsifSim, CaptureIsPacedBySamplePeriodAndSpeedUp) {
    struct {
        const char* legend;
        const char* speedup;
        double least_ms;  // three lines
        double most_ms;
    } const cases[] = {
        {"real time: 3 x 100 ms", "1", 280.0, 2000.0},
        {"ten times faster: 3 x 10 ms", "10", 25.0, 1000.0},
    };
    for (const auto& c : cases) {
        setenv("HSIF_SIM_SPEEDUP", c.speedup, 1);
        set_up_card();
        const auto begin = Clock::now();
        std::vector<RawSample> raw(kLine);
        for (int line = 0; line < 3; ++line) {
            int32_t read = 0;
            ASSERT_EQ(api().HsifGetBufferedSamples(kCard, raw.data(), kLine, &read, 1), 1);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        EXPECT_GE(ms, c.least_ms) << c.legend;
        EXPECT_LE(ms, c.most_ms) << c.legend;
        close_card();
    }
}

// Lines counted from 0 in call order: a lost line flags its last raw entry, a timed-out line
// its first record. No distance goes beyond the range set.
TEST_F(HsifSim, LostAndTimedOutLinesAreMarkedWhereTheProgramLooksAndDistancesStopAtTheRange) {
    setenv("HSIF_SIM_LOST_LINES", "1,3", 1);
    setenv("HSIF_SIM_TIMEOUT_LINES", "2", 1);
    set_up_card(/*max_range=*/100);
    const struct {
        bool lost;
        bool timeout;
    } lines[] = {{false, false}, {true, false}, {false, true}, {true, false}};
    std::vector<RawSample> raw;
    std::vector<LaserSample> samples;
    double most = 0.0;
    for (size_t line = 0; line < std::size(lines); ++line) {
        capture_line(&raw, &samples);
        EXPECT_EQ((raw[kLine - 1].words[0] & laser::kLostDataFlag) != 0, lines[line].lost)
            << "line " << line;
        EXPECT_EQ(samples[0].timeout != 0, lines[line].timeout) << "line " << line;
        for (int32_t i = 1; i < kLine; ++i) {
            ASSERT_EQ(samples[static_cast<size_t>(i)].timeout, 0u) << "line " << line;
        }
        for (const LaserSample& s : samples) {
            most = std::max(most, s.distance);
        }
    }
    EXPECT_LE(most, 100.0);
    EXPECT_GT(most, 99.0);
}

// The samples of a room scan: angles within a turn, distances to walls a few metres away,
// temperature near 70 F, the mirror's index pulse once a turn where its angle is 0 (20 turns/s:
// two turns a line); the same seed gives the same samples, another seed others.
TEST_F(HsifSim, SamplesLookLikeARoomScanAndFollowTheSeed) {
    struct Run {
        const char* seed;  // null: the library's own
        std::vector<LaserSample> samples;
    };
    Run runs[] = {{nullptr, {}}, {"7", {}}, {"7", {}}, {"8", {}}};
    for (Run& run : runs) {
        SCOPED_TRACE(run.seed != nullptr ? run.seed : "no seed");
        if (run.seed != nullptr) {
            setenv("HSIF_SIM_SEED", run.seed, 1);
        }
        set_up_card();
        std::vector<RawSample> raw;
        int index1 = 0;
        double least = 1e9;
        double most = 0.0;
        for (int line = 0; line < 5; ++line) {
            capture_line(&raw, &run.samples);
            for (const LaserSample& s : run.samples) {
                ASSERT_GE(s.angle1, 0.0);
                ASSERT_LT(s.angle1, kTwoPi);
                ASSERT_GE(s.angle2, 0.0);
                ASSERT_LT(s.angle2, kTwoPi);
                ASSERT_GT(s.temperature, 65.0);
                ASSERT_LT(s.temperature, 75.0);
                ASSERT_GT(s.amplitude, 0.0);
                ASSERT_EQ(s.flags & ~0xCu, 0u);
                least = std::min(least, s.distance);
                most = std::max(most, s.distance);
                if ((s.flags & 0x4u) != 0) {
                    ++index1;
                    EXPECT_LT(s.angle1, 0.01);
                }
            }
        }
        EXPECT_NEAR(index1, 10, 1);
        EXPECT_GT(least, 40.0);  // the ceiling, 1.35 m above
        EXPECT_LT(most, 260.0);  // the far corners, under 6.5 m
        EXPECT_GT(most - least, 60.0);
        close_card();
    }
    const size_t bytes = kLine * sizeof(LaserSample);
    EXPECT_EQ(std::memcmp(runs[1].samples.data(), runs[2].samples.data(), bytes), 0);
    EXPECT_NE(std::memcmp(runs[1].samples.data(), runs[3].samples.data(), bytes), 0);
}

TEST_F(HsifSim, TraceHasOneLinePerCallWithArgumentsAndResult) {
    const std::string path =
        ::testing::TempDir() + "hsif_trace_" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    setenv("HSIF_SIM_TRACE", path.c_str(), 1);
    start();
    int32_t model = 0;
    api().HsifOpenPort(&port_, 9600, 1);
    api().HsifSendStr(&port_, "I");
    api().HsifOpen(kBoard, &port_);
    api().HsifLoadCalibrationData(kCard, "no \"such\" file");
    api().HsifSetSamplePeriod(kCard, 0, 650, 20);
    api().HsifGetCardModel(kCard, &model);
    api().HsifGetCardModel(kCard, nullptr);
    api().HsifClose(kCard);
    api().HsifClosePort(&port_);
    api().HsifClose(kCard);
    EXPECT_EQ(testsupport::read_file(path),
              "HsifDllInit -> 1\n"
              "HsifOpenPort ptr 9600 1 -> 1\n"
              "HsifSendStr ptr \"I\" -> 1\n"
              "HsifOpen 1 ptr -> 101\n"
              "HsifLoadCalibrationData 101 \"no \\\"such\\\" file\" -> 0\n"
              "HsifSetSamplePeriod 101 0 650 20 -> 1\n"
              "HsifGetCardModel 101 ptr -> 1\n"
              "HsifGetCardModel 101 null -> 0\n"
              "HsifClose 101 -> 1\n"
              "HsifClosePort ptr -> 1\n"
              "HsifClose 101 -> 0\n");
    std::remove(path.c_str());
}

}  // namespace
