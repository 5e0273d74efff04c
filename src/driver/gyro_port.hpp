#pragma once
// The gyro port: opening the AHRS serial device and its line settings; whether a port is still
// there.

#include <cstdint>

#include "driver/settings.hpp"
#include "platform/win32.hpp"

namespace driver {

// Sets the line settings of the gyro port in a DCB read from the port: the baud rate, 8 data
// bits, no parity, one stop bit, and nothing that alters a binary stream (no software flow
// control in either direction, no null stripping, no error-character replacement, no abort on
// error). Hardware flow control and every other field keep the value read.
void set_gyro_line(DCB* dcb, DWORD baud);

// True while the port answers a status query; a removed device fails it (some systems report a
// vanished device only as empty reads).
bool port_alive(HANDLE port);

// Opens the gyro port and applies the queue sizes, the line settings (set_gyro_line) and the
// read time-outs (a read returns at once with what is waiting, else after the first byte or
// 5 ms). On a failure the error code is fetched first; the message is printed when report is set
// (at start-up; the reopening after a lost port stays quiet). Returns INVALID_HANDLE_VALUE on
// failure.
HANDLE open_gyro_port(const RunSettings& settings, bool report);

}  // namespace driver
