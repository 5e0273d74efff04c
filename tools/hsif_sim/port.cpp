// The laser control port's entry points, over the Windows serial calls: kernel32 on Windows,
// the program's own POSIX layer on Linux (resolved from the program when the library loads);
// or, with HSIF_SIM_OWN_PORT=1, on the library's own descriptor (own_port.hpp).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "entry_points.hpp"
#include "own_port.hpp"
#include "platform/win32.hpp"
#include "simulator.hpp"

using hsif_sim::Call;
using hsif_sim::Text;

namespace {

constexpr DWORD kQueueBytes = 4096;
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// How long a timed read sleeps between polls of an empty line.
constexpr auto kPollInterval = std::chrono::milliseconds(2);

bool usable(const SerialPort* port) {
    return port != nullptr && port->is_open != 0;
}

// True when the controls in effect put the port on the library's own descriptor.
bool own_port() {
    return hsif_sim::simulator().config.own_port;
}

// "COMn", or "\\.\COMn" from 10 on, which Windows needs there; HSIF_SIM_PORT overrides both.
std::string device_name(int32_t port_number) {
    const std::string& path = hsif_sim::simulator().config.port_path;
    if (!path.empty()) {
        return path;
    }
    char name[32];
    std::snprintf(name, sizeof name, port_number < 10 ? "COM%d" : "\\\\.\\COM%d", port_number);
    return name;
}

// The record's settings as a port open leaves them, baud rate as given. The port is opened for
// plain (not overlapped) transfers, so the blocks carry no event.
void write_defaults(SerialPort* port, uint32_t baud) {
    serial::write_port_defaults(port);
    port->baud_rate = baud;
    port->write_overlapped = OVERLAPPED{};
    port->read_overlapped = OVERLAPPED{};
}

// 8 data bits, no parity, one stop bit, binary, no flow control, DTR and RTS raised.
void set_line(DCB* dcb, uint32_t baud) {
    dcb->BaudRate = baud;
    dcb->fBinary = 1;
    dcb->fParity = 0;
    dcb->fOutxCtsFlow = 0;
    dcb->fOutxDsrFlow = 0;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fDsrSensitivity = 0;
    dcb->fTXContinueOnXoff = 0;
    dcb->fOutX = 0;
    dcb->fInX = 0;
    dcb->fErrorChar = 0;
    dcb->fNull = 0;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->fAbortOnError = 0;
    dcb->XonLim = 10;
    dcb->XoffLim = 10;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    dcb->XonChar = 0x11;
    dcb->XoffChar = 0x13;
}

// Reads what is waiting, at most `length` bytes, without waiting. Returns the count, or -1
// when the device fails (it vanished).
int32_t read_waiting(SerialPort* port, void* buffer, int32_t length) {
    if (own_port()) {
        return hsif_sim::own_port::read_waiting(port->handle, buffer, length);
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port->handle, &errors, &status) == FALSE) {
        return -1;
    }
    const DWORD wanted = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(length));
    if (wanted == 0) {
        return 0;
    }
    DWORD got = 0;
    if (ReadFile(port->handle, buffer, wanted, &got, nullptr) == FALSE) {
        return -1;
    }
    return static_cast<int32_t>(got);
}

// Writes the bytes, waiting up to the write time-out for room. Returns the count written, or
// -1 when the device failed.
int32_t write_port(SerialPort* port, const void* data, int32_t length) {
    if (own_port()) {
        return hsif_sim::own_port::write(port->handle, data, length, kWriteTimeoutMs);
    }
    DWORD written = 0;
    if (WriteFile(port->handle, data, static_cast<DWORD>(length), &written, nullptr) == FALSE) {
        return -1;
    }
    return static_cast<int32_t>(written);
}

// Writes all bytes; true when every one was taken.
bool write_all(SerialPort* port, const void* data, int32_t length) {
    return write_port(port, data, length) == length;
}

// Discards what PurgeComm's flags name; false when the flags or the device are refused.
bool purge(SerialPort* port, uint32_t flags) {
    if (own_port()) {
        return hsif_sim::own_port::purge(port->handle, flags);
    }
    return PurgeComm(port->handle, flags) != FALSE;
}

// Opens the device as a Linux library does by itself: the record gets the descriptor, the line
// settings it was given and the defaults of a port open.
int32_t open_own_port(SerialPort* port, const std::string& name, uint32_t baud) {
    port->handle = hsif_sim::own_port::open(name.c_str(), baud);
    if (port->handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    write_defaults(port, baud);
    port->dcb = DCB{};
    port->dcb.DCBlength = sizeof(DCB);
    set_line(&port->dcb, baud);
    return 1;
}

}  // namespace

