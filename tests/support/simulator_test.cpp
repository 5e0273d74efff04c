#include "simulator_test.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "text.hpp"

namespace testsupport {

::testing::AssertionResult refuses_value(const std::string& program,
                                         const std::vector<std::string>& options,
                                         const std::string& accepted) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), options.begin(), options.end());
    Process sim;
    if (!sim.start(argv)) {
        return ::testing::AssertionFailure() << sim.error();
    }
    const ExitStatus status = sim.wait(kHangBound);
    const std::string err = sim.err();
    const std::string named = "bad value for " + options.at(0) + ": " + options.at(1);
    if (status.code != 2 || !sim.out().empty() || count_of(err, "\n") != 1 ||
        err.find(named) == std::string::npos || err.find(accepted) == std::string::npos) {
        return ::testing::AssertionFailure()
               << status.describe() << ", standard output \"" << sim.out()
               << "\", standard error \"" << err << "\"; wanted exit code 2, no output, one line"
               << " naming \"" << named << "\" and \"" << accepted << "\"";
    }
    return ::testing::AssertionSuccess();
}

LineEnd read_line(int fd, std::string* bytes, size_t count, milliseconds quiet) {
    const Clock::time_point deadline = Clock::now() + kHangBound;
    char chunk[4096];
    while (bytes->size() < count) {
        pollfd ready{fd, POLLIN, 0};
        const int n = poll(&ready, 1, static_cast<int>(quiet.count()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || Clock::now() > deadline) {
            return LineEnd::kQuiet;
        }
        const ssize_t got = read(fd, chunk, std::min(sizeof chunk, count - bytes->size()));
        if (got > 0) {
            bytes->append(chunk, static_cast<size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            return LineEnd::kHungUp;
        }
    }
    return LineEnd::kCount;
}

void SimulatorTest::SetUp() {
    if (e2e_target().wine) {
        GTEST_SKIP() << name_ << " is a native program: e2e-native runs its tests";
    }
    if (program_.empty()) {
        GTEST_SKIP() << "no " << name_ << " given (AHRS_SIM, GPS_SIM)";
    }
    ASSERT_TRUE(folder_.ok());
}

std::string SimulatorTest::start(const std::vector<std::string>& options) {
    std::vector<std::string> argv{program_,         "--quiet", "--sent-log",
                                  path("sent.log"), "--link",  path("link")};
    argv.insert(argv.end(), options.begin(), options.end());
    sim_ = std::make_unique<Process>();
    EXPECT_TRUE(sim_->start(argv)) << sim_->error();
    const std::string device = first_line(*sim_, kHangBound);
    EXPECT_FALSE(device.empty()) << sim_->err();
    return device;
}

int SimulatorTest::open_line(const std::string& device) {
    close_line();
    line_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return line_;
}

void SimulatorTest::close_line() {
    if (line_ >= 0) {
        close(line_);
        line_ = -1;
    }
}

void SimulatorTest::stop() {
    close_line();
    if (sim_ && sim_->running()) {
        sim_->signal(SIGTERM);
        const ExitStatus status = sim_->wait(kHangBound);
        EXPECT_EQ(status.code, 0) << name_ << ": " << status.describe() << sim_->err();
    }
}

}  // namespace testsupport
