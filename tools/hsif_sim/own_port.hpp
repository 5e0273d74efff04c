#pragma once
// The laser control port on the library's own descriptor (HSIF_SIM_OWN_PORT=1), as a Linux
// interface library runs it: open(), termios and read()/write() of its own, the descriptor stored
// in the port record for the program to close. A Windows build has no such way and refuses it.

#include <cstdint>

#include "platform/win32.hpp"

namespace hsif_sim::own_port {

// Opens the device at `path` for reading and writing, raw (no echo, no translation, no flow
// control of any kind), `baud` 8N1, with both queues purged. Returns the descriptor as a HANDLE,
// or INVALID_HANDLE_VALUE when the device cannot be opened or refuses the settings (then nothing
// stays open). A Windows build always refuses, with a message on stderr.
HANDLE open(const char* path, uint32_t baud);

// Reads what is waiting, at most `length` bytes, without waiting. Returns the count (0: nothing
// waiting), or -1 when the device failed (it hung up).
int32_t read_waiting(HANDLE port, void* buffer, int32_t length);

// Writes the bytes, waiting up to timeout_ms in all for room. Returns the count written (fewer
// than `length` on time-out), or -1 when the device failed before any byte was written.
int32_t write(HANDLE port, const void* data, int32_t length, uint32_t timeout_ms);

// Discards the queues the CLEAR flags of PurgeComm name (PURGE_RXCLEAR input, PURGE_TXCLEAR
// output; the ABORT flags have nothing to abort). Returns false for other bits or when the device
// fails.
bool purge(HANDLE port, uint32_t flags);

// Closes the descriptor, both queues purged.
void close(HANDLE port);

}  // namespace hsif_sim::own_port
