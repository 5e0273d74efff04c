#pragma once
// The SerialPort record and its lifecycle: open a numbered COM port for overlapped input and
// output, set up its line, purge it, close it. The record's layout is shared with the laser
// interface library, which fills one in its port-open entry point; every offset is fixed.

#include <cstddef>
#include <cstdint>

#include "platform/win32.hpp"

namespace serial {

// One communications port. Plain storage owned by its holder; the operations below never
// allocate or free it. The fields run to offset 0x8C3 (2244 bytes); the offsets below are those of
// the 32-bit layout, and kSerialPortLayout64 gives the 64-bit Windows ones.
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

// Where each field lies, for the two layouts a library may be built with from these
// declarations: the 32-bit one (32-bit Windows, and the POSIX build, whose HANDLE is 32 bits) and
// the 64-bit Windows one, which keeps the field order with natural alignment (8-byte handles and
// OVERLAPPED fields). The offsets in the field comments above are the 32-bit ones.
struct SerialPortLayout {
    size_t size, handle, dcb, reserved_020, is_open, reserved_7f8, reserved_800, reserved_808,
        report_errors, data_bits, flow_control, parity, stop_bits, baud_rate, reserved_818,
        reserved_81c, reserved_820, reserved_85c, reserved_860, reserved_880, write_overlapped,
        write_event, read_overlapped, read_event;
};

constexpr SerialPortLayout kSerialPortLayout32{
    .size = 0x8C4,
    .handle = 0x000,
    .dcb = 0x004,
    .reserved_020 = 0x020,
    .is_open = 0x7F4,
    .reserved_7f8 = 0x7F8,
    .reserved_800 = 0x800,
    .reserved_808 = 0x808,
    .report_errors = 0x80C,
    .data_bits = 0x810,
    .flow_control = 0x811,
    .parity = 0x812,
    .stop_bits = 0x813,
    .baud_rate = 0x814,
    .reserved_818 = 0x818,
    .reserved_81c = 0x81C,
    .reserved_820 = 0x820,
    .reserved_85c = 0x85C,
    .reserved_860 = 0x860,
    .reserved_880 = 0x880,
    .write_overlapped = 0x89C,
    .write_event = 0x8AC,
    .read_overlapped = 0x8B0,
    .read_event = 0x8C0,
};

constexpr SerialPortLayout kSerialPortLayout64{
    .size = 0x8E0,
    .handle = 0x000,
    .dcb = 0x008,
    .reserved_020 = 0x024,
    .is_open = 0x7F8,
    .reserved_7f8 = 0x7FC,
    .reserved_800 = 0x804,
    .reserved_808 = 0x80C,
    .report_errors = 0x810,
    .data_bits = 0x814,
    .flow_control = 0x815,
    .parity = 0x816,
    .stop_bits = 0x817,
    .baud_rate = 0x818,
    .reserved_818 = 0x81C,
    .reserved_81c = 0x820,
    .reserved_820 = 0x824,
    .reserved_85c = 0x860,
    .reserved_860 = 0x864,
    .reserved_880 = 0x884,
    .write_overlapped = 0x8A0,
    .write_event = 0x8B8,
    .read_overlapped = 0x8C0,
    .read_event = 0x8D8,
};

// The layout of this build: the width of a HANDLE decides it.
constexpr SerialPortLayout kSerialPortLayout =
    sizeof(HANDLE) == 8 ? kSerialPortLayout64 : kSerialPortLayout32;

#define MORVANE_PORT_FIELD_AT(field) \
    static_assert(offsetof(SerialPort, field) == kSerialPortLayout.field, #field)
static_assert(sizeof(SerialPort) == kSerialPortLayout.size);
MORVANE_PORT_FIELD_AT(handle);
MORVANE_PORT_FIELD_AT(dcb);
MORVANE_PORT_FIELD_AT(reserved_020);
MORVANE_PORT_FIELD_AT(is_open);
MORVANE_PORT_FIELD_AT(reserved_7f8);
MORVANE_PORT_FIELD_AT(reserved_800);
MORVANE_PORT_FIELD_AT(reserved_808);
MORVANE_PORT_FIELD_AT(report_errors);
MORVANE_PORT_FIELD_AT(data_bits);
MORVANE_PORT_FIELD_AT(flow_control);
MORVANE_PORT_FIELD_AT(parity);
MORVANE_PORT_FIELD_AT(stop_bits);
MORVANE_PORT_FIELD_AT(baud_rate);
MORVANE_PORT_FIELD_AT(reserved_818);
MORVANE_PORT_FIELD_AT(reserved_81c);
MORVANE_PORT_FIELD_AT(reserved_820);
MORVANE_PORT_FIELD_AT(reserved_85c);
MORVANE_PORT_FIELD_AT(reserved_860);
MORVANE_PORT_FIELD_AT(reserved_880);
MORVANE_PORT_FIELD_AT(write_overlapped);
MORVANE_PORT_FIELD_AT(read_overlapped);
#undef MORVANE_PORT_FIELD_AT
static_assert(offsetof(SerialPort, write_overlapped) + offsetof(OVERLAPPED, hEvent) ==
              kSerialPortLayout.write_event);
static_assert(offsetof(SerialPort, read_overlapped) + offsetof(OVERLAPPED, hEvent) ==
              kSerialPortLayout.read_event);

// What a holder reserves for one record: 8 bytes more than the record needs (2252 bytes in the
// 32-bit layout).
constexpr size_t kSerialPortStorage = kSerialPortLayout.size + 8;

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

// Writes the record's default values and makes the read and write events (manual reset, not
// signalled). Returns 1, or -1 when an event cannot be made: the one made is closed again and
// both event fields are 0.
int32_t set_port_defaults(SerialPort* port);

// PurgeComm with the flags (PURGE_TXABORT 0x1, PURGE_RXABORT 0x2, PURGE_TXCLEAR 0x4,
// PURGE_RXCLEAR 0x8); returns its result.
int32_t purge_port(SerialPort* port, uint32_t flags);

// Releases the device of a record an open filled (this module's or the interface library's):
// is_open 0, no event mask, DTR dropped, both directions purged, handle closed. Touches nothing
// but handle's device and is_open; the events stay open. Returns 1, whatever the steps report.
int32_t close_port(SerialPort* port);

}  // namespace serial
