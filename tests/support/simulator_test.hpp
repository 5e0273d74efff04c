#pragma once
// The fixture of a simulator's own suite: the simulator as a process in a folder of the test's
// own, its line opened and read as a logger reads it; its refusal of a value it cannot honour.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "process.hpp"

namespace testsupport {

// A value a simulator must refuse: legend, the option and its value, what the line says it accepts.
struct Refusal {
    const char* legend;
    std::vector<std::string> options;
    const char* accepted;
};

// Runs program with options, whose first two words are the option and the value it refuses.
// Succeeds when the program ends with exit code 2 without printing a device path, and with one
// line on standard error naming "bad value for <option>: <value>" and containing accepted.
::testing::AssertionResult refuses_value(const std::string& program,
                                         const std::vector<std::string>& options,
                                         const std::string& accepted);

enum class LineEnd { kCount, kHungUp, kQuiet };

// Reads fd into *bytes until it holds count bytes, the line hangs up, or nothing came for quiet;
// kHangBound bounds the whole read (which then ends as kQuiet).
LineEnd read_line(int fd, std::string* bytes, size_t count = SIZE_MAX,
                  milliseconds quiet = kHangBound);

class SimulatorTest : public ::testing::Test {
protected:
    // name: "ahrs-sim" or "gps-sim"; program: its path, empty when the environment gives none.
    SimulatorTest(std::string name, std::string program)
        : name_(std::move(name)), program_(std::move(program)), folder_(name_) {}

    // Skips under Wine: a simulator is the same native program for both targets, so e2e-native
    // runs its suite.
    void SetUp() override;
    void TearDown() override { stop(); }

    std::string path(const std::string& file) const { return (folder_.path() / file).string(); }
    // Starts the simulator with "--quiet", its sent log path("sent.log"), its link path("link")
    // and options; returns the device path it printed (empty, with a failure, when none).
    std::string start(const std::vector<std::string>& options);
    // Opens the line as a logger would, closing the one open before; returns the descriptor.
    int open_line(const std::string& device);
    void close_line();
    // Closes the line and ends the simulator, which must exit with code 0; its sent log is then
    // complete.
    void stop();

    std::unique_ptr<Process> sim_;
    int line_ = -1;

private:
    std::string name_;
    std::string program_;
    TestFolder folder_;
};

}  // namespace testsupport
