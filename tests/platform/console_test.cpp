// Console key polling, the program clock and the interrupt flag. Each case that changes
// process-wide state (stdin, signal handlers, the terminal) runs in a forked child, which
// reports the first check that failed as its exit code.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

using platform_test::Stopwatch;
using test_support::Pty;

// Runs `body` in a child process and returns its wait status. The body returns 0 when every
// check held, else the number of the first check that failed.
int in_child(const std::function<int()>& body) {
    fflush(stdout);
    fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

// Checks in a child: returns the 1-based number of the first false entry, or 0.
int first_failed(const std::vector<bool>& checks) {
    for (size_t i = 0; i < checks.size(); ++i) {
        if (!checks[i]) {
            return static_cast<int>(i + 1);
        }
    }
    return 0;
}

// A poll that returns at once: well under a millisecond, 50 ms allowed for a loaded machine.
bool quick(const std::function<void()>& call) {
    Stopwatch watch;
    call();
    return watch.ms() < 50.0;
}

// --- Keys from a pipe or a file --------------------------------------------------------------

// Like a Windows console program reading a redirected stdin: every byte is a key, polling
// never blocks, and the end of input is never a key.
TEST(ConsoleKeys, FromAPipeEachByteIsAKeyAndEndOfInputIsNot) {
    const char* legends[] = {
        "a byte written to the pipe is waiting",
        "the keys come in order: q",
        "a NUL byte is a key",
        "then x",
        "nothing more is waiting while the pipe stays open",
        "read_key gives -1 when nothing is waiting",
        "polling an empty open pipe returns at once",
        "after the writer closes, no key is waiting",
        "and read_key gives -1, again and again, at once",
    };
    const int status = in_child([] {
        int p[2];
        if (pipe(p) != 0 || dup2(p[0], STDIN_FILENO) < 0) {
            return 100;
        }
        (void)!write(p[1], "q\0x", 3);
        platform::console_init();
        std::vector<bool> checks;
        checks.push_back(platform::key_waiting());
        checks.push_back(platform::read_key() == 'q');
        checks.push_back(platform::read_key() == 0);
        checks.push_back(platform::read_key() == 'x');
        checks.push_back(!platform::key_waiting());
        checks.push_back(platform::read_key() == -1);
        checks.push_back(quick([] {
            for (int i = 0; i < 100; ++i) {
                (void)platform::key_waiting();
            }
        }));
        close(p[1]);
        checks.push_back(!platform::key_waiting());
        bool all_minus_one = true;
        checks.push_back(quick([&all_minus_one] {
                             for (int i = 0; i < 1000; ++i) {
                                 all_minus_one = all_minus_one && platform::read_key() == -1;
                             }
                         }) &&
                         all_minus_one);
        return first_failed(checks);
    });
    ASSERT_TRUE(WIFEXITED(status));
    const int failed = WEXITSTATUS(status);
    EXPECT_EQ(failed, 0) << (failed > 0 && failed <= 9 ? legends[failed - 1] : "set-up failed");
}

TEST(ConsoleKeys, FromAFileEachByteIsAKeyUntilTheEnd) {
    const char* legends[] = {"first byte", "second byte", "no key at end of file",
                             "-1 at end of file"};
    const int status = in_child([] {
        char path[] = "/tmp/morvane-keys-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || write(fd, "ab", 2) != 2 || lseek(fd, 0, SEEK_SET) != 0 ||
            dup2(fd, STDIN_FILENO) < 0) {
            return 100;
        }
        unlink(path);
        platform::console_init();
        std::vector<bool> checks;
        checks.push_back(platform::read_key() == 'a');
        checks.push_back(platform::read_key() == 'b');
        checks.push_back(!platform::key_waiting());
        checks.push_back(platform::read_key() == -1);
        return first_failed(checks);
    });
    ASSERT_TRUE(WIFEXITED(status));
    const int failed = WEXITSTATUS(status);
    EXPECT_EQ(failed, 0) << (failed > 0 && failed <= 4 ? legends[failed - 1] : "set-up failed");
}

// --- Keys from a terminal --------------------------------------------------------------------

// Makes the pty's slave a cooked terminal, as a shell leaves it.
void cook(const Pty& pty) {
    const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    t.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    close(fd);
}

termios slave_mode(const Pty& pty) {
    termios t{};
    const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    return t;
}

