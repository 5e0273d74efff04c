// Console keys, the program clock and the interrupt flag on POSIX systems.

#include "platform/console.hpp"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <initializer_list>

namespace platform {
namespace {

constexpr int kInterruptExitCode = 130;

// Read by signal handlers, so plain sig_atomic_t values and a termios saved before any handler
// can see it.
volatile sig_atomic_t interrupt_flag = 0;
volatile sig_atomic_t interrupts_held = 0;
volatile sig_atomic_t hold_notice_given = 0;
volatile sig_atomic_t terminal_saved = 0;
termios saved_terminal{};

bool initialised = false;
bool end_of_input = false;
int pending_key = -1;  // a byte taken from stdin by key_waiting and not yet read

timespec now_monotonic() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

// The clock starts at the first call, and at the latest when the program loads, so a call from
// another file's static initialisation still sees a started clock.
const timespec& program_start() {
    static const timespec start = now_monotonic();
    return start;
}
[[maybe_unused]] const timespec& clock_started = program_start();

// Puts the terminal back as it was found. Async-signal-safe.
void restore_terminal() {
    if (terminal_saved != 0) {
        (void)tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    }
}

void restore_at_exit() {
    restore_terminal();
}

// A fatal signal restores the terminal and then dies of the same signal (the handler was
// installed with SA_RESETHAND, so re-raising takes the default action).
void on_fatal_signal(int signal_number) {
    restore_terminal();
    raise(signal_number);
}

constexpr char kHoldNotice[] = "stopping the scanner and saving, please wait\n";

void on_interrupt(int) {
    if (interrupts_held != 0) {
        interrupt_flag = 1;
        if (hold_notice_given == 0) {
            hold_notice_given = 1;
            const int saved = errno;
            (void)!write(STDERR_FILENO, kHoldNotice, sizeof kHoldNotice - 1);
            errno = saved;
        }
        return;
    }
    if (interrupt_flag != 0) {
        restore_terminal();
        _exit(kInterruptExitCode);
    }
    interrupt_flag = 1;
}

void install_fatal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction previous {};
        // A handler someone else installed (a sanitizer) stays in charge.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
            (void)sigaction(signal_number, &action, nullptr);
        }
    }
}

// Takes one byte from stdin into pending_key when one is waiting; remembers end of input so
// that a closed pipe is not polled again and again.
void fetch_key() {
    if (pending_key >= 0 || end_of_input) {
        return;
    }
    for (;;) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int n = poll(&p, 1, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                end_of_input = true;
            }
            return;
        }
        if ((p.revents & POLLNVAL) != 0) {
            end_of_input = true;
            return;
        }
        if ((p.revents & POLLIN) == 0) {
            end_of_input = true;  // hung up with nothing left to read
            return;
        }
        unsigned char byte = 0;
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) {
            pending_key = byte;
            return;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return;
        }
        end_of_input = true;
        return;
    }
}

}  // namespace

void console_init() {
    if (initialised) {
        return;
    }
    initialised = true;
    termios mode{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &mode) != 0) {
        return;  // a pipe or a file: each byte is a key as it stands
    }
    saved_terminal = mode;
    terminal_saved = 1;
    std::atexit(restore_at_exit);
    install_fatal_handlers();
    // Keys one at a time, without echo; ISIG stays so Ctrl+C still raises SIGINT.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
    mode.c_lflag |= ISIG;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    (void)tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

bool key_waiting() {
    fetch_key();
    return pending_key >= 0;
}

int read_key() {
    fetch_key();
    const int key = pending_key;
    pending_key = -1;
    return key;
}

uint32_t elapsed_ms() {
    const timespec now = now_monotonic();
    const timespec& start = program_start();
    const int64_t ms = (static_cast<int64_t>(now.tv_sec) - start.tv_sec) * 1000 +
                       (now.tv_nsec - start.tv_nsec) / 1000000;
    return static_cast<uint32_t>(ms);
}

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns EINTR so the program can look at the flag.
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        (void)sigaction(signal_number, &action, nullptr);
    }
    (void)signal(SIGPIPE, SIG_IGN);
}

void hold_interrupts(bool hold) {
    interrupts_held = hold ? 1 : 0;
}

bool interrupted() {
    return interrupt_flag != 0;
}

void set_interrupted(bool value) {
    interrupt_flag = value ? 1 : 0;
}

}  // namespace platform
