// Console keys, the program clock and the interrupt flag on Windows.

#include "platform/console.hpp"

#include <conio.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/win32.hpp"

namespace platform {
namespace {

constexpr UINT kInterruptExitCode = 130;
// Windows ends the process this long after a close event's handler is entered; the handler
// holds the close back for less than that, so the main thread can finish the file it writes.
constexpr DWORD kCloseGraceMs = 4000;

std::atomic<int> interrupt_flag{0};
std::atomic<int> interrupts_held{0};
std::atomic<int> hold_notice_given{0};

constexpr char kHoldNotice[] = "stopping the scanner and saving, please wait\r\n";

// The notice of an interrupt while interrupts are held, written once, straight to the handle
// (the handler runs on a thread of its own).
void give_hold_notice() {
    if (hold_notice_given.exchange(1) != 0) {
        return;
    }
    DWORD written = 0;
    (void)WriteFile(GetStdHandle(STD_ERROR_HANDLE), kHoldNotice, sizeof kHoldNotice - 1, &written,
                    nullptr);
}

// Keys from a piped or redirected stdin: one reader thread blocks in ReadFile and queues the
// bytes, so polling never blocks. Allocated once and never freed: the thread may still be
// blocked in ReadFile when the process exits.
struct StdinQueue {
    std::mutex mutex;
    std::deque<unsigned char> bytes;
};

enum class InputKind { kUnknown, kConsole, kStream };

std::once_flag init_once;
InputKind input_kind = InputKind::kUnknown;
StdinQueue* queue = nullptr;

ULONGLONG now_ms() {
    return GetTickCount64();
}

const ULONGLONG& program_start() {
    static const ULONGLONG start = now_ms();
    return start;
}
[[maybe_unused]] const ULONGLONG& clock_started = program_start();

void read_stdin(HANDLE input, StdinQueue* target) {
    unsigned char chunk[256];
    for (;;) {
        DWORD got = 0;
        // End of input (0 bytes) or a failed read ends the thread: neither is a key.
        if (!ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0) {
            return;
        }
        std::lock_guard lock(target->mutex);
        target->bytes.insert(target->bytes.end(), chunk, chunk + got);
    }
}

void initialise() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    // GetConsoleMode, not _isatty: the NUL device also counts as a character device.
    if (input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)) {
        input_kind = InputKind::kConsole;
        return;
    }
    input_kind = InputKind::kStream;
    queue = new StdinQueue;
    if (input != nullptr && input != INVALID_HANDLE_VALUE) {
        std::thread(read_stdin, input, queue).detach();
    }
}

void ensure_initialised() {
    std::call_once(init_once, initialise);
}

BOOL WINAPI on_control_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (interrupts_held.load() != 0) {
                interrupt_flag.store(1);
                give_hold_notice();
            } else if (interrupt_flag.exchange(1) != 0) {
                ExitProcess(kInterruptExitCode);
            }
            if (event == CTRL_CLOSE_EVENT) {
                // Returning lets Windows end the process at once; waiting here gives the main
                // thread time to close the port and the file and exit by itself.
                Sleep(kCloseGraceMs);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void console_init() {
    ensure_initialised();
}

bool key_waiting() {
    ensure_initialised();
    if (input_kind == InputKind::kConsole) {
        return _kbhit() != 0;
    }
    std::lock_guard lock(queue->mutex);
    return !queue->bytes.empty();
}

int read_key() {
    ensure_initialised();
    if (input_kind == InputKind::kConsole) {
        return _kbhit() != 0 ? _getch() : -1;
    }
    std::lock_guard lock(queue->mutex);
    if (queue->bytes.empty()) {
        return -1;
    }
    const int key = queue->bytes.front();
    queue->bytes.pop_front();
    return key;
}

uint32_t elapsed_ms() {
    return static_cast<uint32_t>(now_ms() - program_start());
}

void install_interrupt_handler() {
    (void)SetConsoleCtrlHandler(on_control_event, TRUE);
}

void hold_interrupts(bool hold) {
    interrupts_held.store(hold ? 1 : 0);
}

bool interrupted() {
    return interrupt_flag.load() != 0;
}

void set_interrupted(bool value) {
    interrupt_flag.store(value ? 1 : 0);
}

}  // namespace platform
