// The SerialPort record's fields as a port open leaves them. A file of its own, because the
// simulated interface library builds it in for its own port open.

#include <cstring>

#include "serial/port.hpp"

namespace serial {
namespace {

// flow_control: neither CTS/DSR (bit 0) nor XON/XOFF (0).
constexpr uint8_t kNoFlowControl = 4;
constexpr uint32_t kDefaultBaud = 9600;

}  // namespace

void write_port_defaults(SerialPort* port) {
    port->reserved_020 = 1;
    port->is_open = 1;
    port->reserved_7f8 = 0;
    port->reserved_7fc = 0;
    port->reserved_804 = 1;
    port->reserved_808 = 1;
    port->report_errors = 1;
    port->data_bits = 8;
    port->flow_control = kNoFlowControl;
    port->parity = 0;
    port->stop_bits = 0;
    port->baud_rate = kDefaultBaud;
    port->reserved_818 = 0;
    port->reserved_81c = 0;
    port->reserved_85c = 0;
    std::memset(port->reserved_860, 0, sizeof port->reserved_860);
    port->write_overlapped.Offset = 0;
    port->write_overlapped.OffsetHigh = 0;
    port->read_overlapped.Offset = 0;
    port->read_overlapped.OffsetHigh = 0;
}

}  // namespace serial
