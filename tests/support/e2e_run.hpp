#pragma once
// One end-to-end run's world and the fixture of the suites that run the program: the test's
// folder (the program's working directory), the simulated unit, the simulated receiver, the laser
// control port and the program, with what a test waits for and reads back.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "gyro_output.hpp"
#include "hsif_trace.hpp"
#include "pty.hpp"
#include "simulated_receiver.hpp"
#include "simulated_unit.hpp"
#include "text.hpp"

namespace testsupport {

// The laser control port's number; under Wine the COM port mapped onto its pseudo-terminal.
constexpr int kLaserCom = 8;

// Runs that give the program no interface library end with this code once q ends the gyro phase.
constexpr int kExitAfterGyroPhase = 2;
constexpr int kExitInterrupted = 130;

// Destroyed from the last part: the program ends before the simulators and the ports go, the
// folder last.
class E2eRun {
public:
    explicit E2eRun(const std::string& kind = "e2e");
    E2eRun(const E2eRun&) = delete;
    E2eRun& operator=(const E2eRun&) = delete;

    const std::filesystem::path& dir() const { return folder_.path(); }
    SimulatedUnit& unit() { return unit_; }
    const SimulatedReceiver& receiver() const { return receiver_; }
    TargetProgram& program() { return program_; }
    // The laser control port's pseudo-terminal, once open_laser_port has made it.
    test_support::Pty& laser_port() { return *laser_port_; }
    void keep_files() { folder_.keep(); }

    // Each returns an empty text, or why the part could not start.
    std::string start_unit(const std::vector<std::string>& options = {}) {
        return unit_.start(options);
    }
    std::string start_receiver(const std::vector<std::string>& options);
    // The pseudo-terminal, mapped to COM8 under Wine.
    std::string open_laser_port();
    // Starts program (the target's morvane when empty) with args and env in the folder.
    std::string launch(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}, const std::string& program = {});

    // The program's usual words: the laser file, gyro.txt, gps.txt, -C and the unit's port, -S and
    // the receiver's port (kNoGpsPort when it has not started), then options.
    std::vector<std::string> arguments(const std::vector<std::string>& options = {},
                                       const std::string& laser_file = "laser.txt") const;

    // Each waits at most kHangBound; false when it did not happen.
    bool wait_gyro_records(size_t n) const;  // complete records in gyro.txt
    bool wait_sentences(size_t n) const;     // valid sentences in gps.txt
    bool wait_err(const std::string& text) {
        return program_.wait_for_console(text, kHangBound, true);
    }
    ExitStatus wait() { return program_.wait(kHangBound); }
    // Presses q and waits for the program to end.
    ExitStatus quit() {
        program_.send("q");
        return wait();
    }

    std::string out() const { return program_.console_out(); }
    // Standard error without the line of the GPS port that names no device.
    std::string err() const;
    std::string gyro_file() const { return read_file(dir() / "gyro.txt"); }
    std::vector<GyroRecord> gyro_records() const { return parse_gyro_records(gyro_file()); }
    std::string gps_bytes() const { return read_file(dir() / "gps.txt"); }
    std::vector<GpsLine> gps_lines() const { return parse_gps_file(gps_bytes()); }
    std::string laser_bytes() const { return read_file(dir() / "laser.txt"); }
    // The simulated library's call trace (trace.txt).
    std::vector<HsifCall> trace() const { return parse_hsif_trace(read_file(dir() / "trace.txt")); }

    // Everything the run printed, sent, received and called, for failure messages.
    std::string transcript() const;

private:
    TestFolder folder_;
    std::unique_ptr<test_support::Pty> laser_port_;
    std::unique_ptr<TargetPort> laser_mapping_;
    SimulatedUnit unit_;
    SimulatedReceiver receiver_;
    bool receiver_started_ = false;
    TargetProgram program_;
};

// The fixture of the suites that run the program: each test has a run of its own, and skips when
// the target cannot run here.
class E2eTest : public ::testing::Test, public E2eRun {
protected:
    void SetUp() override;
};

}  // namespace testsupport
