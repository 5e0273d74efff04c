#pragma once
// Line settings of serial devices: the DCB mapped onto termios and back (GetCommState,
// SetCommState), and the line as a serial handle opened here starts with it.

#include "platform/win32.hpp"

namespace platform::posix {

// Sets up a terminal device as a Windows port is: what the DCB can express stays as the device
// was left (speed, byte size, parity, stop bits, software and hardware flow control), as a
// Windows port keeps its line settings from one open to the next; what it has no field for is
// off (echo, canonical input, signal characters, CR/NL translation, output processing, bit
// stripping); the receiver is on, modem control lines are ignored and reads never wait in the
// driver. Returns false with errno set when the device refuses.
bool prepare_line(int fd);

// Reads the DCB that describes a terminal device's settings as they are, changing nothing.
// Returns false with errno set when the descriptor is no terminal.
bool read_dcb(int fd, DCB* dcb);

}  // namespace platform::posix
