#pragma once
// A program run as a child process for the end-to-end tests: keys written to its standard input
// through a pipe, standard output and standard error captured separately, waits with deadlines.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How a process ended.
struct ExitStatus {
    bool timed_out = false;  // it did not end in time and its process group was killed
    bool exited = false;     // it called exit; code holds the exit code
    int code = -1;
    int signal = 0;             // the signal that ended it, when it did not exit
    double cpu_seconds = 0.0;   // its user and system time, as wait4 reports it
    double wall_seconds = 0.0;  // from its start until it was reaped (within about 5 ms)

    // "exit code 1", "signal 9" or "timed out (killed)", for test messages.
    std::string describe() const;
};

// One child process in its own process group. Starting, writing and waiting are done by the test
// thread; one reader thread collects both output streams until they close or the process has
// ended and its streams have been drained. The destructor kills the process group if the process
// still runs.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts argv[0] (searched in PATH when it has no '/') with argv, the current environment
    // plus env ("NAME=value" entries, replacing the same names) and cwd as its working directory
    // (empty: the current one). Returns false, with the reason in error(), when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& cwd = {});

    // Writes bytes to the standard input pipe; false when the pipe is closed.
    bool send(const std::string& bytes);
    void close_stdin();

    // Sends a signal to the process itself (not to its group).
    void signal(int sig) const;

    // Snapshots of what the process has written so far.
    std::string out() const;
    std::string err() const;

    // Waits until pred(stdout, stderr) holds or the deadline passes; returns pred's last value.
    bool wait_for(const std::function<bool(const std::string&, const std::string&)>& pred,
                  milliseconds timeout) const;

    // Waits for the process to end. On timeout kills its process group and reports timed_out.
    // Output read until then stays available. Calling it again returns the same status.
    ExitStatus wait(milliseconds timeout);

    // True while the process has not been reaped.
    bool running() const { return pid_ > 0 && !reaped_; }
    pid_t pid() const { return pid_; }
    const std::string& error() const { return error_; }

private:
    void reader_loop(int out_fd, int err_fd);
    // Tells the reader the process has ended and waits until it has drained the streams.
    void stop_reader();
    void kill_group();

    pid_t pid_ = -1;
    Clock::time_point started_at_{};
    bool reaped_ = false;
    ExitStatus status_;
    int stdin_fd_ = -1;
    std::string error_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool streams_done_ = false;
    bool exited_ = false;  // set by wait() once reaped, so the reader stops after draining
    std::thread reader_;
};

// Reads the first line a process prints on standard output (without its line end), waiting up to
// timeout; empty when none came.
std::string first_line(const Process& process, milliseconds timeout);

// Waits until pred() holds, checking about every poll; returns pred's last value.
bool wait_until(const std::function<bool()>& pred, milliseconds timeout,
                milliseconds poll = milliseconds(10));

}  // namespace testsupport
