// The SerialPort lifecycle where no device is needed: the device name, the record's defaults and
// events, and the operations on a port that is not open. Runs natively and under Wine.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "port_events.hpp"
#include "serial/port.hpp"

namespace {

using serial::SerialPort;

constexpr uint8_t kSentinel = 0xA5;

// A record filled with a byte pattern, so every field an operation leaves alone can be seen.
std::unique_ptr<SerialPort> patterned_record() {
    auto port = std::make_unique<SerialPort>();
    std::memset(port.get(), kSentinel, sizeof(SerialPort));
    return port;
}

bool all_sentinel(const void* field, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(field);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != kSentinel) {
            return false;
        }
    }
    return true;
}

// The device name is "COM%d", cut to 9 characters and always terminated, with no prefix.
TEST(PortName, IsComAndTheNumberCutToNineCharacters) {
    struct Case {
        const char* legend;
        int32_t number;
        const char* expected;
    };
    const Case cases[] = {
        {"port 3", 3, "COM3"},
        {"port 12: no device-namespace prefix", 12, "COM12"},
        {"six digits fit whole", 123456, "COM123456"},
        {"seven digits are cut to nine characters", 1234567, "COM123456"},
        {"the largest number is cut", INT32_MAX, "COM214748"},
        {"a negative number keeps its sign", -5, "COM-5"},
        {"the smallest number is cut after the sign", INT32_MIN, "COM-21474"},
    };
    for (const Case& c : cases) {
        char name[serial::kPortNameSize];
        std::memset(name, 'x', sizeof name);
        serial::format_port_name(name, c.number);
        EXPECT_STREQ(name, c.expected) << c.legend;
    }
}

// set_port_defaults writes every default of the record and nothing else, and makes two
// manual-reset events that start not signalled; each call makes new ones, since the record's
// holder owns the ones made before.
TEST(PortDefaults, WritesEveryDefaultAndMakesTwoNewEventsEachCall) {
    auto port = patterned_record();
    EXPECT_EQ(serial::set_port_defaults(port.get()), 1);

    struct Field {
        const char* legend;
        uint64_t value;
        uint64_t expected;
    };
    const Field fields[] = {
        {"byte at 0x020", port->reserved_020, 1},
        {"is_open", static_cast<uint64_t>(port->is_open), 1},
        {"word at 0x7F8", port->reserved_7f8, 0},
        {"word at 0x7FC", port->reserved_7fc, 0},
        {"word at 0x804", port->reserved_804, 1},
        {"word at 0x808", port->reserved_808, 1},
        {"report_errors", static_cast<uint64_t>(port->report_errors), 1},
        {"data_bits", port->data_bits, 8},
        {"flow_control: neither CTS/DSR nor XON/XOFF", port->flow_control, 4},
        {"parity", port->parity, 0},
        {"stop_bits", port->stop_bits, 0},
        {"baud_rate", port->baud_rate, 9600},
        {"half-word at 0x818", port->reserved_818, 0},
        {"word at 0x81C", port->reserved_81c, 0},
        {"word at 0x85C", port->reserved_85c, 0},
        {"write Offset", port->write_overlapped.Offset, 0},
        {"write OffsetHigh", port->write_overlapped.OffsetHigh, 0},
        {"read Offset", port->read_overlapped.Offset, 0},
        {"read OffsetHigh", port->read_overlapped.OffsetHigh, 0},
    };
    for (const Field& f : fields) {
        EXPECT_EQ(f.value, f.expected) << f.legend;
    }
    for (uint32_t word : port->reserved_860) {
        EXPECT_EQ(word, 0u) << "the eight words at 0x860";
    }

    struct Untouched {
        const char* legend;
        const void* field;
        size_t size;
    };
    const Untouched untouched[] = {
        {"handle", &port->handle, sizeof port->handle},
        {"dcb", &port->dcb, sizeof port->dcb},
        {"area at 0x021", port->reserved_021, sizeof port->reserved_021},
        {"word at 0x800", &port->reserved_800, sizeof port->reserved_800},
        {"half-word at 0x81A", &port->reserved_81a, sizeof port->reserved_81a},
        {"area at 0x820", port->reserved_820, sizeof port->reserved_820},
        {"area at 0x880", port->reserved_880, sizeof port->reserved_880},
        {"write Internal", &port->write_overlapped.Internal, 4},
        {"write InternalHigh", &port->write_overlapped.InternalHigh, 4},
        {"read Internal", &port->read_overlapped.Internal, 4},
        {"read InternalHigh", &port->read_overlapped.InternalHigh, 4},
    };
    for (const Untouched& u : untouched) {
        EXPECT_TRUE(all_sentinel(u.field, u.size)) << u.legend;
    }

    const HANDLE read_event = port->read_overlapped.hEvent;
    const HANDLE write_event = port->write_overlapped.hEvent;
    ASSERT_NE(read_event, HANDLE{});
    ASSERT_NE(write_event, HANDLE{});
    EXPECT_NE(read_event, write_event);
    ASSERT_EQ(serial::set_port_defaults(port.get()), 1);
    EXPECT_NE(port->read_overlapped.hEvent, read_event) << "a second call makes new events";
    EXPECT_NE(port->write_overlapped.hEvent, write_event);
    for (HANDLE event :
         {read_event, write_event, port->read_overlapped.hEvent, port->write_overlapped.hEvent}) {
        EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "not signalled";
        EXPECT_TRUE(SetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0))
            << "manual reset: a wait leaves it signalled";
        EXPECT_TRUE(CloseHandle(event));
    }
}

// A port number with no device behind it: 0, INVALID_HANDLE_VALUE in handle, nothing else
// written and no events made. On that record the device calls fail, and close_port still
// reports 1 and only clears is_open.
TEST(OpenPort, APortThatDoesNotExistLeavesTheRecordAloneAndItsCallsFail) {
    auto port = patterned_record();
    EXPECT_EQ(serial::open_port(port.get(), 9600, 199), 0);
    EXPECT_EQ(port->handle, INVALID_HANDLE_VALUE);
    port->handle = patterned_record()->handle;
    EXPECT_TRUE(all_sentinel(port.get(), sizeof(SerialPort)));

    port->handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(serial::purge_port(port.get(), 0x0F), 0) << "purge of no device fails";
    EXPECT_EQ(serial::configure_port(port.get(), 9600), 0) << "no device takes the settings";
    testsupport::close_events(*port);
    auto before = patterned_record();
    std::memcpy(before.get(), port.get(), sizeof(SerialPort));
    EXPECT_EQ(serial::close_port(port.get()), 1);
    EXPECT_EQ(port->is_open, 0);
    before->is_open = 0;
    EXPECT_EQ(std::memcmp(before.get(), port.get(), sizeof(SerialPort)), 0)
        << "close_port writes nothing but is_open";
}

}  // namespace
