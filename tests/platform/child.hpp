#pragma once
// Checks run in a forked child, for the calls that change process-wide state (standard input,
// signal handlers, the terminal, priority, affinity): the test program's own stays as it was.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

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
    int fds[2];
    if (pipe(fds) != 0) {
        return {.complaint = "pipe failed"};
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string complaint = body();
        (void)!write(fds[1], complaint.data(), complaint.size());
        if (run_exit_handlers) {
            std::exit(0);
        }
        _exit(0);
    }
    close(fds[1]);
    ChildReport report;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        report.complaint.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        report.exit_code = WEXITSTATUS(status);
    } else {
        report.complaint += "the child did not exit";
    }
    return report;
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
