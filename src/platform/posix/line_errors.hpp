#pragma once
// Line errors of serial devices: the driver's counters turned into ClearCommError's mask.

#include "platform/posix/serial_kernel.hpp"
#include "platform/win32.hpp"

namespace platform::posix {

// ClearCommError's line-error mask for the counters that grew from `before` to `after`:
// CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_BREAK, CE_RXOVER.
DWORD line_error_mask(const LineErrorCounts& before, const LineErrorCounts& after);

}  // namespace platform::posix
