#include "wine.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "process.hpp"

namespace testsupport {

// A placeholder outlives any single test by far; it also ends when its pseudo-terminal hangs up.
constexpr const char* kPlaceholderSeconds = "900";

int wine_run(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv{wine_run_script()};
    argv.insert(argv.end(), args.begin(), args.end());
    Process process;
    if (!process.start(argv)) {
        *output = process.error();
        return -1;
    }
    process.close_stdin();
    // Creating the prefix takes about 5 s (12 s on a busy machine).
    const ExitStatus status = process.wait(milliseconds(120000));
    *output = process.out() + process.err() + (status.exited ? "" : status.describe());
    return status.exited ? status.code : -1;
}

std::string wine_run_script() {
    if (const char* path = std::getenv("MORVANE_WINE_RUN"); path != nullptr && *path != '\0') {
        return path;
    }
    return (std::filesystem::path(__FILE__).parent_path() / "wine-run").string();
}

ComMapping::ComMapping(int number, std::string path) : number_(number), path_(std::move(path)) {
    std::string text;
    if (wine_run({"--map-com", std::to_string(number_), path_}, &text) != 0) {
        error_ = "cannot map COM" + std::to_string(number_) + ": " + text;
        return;
    }
    // The device the path names now is held before the caller starts a program on it; later
    // ones (the simulator re-points its link after a hang-up) are picked up by the watcher.
    hold_new_device();
    watcher_ = std::thread(&ComMapping::watch, this);
}

ComMapping::~ComMapping() {
    stop_ = true;
    if (watcher_.joinable()) {
        watcher_.join();
    }
    for (pid_t pid : placeholders_) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

void ComMapping::watch() {
    while (!stop_) {
        hold_new_device();
        // Reap placeholders whose pseudo-terminal has hung up.
        for (auto it = placeholders_.begin(); it != placeholders_.end();) {
            if (waitpid(*it, nullptr, WNOHANG) == *it) {
                it = placeholders_.erase(it);
            } else {
                ++it;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ComMapping::hold_new_device() {
    std::error_code ec;
    const std::string device = std::filesystem::canonical(path_, ec).string();
    if (ec || device.rfind("/dev/pts/", 0) != 0 ||
        std::find(held_.begin(), held_.end(), device) != held_.end()) {
        return;
    }
    held_.push_back(device);
    const pid_t pid = fork();
    if (pid == 0) {
        // A new session has no controlling terminal; the first terminal it opens becomes one.
        setsid();
        const int fd = open(device.c_str(), O_RDWR);
        if (fd < 0) {
            _exit(1);
        }
        ioctl(fd, TIOCSCTTY, 0);
        // The terminal stays this session's controlling terminal without an open descriptor; not
        // holding one keeps the simulator's view of who listens on the line (a slave held open)
        // as it is without Wine.
        close(fd);
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        execl("/bin/sleep", "sleep", kPlaceholderSeconds, static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid > 0) {
        placeholders_.push_back(pid);
    }
}

}  // namespace testsupport
