#pragma once
// What this system's serial driver offers, decided once here: the standard rates' speed codes,
// rates outside that table (Linux's termios2), mark and space parity (CMSPAR), telling a
// pseudo-terminal, and the line-error counters.

#include <termios.h>

#if defined(__linux__)
#include <asm/ioctls.h>
#endif

#include "platform/win32.hpp"

namespace platform::posix {

// The termios flag of mark and space parity; 0 where the system has none.
#ifdef CMSPAR
constexpr tcflag_t kMarkSpaceParity = CMSPAR;
#else
constexpr tcflag_t kMarkSpaceParity = 0;
#endif

// Whether a rate outside the standard table can be set (the kernel's termios2).
#if defined(__linux__) && defined(TCGETS2) && defined(TCSETS2)
constexpr bool kHasCustomRates = true;
#else
constexpr bool kHasCustomRates = false;
#endif

// The speed code of a standard rate in *speed; false when the rate has none.
bool standard_speed(DWORD rate, speed_t* speed);

// The rate a speed code stands for, or 0 when it is none of the standard table.
DWORD standard_rate(speed_t speed);

// Sets a rate outside the standard table. Drivers round to what their clock can make; a rate
// more than 3% off is a line that cannot talk to the other end, so it is refused. False with
// errno set when refused or where kHasCustomRates is false.
bool set_custom_rate(int fd, DWORD rate);

// The rate set outside the standard table, or 0 when none can be read.
DWORD custom_rate(int fd);

// True for the slave side of a pseudo-terminal. Its driver keeps every setting except the
// character framing, which it fixes at eight bits without parity (there is no line to frame).
bool is_pseudo_terminal(int fd);

// The line-error counters a serial driver keeps (Linux: TIOCGICOUNT).
struct LineErrorCounts {
    int frame = 0;
    int overrun = 0;  // the receiver lost a character
    int parity = 0;
    int brk = 0;          // breaks received
    int buf_overrun = 0;  // the input queue overflowed
};

// Reads the driver's line-error counters into *counts; false when the driver keeps none (a
// pseudo-terminal, most USB adapters).
bool read_line_error_counts(int fd, LineErrorCounts* counts);

}  // namespace platform::posix
