// What the gyro and GPS ports share.

#include "driver/serial_line.hpp"

namespace driver {

void set_binary_line(DCB* dcb, DWORD baud, BYTE data_bits, BYTE parity, BYTE stop_bits) {
    dcb->BaudRate = baud;
    dcb->ByteSize = data_bits;
    dcb->Parity = parity;
    dcb->StopBits = stop_bits;
    // A port an earlier program left with XON/XOFF on would swallow the bytes 0x11 and 0x13 of
    // the packets; null stripping and error replacement would change others.
    dcb->fOutX = 0;
    dcb->fInX = 0;
    dcb->fNull = 0;
    dcb->fErrorChar = 0;
    dcb->fAbortOnError = 0;
}

bool port_alive(HANDLE port) {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) != FALSE;
}

}  // namespace driver
