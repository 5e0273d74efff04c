#pragma once
// Transfers on serial devices under the Windows COMMTIMEOUTS, waiting in poll() against
// monotonic deadlines. The descriptor must be non-blocking, so no wait happens in read() or
// write().

#include <cstdint>

#include "platform/win32.hpp"

namespace platform::posix {

// One serial read under the handle's time-outs, as Windows defines them:
//  {MAXDWORD, 0, 0}          return at once with what is waiting, maybe nothing;
//  {MAXDWORD, MAXDWORD, C}   return at once with what is waiting, else wait up to C ms for the
//                            first byte and return what has arrived;
//  {0, 0, 0}                 wait until `count` bytes have arrived;
//  otherwise                 a total time-out of multiplier * count + constant ms and an
//                            interval time-out between bytes once the first has arrived.
// A time-out is success with the bytes gathered so far (*got). Returns false with *error set (a
// Windows code) when the device failed before any byte was gathered; a device that hung up is
// ERROR_DEVICE_NOT_CONNECTED. A signal neither fails nor shortens a wait.
bool serial_read(int fd, uint8_t* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* got,
                 DWORD* error);

// Writes everything, waiting for room as long as the write time-outs allow (no limit when both
// are zero). A time-out is success with the bytes written so far (*done); false with *error set
// when the device fails.
bool serial_write(int fd, const uint8_t* data, DWORD count, const COMMTIMEOUTS& t, DWORD* done,
                  DWORD* error);

}  // namespace platform::posix
