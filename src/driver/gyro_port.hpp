#pragma once
// The gyro port: opening the AHRS serial device and its line settings.

#include <cstdint>

#include "driver/settings.hpp"
#include "platform/win32.hpp"

namespace driver {

// Sets the line settings of the gyro port in a DCB read from the port: set_binary_line with the
// baud rate, 8 data bits, no parity and one stop bit.
void set_gyro_line(DCB* dcb, DWORD baud);

// Opens the gyro port and applies the queue sizes, the line settings (set_gyro_line) and the
// read time-outs (a read returns at once with what is waiting, else after the first byte or
// 5 ms). On a failure the error code is fetched first; the message is printed when report is set
// (at start-up; the reopening after a lost port stays quiet). Returns INVALID_HANDLE_VALUE on
// failure.
HANDLE open_gyro_port(const RunSettings& settings, bool report);

}  // namespace driver
