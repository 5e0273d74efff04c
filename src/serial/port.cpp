// The SerialPort lifecycle: open, line set-up, defaults, purge and close.

#include "serial/port.hpp"

#include "format/bounded.hpp"

#include <cstdio>
#include <cstring>

namespace serial {
namespace {

// Both queues, input and output, aborted and cleared.
constexpr uint32_t kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kQueueSize = 4096;
// The longest a write may take in the device.
constexpr DWORD kWriteTimeoutMs = 1000;
// flow_control's default: neither CTS/DSR (bit 0 clear) nor XON/XOFF (non-zero).

HANDLE make_event() {
    // Manual reset, not signalled, unnamed: the completion events of the OVERLAPPED blocks.
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// The results of a line set-up: SetCommState's, and set_port_defaults'.
struct LineSetup {
    int32_t line;
    int32_t defaults;
};

LineSetup set_up_line(SerialPort* port, uint32_t baud) {
    const int32_t defaults = set_port_defaults(port);
    DCB& dcb = port->dcb;
    (void)GetCommState(port->handle, &dcb);
    const bool cts_dsr = (port->flow_control & 1u) != 0;
    const bool xon_xoff = port->flow_control == 0;
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.Parity = NOPARITY;
    dcb.fOutxCtsFlow = cts_dsr;
    dcb.fOutxDsrFlow = cts_dsr;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = xon_xoff;
    dcb.fInX = xon_xoff;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 10;
    dcb.XoffLim = 10;
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;   // DC1
    dcb.XoffChar = 0x13;  // DC3
    // When the device refuses the settings, the system's text for the error would only be
    // fetched to be dropped; GetLastError() still holds the code for the caller.
    return {SetCommState(port->handle, &dcb), defaults};
}

void close_event(HANDLE* event) {
    if (*event != 0) {
        (void)CloseHandle(*event);
        *event = 0;
    }
}

}  // namespace

void format_port_name(char (&name)[kPortNameSize], int32_t com_number) {
    format::bounded(name, sizeof name, "COM%d", static_cast<int>(com_number));
}

int32_t open_port(SerialPort* port, uint32_t baud, int32_t com_number) {
    char name[kPortNameSize];
    format_port_name(name, com_number);
    return open_port_named(port, baud, name);
}

int32_t open_port_named(SerialPort* port, uint32_t baud, const char* device) {
    port->handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
    if (port->handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // These four are not checked: a device that refuses them still carries data, and the line
    // set-up below is what decides the open.
    (void)SetCommMask(port->handle, EV_RXCHAR);
    (void)SetupComm(port->handle, kQueueSize, kQueueSize);
    (void)purge_port(port, kPurgeAll);
    // Reads return at once with what has arrived; the transfers poll for it.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    (void)SetCommTimeouts(port->handle, &timeouts);

    const LineSetup setup = set_up_line(port, baud);
    if (setup.line != 0 && setup.defaults == 1) {
        port->is_open = 1;
        (void)EscapeCommFunction(port->handle, SETDTR);
        (void)purge_port(port, kPurgeAll);
        return setup.line;
    }
    // A port without its events cannot transfer: the open fails as a whole, and what it made
    // is released, so a failed open leaves nothing behind.
    port->is_open = 0;
    (void)CloseHandle(port->handle);
    close_event(&port->read_overlapped.hEvent);
    close_event(&port->write_overlapped.hEvent);
    return 0;
}

int32_t configure_port(SerialPort* port, uint32_t baud) {
    return set_up_line(port, baud).line;
}

int32_t set_port_defaults(SerialPort* port) {
    write_port_defaults(port);
    port->read_overlapped.hEvent = make_event();
    if (port->read_overlapped.hEvent == 0) {
        port->write_overlapped.hEvent = 0;
        return -1;
    }
    port->write_overlapped.hEvent = make_event();
    if (port->write_overlapped.hEvent == 0) {
        close_event(&port->read_overlapped.hEvent);
        return -1;
    }
    return 1;
}

int32_t purge_port(SerialPort* port, uint32_t flags) {
    return PurgeComm(port->handle, flags);
}

int32_t close_port(SerialPort* port) {
    port->is_open = 0;
    (void)SetCommMask(port->handle, 0);
    (void)EscapeCommFunction(port->handle, CLRDTR);
    (void)PurgeComm(port->handle, kPurgeAll);
    (void)CloseHandle(port->handle);
    return 1;
}

}  // namespace serial
