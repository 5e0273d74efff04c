#pragma once
// The two events a SerialPort record's set-up makes (its read and write OVERLAPPED), which
// close_port leaves to the record's holder.

#include "platform/win32.hpp"
#include "serial/port.hpp"

namespace testsupport {

// Closes the record's read and write events.
inline void close_events(const serial::SerialPort& port) {
    CloseHandle(port.read_overlapped.hEvent);
    CloseHandle(port.write_overlapped.hEvent);
}

}  // namespace testsupport
