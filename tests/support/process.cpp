#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

extern char** environ;

namespace testsupport {

namespace {

// After the process has ended, its output is read until both streams close or until they have
// been quiet this long: a grandchild (a Wine service, say) may hold a copy of the pipe for ever.
constexpr int kDrainQuietMs = 300;

}  // namespace

std::string ExitStatus::describe() const {
    if (timed_out) {
        return "timed out (killed)";
    }
    if (exited) {
        return "exit code " + std::to_string(code);
    }
    return "signal " + std::to_string(signal);
}

Process::~Process() {
    if (running()) {
        kill_group();
        wait(milliseconds(0));  // reaps it, stops the reader and closes standard input
    }
    stop_reader();
    close_stdin();
}

void Process::stop_reader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exited_ = true;
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

bool Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& cwd) {
    std::signal(SIGPIPE, SIG_IGN);  // a write to a child that has gone fails instead
    if (argv.empty()) {
        error_ = "no program given";
        return false;
    }

    // Everything the child needs is built before fork: after it, only exec-safe calls.
    std::map<std::string, std::string> merged;
    const auto add = [&merged](const std::string& entry) {
        merged[entry.substr(0, entry.find('='))] = entry;
    };
    for (char** e = environ; *e != nullptr; ++e) {
        add(*e);
    }
    for (const std::string& entry : env) {
        add(entry);
    }
    std::vector<char*> envp;
    for (auto& [name, entry] : merged) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& word : args) {
        argp.push_back(word.data());
    }
    argp.push_back(nullptr);

    int in_pipe[2];
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }

    const pid_t pid = fork();
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        environ = envp.data();
        execvp(argp[0], argp.data());
        _exit(127);
    }
    // Also from the parent, so a signal sent to the group right away cannot miss the child.
    setpgid(pid, pid);
    pid_ = pid;
    started_at_ = Clock::now();
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    stdin_fd_ = in_pipe[1];
    reader_ = std::thread(&Process::reader_loop, this, out_pipe[0], err_pipe[0]);
    return true;
}

void Process::reader_loop(int out_fd, int err_fd) {
    int fds[2] = {out_fd, err_fd};
    Clock::time_point last_data = Clock::now();
    while (fds[0] >= 0 || fds[1] >= 0) {
        // poll skips an entry whose descriptor is negative: a stream already closed.
        pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        const int ready = poll(p, 2, 50);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        bool got = false;
        for (int k = 0; ready > 0 && k < 2; ++k) {
            if (fds[k] < 0 || (p[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(fds[k], buffer, sizeof buffer);
            if (count > 0) {
                got = true;
                std::lock_guard<std::mutex> lock(mutex_);
                (k == 0 ? out_ : err_).append(buffer, static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                close(fds[k]);
                fds[k] = -1;
            }
        }
        if (got) {
            last_data = Clock::now();
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (exited_ && Clock::now() - last_data > milliseconds(kDrainQuietMs)) {
            break;
        }
    }
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streams_done_ = true;
    }
    changed_.notify_all();
}

bool Process::send(const std::string& bytes) {
    if (stdin_fd_ < 0) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = write(stdin_fd_, bytes.data() + done, bytes.size() - done);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

void Process::close_stdin() {
    if (stdin_fd_ >= 0) {
        close(stdin_fd_);
        stdin_fd_ = -1;
    }
}

void Process::signal(int sig) const {
    if (running()) {
        kill(pid_, sig);
    }
}

std::string Process::out() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string Process::err() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

bool Process::wait_for(const std::function<bool(const std::string&, const std::string&)>& pred,
                       milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!pred(out_, err_)) {
        if (streams_done_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return pred(out_, err_);
        }
    }
    return true;
}

ExitStatus Process::wait(milliseconds timeout) {
    if (pid_ <= 0) {
        ExitStatus never;
        never.timed_out = true;
        return never;
    }
    if (!reaped_) {
        const Clock::time_point deadline = Clock::now() + timeout;
        int status = 0;
        rusage usage{};
        for (;;) {
            const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
            if (done == pid_ || (done < 0 && errno != EINTR)) {
                break;
            }
            if (Clock::now() >= deadline) {
                kill_group();
                while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
                }
                status_.timed_out = true;
                break;
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        reaped_ = true;
        const auto seconds = [](const timeval& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
        };
        status_.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
        status_.wall_seconds = std::chrono::duration<double>(Clock::now() - started_at_).count();
        if (!status_.timed_out) {
            if (WIFEXITED(status)) {
                status_.exited = true;
                status_.code = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                status_.signal = WTERMSIG(status);
            }
        }
        stop_reader();
        close_stdin();
    }
    return status_;
}

void Process::kill_group() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
    }
}

std::string first_line(const Process& process, milliseconds timeout) {
    std::string line;
    process.wait_for(
        [&](const std::string& out, const std::string&) {
            const size_t end = out.find('\n');
            if (end == std::string::npos) {
                return false;
            }
            line = out.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        },
        timeout);
    return line;
}

bool wait_until(const std::function<bool()>& pred, milliseconds timeout, milliseconds poll) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline) {
            return pred();
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace testsupport
