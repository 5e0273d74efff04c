#pragma once
// The SerialPort record and its lifecycle: open a numbered COM port for overlapped input and
// output, set up its line, purge it, close it. The record's layout is shared with the laser
// interface library, which fills one in its port-open entry point; every offset is fixed.

#include <cstddef>
#include <cstdint>

#include "platform/win32.hpp"

namespace serial {

// One communications port. Plain storage owned by its holder; the operations below never
// allocate or free it. The fields run to offset 0x8C3 (2244 bytes). The offsets in the comments
// are those of the 32-bit layout; the table after the record gives the 64-bit ones beside them.
struct SerialPort {
    HANDLE handle;                // 0x000 the comm device
    DCB dcb;                      // 0x004 line settings as last read and written
    uint8_t reserved_020;         // 0x020 default 1
    uint8_t reserved_021[2003];   // 0x021 untouched
    int32_t is_open;              // 0x7F4 1 while open
    uint32_t reserved_7f8;        // 0x7F8 default 0
    uint32_t reserved_7fc;        // 0x7FC default 0
    uint32_t reserved_800;        // 0x800 untouched
    uint32_t reserved_804;        // 0x804 default 1
    uint32_t reserved_808;        // 0x808 default 1
    int32_t report_errors;        // 0x80C non-zero: transfers compose the line-error text
    uint8_t data_bits;            // 0x810 default 8
    uint8_t flow_control;         // 0x811 bit 0: CTS/DSR output flow; 0: XON/XOFF; else none
    uint8_t parity;               // 0x812 default 0
    uint8_t stop_bits;            // 0x813 default 0
    uint32_t baud_rate;           // 0x814 default 9600
    uint16_t reserved_818;        // 0x818 default 0
    uint16_t reserved_81a;        // 0x81A untouched
    uint32_t reserved_81c;        // 0x81C default 0
    uint8_t reserved_820[60];     // 0x820 untouched
    uint32_t reserved_85c;        // 0x85C default 0
    uint32_t reserved_860[8];     // 0x860 default 0
    uint8_t reserved_880[28];     // 0x880 untouched
    OVERLAPPED write_overlapped;  // 0x89C writes; hEvent at 0x8AC
    OVERLAPPED read_overlapped;   // 0x8B0 reads; hEvent at 0x8C0
};

// Where each field lies in the two layouts a library may be built with from these declarations:
// the 32-bit one (32-bit Windows, and the POSIX build, whose HANDLE is 32 bits) and the 64-bit
// Windows one, which keeps the field order with natural
// alignment (8-byte handles and OVERLAPPED fields). The width of a HANDLE decides which applies.
struct LayoutOffset {
    size_t layout32;
    size_t layout64;
};

constexpr size_t in_this_layout(LayoutOffset offset) {
    return sizeof(HANDLE) == 8 ? offset.layout64 : offset.layout32;
}

//                                                                    32-bit  64-bit
static_assert(sizeof(SerialPort) == in_this_layout({0x8C4, 0x8E0}));
static_assert(offsetof(SerialPort, handle) == in_this_layout({0x000, 0x000}));
static_assert(offsetof(SerialPort, dcb) == in_this_layout({0x004, 0x008}));
static_assert(offsetof(SerialPort, reserved_020) == in_this_layout({0x020, 0x024}));
static_assert(offsetof(SerialPort, is_open) == in_this_layout({0x7F4, 0x7F8}));
static_assert(offsetof(SerialPort, reserved_7f8) == in_this_layout({0x7F8, 0x7FC}));
static_assert(offsetof(SerialPort, reserved_800) == in_this_layout({0x800, 0x804}));
static_assert(offsetof(SerialPort, reserved_808) == in_this_layout({0x808, 0x80C}));
static_assert(offsetof(SerialPort, report_errors) == in_this_layout({0x80C, 0x810}));
static_assert(offsetof(SerialPort, data_bits) == in_this_layout({0x810, 0x814}));
static_assert(offsetof(SerialPort, flow_control) == in_this_layout({0x811, 0x815}));
static_assert(offsetof(SerialPort, parity) == in_this_layout({0x812, 0x816}));
static_assert(offsetof(SerialPort, stop_bits) == in_this_layout({0x813, 0x817}));
static_assert(offsetof(SerialPort, baud_rate) == in_this_layout({0x814, 0x818}));
static_assert(offsetof(SerialPort, reserved_818) == in_this_layout({0x818, 0x81C}));
static_assert(offsetof(SerialPort, reserved_81c) == in_this_layout({0x81C, 0x820}));
static_assert(offsetof(SerialPort, reserved_820) == in_this_layout({0x820, 0x824}));
static_assert(offsetof(SerialPort, reserved_85c) == in_this_layout({0x85C, 0x860}));
static_assert(offsetof(SerialPort, reserved_860) == in_this_layout({0x860, 0x864}));
static_assert(offsetof(SerialPort, reserved_880) == in_this_layout({0x880, 0x884}));
static_assert(offsetof(SerialPort, write_overlapped) == in_this_layout({0x89C, 0x8A0}));
static_assert(offsetof(SerialPort, read_overlapped) == in_this_layout({0x8B0, 0x8C0}));
static_assert(offsetof(SerialPort, write_overlapped) + offsetof(OVERLAPPED, hEvent) ==
              in_this_layout({0x8AC, 0x8B8}));
static_assert(offsetof(SerialPort, read_overlapped) + offsetof(OVERLAPPED, hEvent) ==
              in_this_layout({0x8C0, 0x8D8}));

// What a holder reserves for one record: 8 bytes more than the record needs (2252 bytes in the
// 32-bit layout).
constexpr size_t kSerialPortStorage = sizeof(SerialPort) + 8;

// Opens the device "COM<com_number>" (name cut to 9 characters) for overlapped input and output,
// with 4096-byte queues, both directions purged, reads that return at once, a 1000 ms write
// time-out, the line set up by configure_port and DTR raised. Returns non-zero on success (the
// SetCommState result), 0 when the device cannot be opened (handle INVALID_HANDLE_VALUE, nothing
// else changed), when its line settings are refused or when the read and write events cannot be
// made (is_open 0, handle closed, the events this open made closed and their fields 0).
int32_t open_port(SerialPort* port, uint32_t baud, int32_t com_number);

// The size of a port's device name buffer: "COM" and up to 6 digits, and a terminator.
constexpr size_t kPortNameSize = 10;

// Formats the device name "COM%d" of a port number into name, cut to kPortNameSize - 1
// characters and always terminated; no device-namespace prefix is added.
void format_port_name(char (&name)[kPortNameSize], int32_t com_number);

// Opens a named device as open_port does (open_port formats "COM%d" and calls it); the name is
// handed to CreateFileA as it is. Same results as open_port.
int32_t open_port_named(SerialPort* port, uint32_t baud, const char* device);

// Resets the record's defaults (set_port_defaults) and writes the line settings: the baud rate,
// 8 data bits, no parity, one stop bit, binary, DTR and RTS disabled, flow control as
// flow_control selects. Returns non-zero when the device accepted them.
int32_t configure_port(SerialPort* port, uint32_t baud);

// Writes the record's fields as a port open leaves them, the events aside: is_open 1, 8 data bits,
// no parity, one stop bit, no flow control, 9600 baud, the reserved defaults, the OVERLAPPED
// offsets 0. The simulated interface library's own port open writes them too (defaults.cpp is
// built into it).
void write_port_defaults(SerialPort* port);

// Writes the record's default values (write_port_defaults) and makes the read and write events
// (manual reset, not signalled). Returns 1, or -1 when an event cannot be made: the one made is
// closed again and both event fields are 0.
int32_t set_port_defaults(SerialPort* port);

// PurgeComm with the flags (PURGE_TXABORT 0x1, PURGE_RXABORT 0x2, PURGE_TXCLEAR 0x4,
// PURGE_RXCLEAR 0x8); returns its result.
int32_t purge_port(SerialPort* port, uint32_t flags);

// Releases the device of a record an open filled (this module's or the interface library's):
// is_open 0, no event mask, DTR dropped, both directions purged, handle closed. Touches nothing
// but handle's device and is_open; the events stay open. Returns 1, whatever the steps report.
int32_t close_port(SerialPort* port);

}  // namespace serial
