#pragma once
// What the gyro and GPS ports share: the binary line both are set to, whether a port is still
// there, and how often a lost one is reopened.

#include <cstdint>

#include "platform/win32.hpp"

namespace driver {

constexpr uint32_t kReopenIntervalMs = 2000;  // a lost port is reopened this often

// Sets the line settings in a DCB read from the port: the baud rate, data bits, parity and stop
// bits given, and nothing that alters a binary stream (no software flow control in either
// direction, no null stripping, no error-character replacement, no abort on error). Hardware flow
// control and every other field keep the value read.
void set_binary_line(DCB* dcb, DWORD baud, BYTE data_bits, BYTE parity, BYTE stop_bits);

// True while the port answers a status query; a removed device fails it (some systems report a
// vanished device only as empty reads).
bool port_alive(HANDLE port);

}  // namespace driver
