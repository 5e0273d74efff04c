// Console key polling, the program clock and the interrupt flag. Each case that changes
// process-wide state (stdin, signal handlers, the terminal) runs in a forked child.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "child.hpp"
#include "platform/console.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;
using test_support::Pty;

// Expects a child to have exited with 0 and no complaint.
void expect_passed(const ChildReport& report) {
    EXPECT_EQ(report.exit_code, 0);
    EXPECT_EQ(report.complaint, "");
}

// A poll that returns at once: well under a millisecond, 50 ms allowed for a loaded machine.
bool quick(const std::function<void()>& call) {
    Stopwatch watch;
    call();
    return watch.ms() < 50.0;
}

// Like a Windows console program reading a redirected stdin: every byte is a key, polling
// never blocks, and the end of input is never a key.
TEST(ConsoleKeys, FromAPipeEachByteIsAKeyAndEndOfInputIsNot) {
    expect_passed(in_child([] {
        int p[2];
        if (pipe(p) != 0 || dup2(p[0], STDIN_FILENO) < 0) {
            return std::string("set-up failed");
        }
        (void)!write(p[1], "q\0x", 3);
        platform::console_init();
        Checks checks;
        checks.expect(platform::key_waiting(), "a byte written to the pipe is waiting");
        checks.expect(platform::read_key() == 'q', "the keys come in order: q");
        checks.expect(platform::read_key() == 0, "a NUL byte is a key");
        checks.expect(platform::read_key() == 'x', "then x");
        checks.expect(!platform::key_waiting(), "nothing more waits while the pipe stays open");
        checks.expect(platform::read_key() == -1, "read_key gives -1 when nothing is waiting");
        checks.expect(quick([] {
                          for (int i = 0; i < 100; ++i) {
                              (void)platform::key_waiting();
                          }
                      }),
                      "polling an empty open pipe returns at once");
        close(p[1]);
        checks.expect(!platform::key_waiting(), "after the writer closes, no key is waiting");
        bool all_minus_one = true;
        checks.expect(quick([&all_minus_one] {
                          for (int i = 0; i < 1000; ++i) {
                              all_minus_one = all_minus_one && platform::read_key() == -1;
                          }
                      }) &&
                          all_minus_one,
                      "and read_key gives -1, again and again, at once");
        return checks.first();
    }));
}

TEST(ConsoleKeys, FromAFileEachByteIsAKeyUntilTheEnd) {
    expect_passed(in_child([] {
        char path[] = "/tmp/morvane-keys-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || write(fd, "ab", 2) != 2 || lseek(fd, 0, SEEK_SET) != 0 ||
            dup2(fd, STDIN_FILENO) < 0) {
            return std::string("set-up failed");
        }
        unlink(path);
        platform::console_init();
        Checks checks;
        checks.expect(platform::read_key() == 'a', "first byte");
        checks.expect(platform::read_key() == 'b', "second byte");
        checks.expect(!platform::key_waiting(), "no key at end of file");
        checks.expect(platform::read_key() == -1, "-1 at end of file");
        return checks.first();
    }));
}

// Expects the pty's slave cooked again, as the shell left it: line editing and echo on.
void expect_restored(const Pty& pty) {
    termios t{};
    const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_NE(t.c_lflag & ICANON, 0u) << "line editing restored";
    EXPECT_NE(t.c_lflag & ECHO, 0u) << "echo restored";
}

// Like _kbhit/_getch on a Windows console: a key counts without Enter and is not echoed; Ctrl+C
// still interrupts. The terminal is as it was after the program ends.
TEST(ConsoleKeys, OnATerminalKeysCountWithoutEnterAndTheModeIsRestoredAtExit) {
    Pty pty(Pty::Line::kCooked);  // as a shell leaves it
    ASSERT_TRUE(pty.ok()) << pty.error();
    const std::string path = pty.slave_path();
    const int master = pty.master_fd();
    const auto body = [&path, master] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) {
            return std::string("set-up failed");
        }
        platform::console_init();
        termios t{};
        tcgetattr(STDIN_FILENO, &t);
        Checks checks;
        checks.expect((t.c_lflag & ICANON) == 0, "line editing off");
        checks.expect((t.c_lflag & ECHO) == 0, "echo off");
        checks.expect((t.c_lflag & ISIG) != 0, "Ctrl+C still raises SIGINT");
        checks.expect(t.c_cc[VMIN] == 0 && t.c_cc[VTIME] == 0, "reads never block");
        (void)!write(master, "k", 1);
        Stopwatch watch;
        while (!platform::key_waiting() && watch.ms() < 1000) {
            Sleep(1);
        }
        checks.expect(platform::key_waiting(), "a key typed without Enter is seen within a second");
        checks.expect(platform::read_key() == 'k', "and read as itself");
        Sleep(50);
        char echoed = 0;
        checks.expect(read(master, &echoed, 1) <= 0, "it was not echoed back");
        return checks.first();
    };
    expect_passed(in_child(body, /*run_exit_handlers=*/true));  // the restore runs at exit
    expect_restored(pty);
}

TEST(ConsoleKeys, ASecondInterruptRestoresTheTerminalBeforeEnding) {
    Pty pty(Pty::Line::kCooked);  // as a shell leaves it
    ASSERT_TRUE(pty.ok()) << pty.error();
    const std::string path = pty.slave_path();
    const ChildReport report = in_child([&path] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) {
            return std::string("set-up failed");
        }
        platform::install_interrupt_handler();
        platform::console_init();
        raise(SIGINT);
        raise(SIGINT);
        return std::string("the second interrupt did not end the process");
    });
    EXPECT_EQ(report.complaint, "");
    EXPECT_EQ(report.exit_code, 130);
    expect_restored(pty);
}

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
        const ChildReport report = in_child([&c] {
            Checks checks;
            checks.expect(!platform::interrupted(), "the flag starts clear");
            platform::install_interrupt_handler();
            for (int signal_number : c.signals) {
                raise(signal_number);
            }
            checks.expect(platform::interrupted(), "the signal set the flag");
            platform::set_interrupted(false);
            checks.expect(!platform::interrupted(), "set_interrupted(false) clears it");
            return checks.first();
        });
        EXPECT_EQ(report.complaint, "") << c.legend;
        EXPECT_EQ(report.exit_code, c.exit_code) << c.legend;
    }
}

// The handler does not restart interrupted calls, so a wait can notice the flag at once.
TEST(Interrupt, ABlockingCallReturnsWhenTheSignalArrives) {
    expect_passed(in_child([] {
        platform::install_interrupt_handler();
        int p[2];
        if (pipe(p) != 0) {
            return std::string("set-up failed");
        }
        const pid_t parent = getpid();
        if (fork() == 0) {
            Sleep(50);
            kill(parent, SIGINT);
            _exit(0);
        }
        char byte = 0;
        const ssize_t n = read(p[0], &byte, 1);  // nothing is ever written
        return std::string(n < 0 && errno == EINTR && platform::interrupted() ? "" : "not ended");
    }));
}

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
