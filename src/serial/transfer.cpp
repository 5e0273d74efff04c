// Transfers on an open SerialPort: polled reads, the overlapped write and its senders, and the
// line-error text.

#include "serial/transfer.hpp"

#include "format/bounded.hpp"

#include <cstdio>
#include <cstring>

namespace serial {

SerialPort default_port{};

namespace {

// An empty poll sleeps this long; the idle timeouts count in these steps.
constexpr DWORD kEmptyPollMs = 10;
// A whole read gives up on the empty poll after this many in a row (the 602nd): about 6 s.
constexpr int32_t kWholeReadEmptyPolls = 600;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kCarriageReturn = 0x0D;

// The last line-error text a transfer composed, kept for last_line_error().
char last_text[kLineErrorTextSize] = "";

// Composes the line-error text of a transfer and keeps it as the last one.
void compose_line_error(uint32_t value) {
    char text[kLineErrorTextSize];
    format_line_error(value, text);
    std::memcpy(last_text, text, sizeof text);
}

// One poll: the bytes waiting in the input queue. ClearCommError also clears the port's
// line-error state; a port that cannot be polled has nothing waiting.
DWORD poll_waiting(const SerialPort* port) {
    DWORD mask = 0;
    COMSTAT stat{};
    (void)ClearCommError(port->handle, &mask, &stat);
    return stat.cbInQue;
}

// Clears the port's line-error state after a failed transfer; the errors it reported become the
// line-error text when the port reports errors.
void take_line_errors(const SerialPort* port) {
    DWORD mask = 0;
    COMSTAT stat{};
    (void)ClearCommError(port->handle, &mask, &stat);
    if (mask != 0 && port->report_errors != 0) {
        compose_line_error(mask);
    }
}

// The failure step after a read call that failed (or, in a whole read, brought fewer bytes than
// were still wanted): the result so far is 0, and the port's line errors are taken.
void failure_step(const SerialPort* port, int32_t* result) {
    *result = 0;
    take_line_errors(port);
}

// One read call of `count` bytes into `destination` with the port's read OVERLAPPED block. A
// call left pending is waited for on that block, and its bytes are counted in *got, before the
// caller uses the buffer or the block again: otherwise its bytes could land later in a buffer
// the caller has reused. Reads never ask for more than a poll found waiting, so the wait ends
// at once. Returns whether the call succeeded.
bool read_call(SerialPort* port, void* destination, DWORD count, DWORD* got) {
    *got = 0;
    if (ReadFile(port->handle, destination, count, got, &port->read_overlapped)) {
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        *got = 0;
        return false;
    }
    return GetOverlappedResult(port->handle, &port->read_overlapped, got, TRUE) != FALSE;
}

// What read_port_line and read_port_bytes share: one byte per call, an idle timeout of
// consecutive empty polls. With `line`, a line feed ends the read and carriage returns may be
// stripped.
int32_t read_bytewise(SerialPort* port, uint8_t* buffer, uint32_t length, bool line,
                      int32_t strip_cr, int32_t timeout_ms) {
    uint32_t position = 0;
    int32_t count = 0;
    int32_t idle_ms = 0;
    int32_t result = 0;
    while (position < length) {
        const DWORD waiting = poll_waiting(port);
        result = static_cast<int32_t>(waiting < length ? waiting : length);
        if (result == 0) {
            Sleep(kEmptyPollMs);
            idle_ms += static_cast<int32_t>(kEmptyPollMs);
            if (idle_ms > timeout_ms) {
                return kReadIdleTimeout;
            }
            continue;
        }
        idle_ms = 0;
        DWORD got = 0;
        const bool ok = read_call(port, buffer + position, 1, &got);
        position += got;
        count += static_cast<int32_t>(got);
        if (!ok || got != 1) {
            failure_step(port, &result);
            continue;
        }
        uint8_t& byte = buffer[position - 1];
        if (!line) {
            if (position == length) {
                return static_cast<int32_t>(position);
            }
        } else if (byte == kLineFeed) {
            byte = 0;
            return count - 1;
        } else if (byte == kCarriageReturn && strip_cr != 0) {
            // The 0 stays in the buffer; the next byte is stored behind it.
            byte = 0;
            count -= 1;
        }
    }
    // A line read whose buffer filled without a line feed (the buffer is not terminated), or a
    // byte read of length 0: the bytes stored.
    return static_cast<int32_t>(position);
}

}  // namespace

int32_t read_port(SerialPort* port, uint8_t* buffer, uint32_t length, int32_t whole) {
    uint32_t total = 0;
    int32_t result = 0;
    int32_t empty_polls = 0;
    while (total < length) {
        const DWORD waiting = poll_waiting(port);
        const uint32_t wanted = length - total;
        const uint32_t chunk = waiting < wanted ? waiting : wanted;
        result = static_cast<int32_t>(chunk);
        if (chunk == 0) {
            Sleep(kEmptyPollMs);
            if (empty_polls > kWholeReadEmptyPolls) {
                return kReadIdleTimeout;
            }
            ++empty_polls;
        } else {
            empty_polls = 0;
        }
        if (whole == 0) {
            // A partial read ends after this pass, with what it read or with 0.
            length = chunk;
        }
        if (chunk == 0) {
            continue;
        }
        DWORD got = 0;
        const bool ok = read_call(port, buffer + total, chunk, &got);
        total += got;
        if (!(ok && total == length)) {
            failure_step(port, &result);
        }
    }
    // A whole read that completes reports the length it read, however many chunks brought it.
    if (whole != 0 && length > 0) {
        return static_cast<int32_t>(length);
    }
    return result;
}

int32_t read_port_whole(SerialPort* port, uint8_t* buffer, uint32_t length) {
    return read_port(port, buffer, length, 1);
}

int32_t read_port_line(SerialPort* port, char* buffer, uint32_t length, int32_t strip_cr,
                       int32_t timeout_ms) {
    return read_bytewise(port, reinterpret_cast<uint8_t*>(buffer), length, true, strip_cr,
                         timeout_ms);
}

int32_t read_port_bytes(SerialPort* port, uint8_t* buffer, uint32_t length, int32_t timeout_ms) {
    return read_bytewise(port, buffer, length, false, 0, timeout_ms);
}

int32_t write_port(SerialPort* port, const void* data, uint32_t length) {
    DWORD written = 0;
    if (WriteFile(port->handle, data, length, &written, &port->write_overlapped)) {
        return 1;
    }
    // The system's text for the code is not fetched: nothing here shows it, and GetLastError()
    // still holds the code for a caller that wants it.
    if (GetLastError() != ERROR_IO_PENDING) {
        take_line_errors(port);
        return 0;
    }
    for (;;) {
        if (GetOverlappedResult(port->handle, &port->write_overlapped, &written, TRUE)) {
            return 1;
        }
        const DWORD completion = GetLastError();
        if (completion == ERROR_IO_INCOMPLETE) {
            continue;
        }
        compose_line_error(completion);
        take_line_errors(port);
        return 0;
    }
}

int32_t send_str(SerialPort* port, const char* text) {
    return write_port(port, text, static_cast<uint32_t>(std::strlen(text)));
}

int32_t send_binary(SerialPort* port, const uint8_t* data, int32_t length) {
    int32_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        sum += data[i];
    }
    // A length of 0 or below writes nothing: as an unsigned count it would name bytes the
    // caller does not have.
    (void)write_port(port, data, length > 0 ? static_cast<uint32_t>(length) : 0u);
    return sum;
}

int32_t send_str_default(const char* text) {
    return send_str(&default_port, text) != 0 ? 1 : 0;
}

void format_line_error(uint32_t value, char* text) {
    format::bounded(text, kLineErrorTextSize, "<CE-%u>", static_cast<unsigned>(value));
}

const char* last_line_error() {
    return last_text;
}

}  // namespace serial