// Like _kbhit/_getch on a Windows console: a key counts without Enter and is not echoed; Ctrl+C
// still interrupts. The terminal is as it was after the program ends.
TEST(ConsoleKeys, OnATerminalKeysCountWithoutEnterAndTheModeIsRestoredAtExit) {
    const char* legends[] = {
        "line editing off",
        "echo off",
        "Ctrl+C still raises SIGINT",
        "reads never block",
        "a key typed without Enter is seen within a second",
        "and read as itself",
        "it was not echoed back",
    };
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    cook(pty);
    const std::string path = pty.slave_path();
    const int master = pty.master_fd();
    const int status = in_child([&path, master] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) {
            return 100;
        }
        platform::console_init();
        termios t{};
        tcgetattr(STDIN_FILENO, &t);
        std::vector<bool> checks;
        checks.push_back((t.c_lflag & ICANON) == 0);
        checks.push_back((t.c_lflag & ECHO) == 0);
        checks.push_back((t.c_lflag & ISIG) != 0);
        checks.push_back(t.c_cc[VMIN] == 0 && t.c_cc[VTIME] == 0);
        (void)!write(master, "k", 1);
        Stopwatch watch;
        while (!platform::key_waiting() && watch.ms() < 1000) {
            Sleep(1);
        }
        checks.push_back(platform::key_waiting());
        checks.push_back(platform::read_key() == 'k');
        Sleep(50);
        char echoed = 0;
        checks.push_back(read(master, &echoed, 1) <= 0);
        const int failed = first_failed(checks);
        std::exit(failed);  // exit(), not _exit(): the restore runs at exit
    });
    ASSERT_TRUE(WIFEXITED(status));
    const int failed = WEXITSTATUS(status);
    EXPECT_EQ(failed, 0) << (failed > 0 && failed <= 7 ? legends[failed - 1] : "set-up failed");
    const termios after = slave_mode(pty);
    EXPECT_NE(after.c_lflag & ICANON, 0u) << "line editing restored at exit";
    EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo restored at exit";
}

TEST(ConsoleKeys, ASecondInterruptRestoresTheTerminalBeforeEnding) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    cook(pty);
    const std::string path = pty.slave_path();
    const int status = in_child([&path] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) {
            return 100;
        }
        platform::install_interrupt_handler();
        platform::console_init();
        raise(SIGINT);
        raise(SIGINT);
        return 101;  // not reached
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const termios after = slave_mode(pty);
    EXPECT_NE(after.c_lflag & ICANON, 0u) << "line editing restored";
    EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo restored";
}

// --- The interrupt flag ----------------------------------------------------------------------

// Like the Windows console control handler: the first Ctrl+C (or termination request) only
// sets the flag and the program goes on to end cleanly; a second ends it at once with 130.
TEST(Interrupt, TheFirstSignalSetsTheFlagAndASecondEndsTheProcess) {
    struct Case {
        const char* legend;
        std::vector<int> signals;
        int exit_code;  // 0: went on with the flag set; 130: ended by the handler
    };
    const Case cases[] = {
        {"one Ctrl+C sets the flag", {SIGINT}, 0},
        {"one SIGTERM sets the flag", {SIGTERM}, 0},
        {"one SIGHUP (terminal closed) sets the flag", {SIGHUP}, 0},
        {"two Ctrl+C end the process with 130", {SIGINT, SIGINT}, 130},
        {"Ctrl+C then SIGTERM end it too", {SIGINT, SIGTERM}, 130},
    };
    for (const Case& c : cases) {
        const int status = in_child([&c] {
            if (platform::interrupted()) {
                return 1;  // the flag starts clear
            }
            platform::install_interrupt_handler();
            for (int signal_number : c.signals) {
                raise(signal_number);
            }
            if (!platform::interrupted()) {
                return 2;
            }
            platform::set_interrupted(false);
            return platform::interrupted() ? 3 : 0;
        });
        ASSERT_TRUE(WIFEXITED(status)) << c.legend;
        EXPECT_EQ(WEXITSTATUS(status), c.exit_code) << c.legend;
    }
}

// The handler does not restart interrupted calls, so a wait can notice the flag at once.
TEST(Interrupt, ABlockingCallReturnsWhenTheSignalArrives) {
    const int status = in_child([] {
        platform::install_interrupt_handler();
        int p[2];
        if (pipe(p) != 0) {
            return 100;
        }
        const pid_t parent = getpid();
        if (fork() == 0) {
            Sleep(50);
            kill(parent, SIGINT);
            _exit(0);
        }
        char byte = 0;
        const ssize_t n = read(p[0], &byte, 1);  // nothing is ever written
        return n < 0 && errno == EINTR && platform::interrupted() ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- The program clock -----------------------------------------------------------------------

// Like GetTickCount since start: milliseconds that never go back and advance with Sleep.
TEST(Clock, ElapsedMillisecondsAreMonotonicAndAdvanceWithSleep) {
    uint32_t previous = platform::elapsed_ms();
    for (int i = 0; i < 10000; ++i) {
        const uint32_t now = platform::elapsed_ms();
        ASSERT_GE(now, previous);
        previous = now;
    }
    struct Case {
        const char* legend;
        DWORD sleep_ms;
    };
    const Case cases[] = {{"Sleep(20)", 20}, {"Sleep(100)", 100}};
    for (const Case& c : cases) {
        const uint32_t before = platform::elapsed_ms();
        Sleep(c.sleep_ms);
        const uint32_t advanced = platform::elapsed_ms() - before;
        EXPECT_GE(advanced, c.sleep_ms - 1) << c.legend;
        EXPECT_LT(advanced, c.sleep_ms + 1000) << c.legend;
    }
}

}  // namespace
