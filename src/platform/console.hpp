#pragma once
// Console keys, the program clock and the interrupt flag: the system services that have no
// single Windows call. Implemented once per platform in platform/posix/ and platform/windows/.

#include <cstdint>

namespace platform {

// Prepares standard input for key polling: on a terminal or console, keys are read one at a time
// without echo (the terminal's mode is restored at exit and on a fatal signal); on a pipe or file,
// each byte is a key. End of input is never a key. Safe to call more than once.
void console_init();

// True when a key is waiting; never blocks.
bool key_waiting();

// Returns the next key's character code without echo, or -1 when none is waiting; never blocks.
int read_key();

// Milliseconds since the program started (the first call to any function of this header, or
// process start where the platform knows it), from a monotonic clock.
uint32_t elapsed_ms();

// Installs the interrupt handler: the first Ctrl+C (SIGINT, SIGTERM, SIGQUIT, SIGHUP; on Windows
// the console control events) sets the interrupt flag; a second one ends the process at once with
// exit code 130, except while interrupts are held. On POSIX, SIGPIPE is ignored: a console that
// went away (a closed pipe) is no reason to lose the survey.
void install_interrupt_handler();

// While held (from the scanner motor's start until the motor has stopped and the laser file is
// saved), an interrupt only sets the flag and never ends the process at once; the first one
// prints "stopping the scanner and saving, please wait" on standard error.
void hold_interrupts(bool hold);

// True once an interrupt has been requested.
bool interrupted();

// The exit code of a run that an interrupt ended (128 + SIGINT, as shells report it), whichever
// phase it ended in.
constexpr int kExitInterrupted = 130;

// Sets or clears the interrupt flag by hand (for tests).
void set_interrupted(bool value);

}  // namespace platform
