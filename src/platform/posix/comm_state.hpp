#pragma once
// Line settings of serial devices: the DCB mapped onto termios, and the raw mode every serial
// handle starts in.

#include "platform/win32.hpp"

namespace platform::posix {

// Puts a terminal device into raw mode (every byte value passes untouched, no echo, no
// translation, receiver on, modem control lines ignored, reads never block) and returns the DCB
// that describes its settings then. Returns false with errno set when the device refuses.
bool make_raw(int fd, DCB* dcb);

}  // namespace platform::posix
