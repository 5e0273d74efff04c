// A simulator's refusal of a value on its command line.

#include "refusal.hpp"

#include "process.hpp"
#include "text.hpp"

namespace testsupport {
namespace {

constexpr milliseconds kExitWait(5000);

}  // namespace

::testing::AssertionResult refuses_value(const std::string& program,
                                         const std::vector<std::string>& options,
                                         const std::string& accepted) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), options.begin(), options.end());
    Process sim;
    if (!sim.start(argv)) {
        return ::testing::AssertionFailure() << sim.error();
    }
    const ExitStatus status = sim.wait(kExitWait);
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

}  // namespace testsupport
