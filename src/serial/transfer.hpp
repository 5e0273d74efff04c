#pragma once
// Transfers on an open SerialPort: polled block, line and byte reads with idle timeouts, the
// overlapped write and its senders, and the short line-error text the transfers compose.

#include <cstddef>
#include <cstdint>

#include "serial/port.hpp"

namespace serial {

// The idle-timeout result of every read (0xFFFFFF, not 0xFFFFFFFF).
constexpr int32_t kReadIdleTimeout = 0xFFFFFF;

// "<CE-%u>" is formatted into this many characters, terminator included: a longer text is cut.
constexpr size_t kLineErrorTextSize = 10;

// A partial read (whole 0) takes what is waiting, up to length: the count read, 0 when nothing
// was waiting (after one 10 ms poll). A whole read (whole non-zero) waits for all length bytes:
// length once they are in, kReadIdleTimeout after about 6 s without a byte. Length 0 returns 0.
int32_t read_port(SerialPort* port, uint8_t* buffer, uint32_t length, int32_t whole);

// read_port with whole = 1.
int32_t read_port_whole(SerialPort* port, uint8_t* buffer, uint32_t length);

// Reads one line, a byte per call, up to length bytes: the line feed is stored as 0 and ends it;
// with strip_cr each carriage return is stored as 0 too. Returns the bytes stored before the line
// feed less the carriage returns removed; the bytes stored (length) when the buffer fills without
// a line feed (the buffer is then not terminated, and the bytes behind stay in the queue);
// kReadIdleTimeout once the line stays silent for more than timeout_ms (0 or below: at the first
// empty poll). Takes no byte past the line feed.
int32_t read_port_line(SerialPort* port, char* buffer, uint32_t length, int32_t strip_cr,
                       int32_t timeout_ms);

// Reads exactly length bytes, a byte per call: length when all are in, 0 for length 0,
// kReadIdleTimeout once the line stays silent for more than timeout_ms.
int32_t read_port_bytes(SerialPort* port, uint8_t* buffer, uint32_t length, int32_t timeout_ms);

// Writes length bytes with the port's write OVERLAPPED block, waiting for a pending write.
// Returns 1 when the write was done (also when the port's write timeout cut it short), 0 when it
// failed at once or its pending completion failed.
int32_t write_port(SerialPort* port, const void* data, uint32_t length);

// write_port of the text without its terminator.
int32_t send_str(SerialPort* port, const char* text);

// Writes the bytes with write_port and returns their sum (each taken as 0 to 255) as a signed
// 32-bit value, whatever the write reports; a length of 0 or below sums and writes nothing.
int32_t send_binary(SerialPort* port, const uint8_t* data, int32_t length);

// write_port of the text on the module's default port: 1 when that reports non-zero, else 0.
int32_t send_str_default(const char* text);

// The module's own port, zero-filled at start; usable only after an open_port on it.
extern SerialPort default_port;

// Formats "<CE-%u>" with value into text (kLineErrorTextSize characters, always terminated).
void format_line_error(uint32_t value, char* text);

// The line-error text the transfers composed last (from a line-error mask the port reported
// while report_errors was set, or from the error code of a pending write that failed); empty
// until one is composed. Nothing prints it: it is there for callers to show. Process-wide, like
// default_port.
const char* last_line_error();

}  // namespace serial
