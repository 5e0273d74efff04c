#pragma once
// Checks run in a forked child, for the calls that change process-wide state (standard input,
// signal handlers, the terminal, priority, affinity): the test program's own stays as it was.

#include <unistd.h>

#include <functional>
#include <string>

#include "child_process.hpp"

namespace platform_test {

// How a child ended: its exit code (-1 when it did not exit) and its first complaint, empty when
// every check held.
struct ChildReport {
    int exit_code = -1;
    std::string complaint;
};

// Runs body in a forked child, which sends what body returns to the parent and exits with 0:
// through exit() when run_exit_handlers (what the code under test left to atexit runs), else
// through _exit().
inline ChildReport in_child(const std::function<std::string()>& body,
                            bool run_exit_handlers = false) {
    testsupport::ChildRun run = testsupport::run_in_child(
        [&](int fd) {
            const std::string complaint = body();
            (void)!write(fd, complaint.data(), complaint.size());
            return 0;
        },
        run_exit_handlers);
    if (run.exit_code == -1) {
        run.text += "the child did not exit";
    }
    return {run.exit_code, run.text};
}

// The checks a child makes, each with its legend; first() is the legend of the first that failed.
class Checks {
public:
    void expect(bool held, const char* legend) {
        if (!held && first_.empty()) {
            first_ = legend;
        }
    }
    const std::string& first() const { return first_; }

private:
    std::string first_;
};

}  // namespace platform_test
