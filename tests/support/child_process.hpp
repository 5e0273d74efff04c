#pragma once
// A function run in a forked child process, for code that changes process-wide state (standard
// streams, signal handlers, the terminal, priority, affinity): the test program's own stays as
// it was.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace testsupport {

// How a child ended: its exit code (-1 when it did not exit) and all it wrote to its pipe.
struct ChildRun {
    int exit_code = -1;
    std::string text;
};

// Runs body in a forked child, given the write end of a pipe whose every byte the parent
// collects; the child exits with what body returns, through exit() when run_exit_handlers (what
// the code under test left to atexit runs), else through _exit().
inline ChildRun run_in_child(const std::function<int(int fd)>& body,
                             bool run_exit_handlers = false) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {.text = "pipe failed"};
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int code = body(fds[1]);
        if (run_exit_handlers) {
            std::exit(code);
        }
        _exit(code);
    }
    close(fds[1]);
    ChildRun run;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        run.text.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace testsupport