extern "C" {

int32_t HSIF_CALL HsifOpenPort(SerialPort* port, int32_t baud, int32_t port_number) {
    Call call("HsifOpenPort", port, baud, port_number);
    if (call.injected() || port == nullptr || baud <= 0) {
        return call.finish(0);
    }
    if (hsif_sim::refused()) {
        port->handle = INVALID_HANDLE_VALUE;
        return call.finish(0);
    }
    const std::string name = device_name(port_number);
    const auto rate = static_cast<uint32_t>(baud);
    if (own_port()) {
        return call.finish(open_own_port(port, name, rate));
    }
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, HANDLE{});
    port->handle = handle;
    if (handle == INVALID_HANDLE_VALUE) {
        return call.finish(0);
    }
    (void)SetupComm(handle, kQueueBytes, kQueueBytes);
    // Reads return at once with what has arrived; the timed reads below poll.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, kWriteTimeoutMs};
    (void)SetCommTimeouts(handle, &timeouts);
    write_defaults(port, rate);
    (void)GetCommState(handle, &port->dcb);
    set_line(&port->dcb, rate);
    if (SetCommState(handle, &port->dcb) == FALSE) {
        port->is_open = 0;
        (void)CloseHandle(handle);
        return call.finish(0);
    }
    (void)PurgeComm(handle, kPurgeAll);
    return call.finish(1);
}

int32_t HSIF_CALL HsifReadPort(SerialPort* port, char* buffer, int32_t length) {
    Call call("HsifReadPort", port, buffer, length);
    if (call.injected() || !usable(port) || buffer == nullptr || length < 0) {
        return call.finish(-1);
    }
    return call.finish(read_waiting(port, buffer, length));
}

int32_t HSIF_CALL HsifWritePort(SerialPort* port, const char* data, int32_t length) {
    Call call("HsifWritePort", port, data, length);
    if (call.injected() || !usable(port) || data == nullptr || length < 0) {
        return call.finish(-1);
    }
    return call.finish(write_port(port, data, length));
}

int32_t HSIF_CALL HsifClosePort(SerialPort* port) {
    Call call("HsifClosePort", port);
    if (call.injected() || !usable(port)) {
        return call.finish(0);
    }
    port->is_open = 0;
    if (own_port()) {
        hsif_sim::own_port::close(port->handle);
    } else {
        (void)PurgeComm(port->handle, kPurgeAll);
        (void)CloseHandle(port->handle);
    }
    return call.finish(1);
}

int32_t HSIF_CALL HsifPurgePort(SerialPort* port, int32_t flags) {
    Call call("HsifPurgePort", port, flags);
    if (call.injected() || !usable(port)) {
        return call.finish(0);
    }
    return call.finish(purge(port, static_cast<uint32_t>(flags)) ? 1 : 0);
}

int32_t HSIF_CALL HsifSendStr(SerialPort* port, const char* text) {
    Call call("HsifSendStr", port, Text{text});
    if (call.injected() || !usable(port) || text == nullptr) {
        return call.finish(0);
    }
    return call.finish(write_all(port, text, static_cast<int32_t>(std::strlen(text))) ? 1 : 0);
}

int32_t HSIF_CALL HsifSendBinary(SerialPort* port, const uint8_t* data, int32_t length) {
    Call call("HsifSendBinary", port, data, length);
    if (call.injected() || !usable(port) || data == nullptr || length < 0) {
        return call.finish(0);
    }
    return call.finish(write_all(port, data, length) ? 1 : 0);
}

int32_t HSIF_CALL HsifAsciiRead(SerialPort* port, char* buffer, int32_t length) {
    Call call("HsifAsciiRead", port, buffer, length);
    if (call.injected() || !usable(port) || buffer == nullptr || length < 1) {
        return call.finish(-1);
    }
    const int32_t got = read_waiting(port, buffer, length - 1);
    buffer[std::max(got, 0)] = '\0';
    return call.finish(got);
}

int32_t HSIF_CALL HsifAsciiReadLine(SerialPort* port, char* buffer, int32_t length,
                                    int32_t timeout_ms) {
    Call call("HsifAsciiReadLine", port, buffer, length, timeout_ms);
    if (call.injected() || !usable(port) || buffer == nullptr || length < 1) {
        return call.finish(-1);
    }
    const auto deadline = hsif_sim::Clock::now() + std::chrono::milliseconds(timeout_ms);
    int32_t stored = 0;
    buffer[0] = '\0';
    for (;;) {
        char byte = 0;
        const int32_t got = read_waiting(port, &byte, 1);
        if (got < 0) {
            return call.finish(-1);
        }
        if (got == 0) {
            if (hsif_sim::Clock::now() >= deadline) {
                return call.finish(-1);
            }
            std::this_thread::sleep_for(kPollInterval);
            continue;
        }
        if (byte == '\n') {
            return call.finish(stored);
        }
        // A line may end in "\r\n"; a full buffer keeps the first length - 1 characters.
        if (byte != '\r' && stored < length - 1) {
            buffer[stored++] = byte;
            buffer[stored] = '\0';
        }
    }
}

int32_t HSIF_CALL HsifBinaryReadBytes(SerialPort* port, uint8_t* buffer, int32_t length,
                                      int32_t timeout_ms) {
    Call call("HsifBinaryReadBytes", port, buffer, length, timeout_ms);
    if (call.injected() || !usable(port) || buffer == nullptr || length < 0) {
        return call.finish(-1);
    }
    const auto deadline = hsif_sim::Clock::now() + std::chrono::milliseconds(timeout_ms);
    int32_t total = 0;
    while (total < length) {
        const int32_t got = read_waiting(port, buffer + total, length - total);
        if (got < 0) {
            return call.finish(total > 0 ? total : -1);
        }
        total += got;
        if (got == 0) {
            if (hsif_sim::Clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }
    return call.finish(total);
}

}  // extern "C"
