#pragma once
// Line settings of serial devices: the DCB mapped onto termios, and the raw mode every serial
// handle starts in.

#include "platform/posix/handles.hpp"
#include "platform/win32.hpp"

namespace platform::posix {

// Puts a terminal device into raw mode (every byte value passes untouched, no echo, no
// translation, receiver on, modem control lines ignored, reads never block) and returns the DCB
// that describes its settings then. Returns false with errno set when the device refuses.
bool make_raw(int fd, DCB* dcb);

// Reads the driver's line-error counters into *counts; false when the driver keeps none (a
// pseudo-terminal, most USB adapters).
bool read_line_error_counts(int fd, LineErrorCounts* counts);

// ClearCommError's line-error mask for the counters that grew from `before` to `after`:
// CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_BREAK, CE_RXOVER.
DWORD line_error_mask(const LineErrorCounts& before, const LineErrorCounts& after);

}  // namespace platform::posix
