// The SerialPort lifecycle on a pseudo-terminal: what a successful open leaves in the record and
// on the line, the failed opens, and close_port. A pseudo-terminal has no modem lines, so DTR is
// not seen here; the open and the close go on without it, as they do on Windows.

#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/handles.hpp"
#include "port_events.hpp"
#include "pty.hpp"
#include "serial/port.hpp"

namespace {

using serial::SerialPort;
using test_support::Pty;
using testsupport::close_events;

std::unique_ptr<SerialPort> patterned_record() {
    auto port = std::make_unique<SerialPort>();
    std::memset(port.get(), 0xA5, sizeof(SerialPort));
    return port;
}

DWORD bytes_waiting(HANDLE handle) {
    COMSTAT stat{};
    DWORD errors = 0;
    return ClearCommError(handle, &errors, &stat) ? stat.cbInQue : MAXDWORD;
}

// A new open of the pty's device succeeds: nothing of an earlier open holds it.
void expect_device_free(const Pty& pty) {
    auto again = patterned_record();
    EXPECT_NE(serial::open_port_named(again.get(), 9600, pty.slave_path().c_str()), 0)
        << "the device is free for the next open";
    serial::close_port(again.get());
    close_events(*again);
}

// A device that cannot be opened (missing, or held by another opener): 0, INVALID_HANDLE_VALUE
// in handle, nothing else written, no events made.
void expect_open_fails(const std::string& device) {
    auto port = patterned_record();
    auto expected = patterned_record();
    expected->handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(serial::open_port_named(port.get(), 9600, device.c_str()), 0) << device;
    EXPECT_EQ(port->handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::memcmp(expected.get(), port.get(), sizeof(SerialPort)), 0)
        << "is_open and the events untouched";
}

// After a successful open at each rate: the input queue purged of what came before it; the
// record's state, the line at the rate with 8 data bits, no parity, one stop bit and no flow
// control, the event mask and the time-outs; bytes pass both ways through the record's overlapped
// blocks; no other open gets the device. Then close_port: 1, is_open 0, the handle closed and the
// device free again; every other field, the events included, as it was.
TEST(OpenPortNamed, SetsUpTheLineCarriesDataAndClosePortEndsIt) {
    struct Case {
        const char* legend;
        uint32_t baud;
        speed_t speed;
    };
    const Case cases[] = {
        {"the laser control port's rate", 9600, B9600},
        {"a faster rate", 38400, B38400},
        {"the fastest common rate", 115200, B115200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Pty pty;
        ASSERT_TRUE(pty.ok()) << pty.error();
        ASSERT_TRUE(pty.write("stale", 5));
        auto port = patterned_record();
        ASSERT_NE(serial::open_port_named(port.get(), c.baud, pty.slave_path().c_str()), 0)
            << GetLastError();
        EXPECT_EQ(bytes_waiting(port->handle), 0u) << "what came before the open was purged";
        EXPECT_EQ(port->is_open, 1);
        EXPECT_EQ(port->report_errors, 1);
        EXPECT_EQ(port->flow_control, 4);
        EXPECT_EQ(port->baud_rate, 9600u) << "the default, not the line's rate";

        DCB dcb{};
        ASSERT_TRUE(GetCommState(port->handle, &dcb));
        EXPECT_EQ(dcb.BaudRate, c.baud);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
        EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
        EXPECT_EQ(dcb.fOutX, 0u);
        EXPECT_EQ(dcb.fInX, 0u);
        EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
        EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_DISABLE);
        EXPECT_EQ(dcb.XonChar, 0x11);
        EXPECT_EQ(dcb.XoffChar, 0x13);
        EXPECT_EQ(std::memcmp(&dcb, &port->dcb, sizeof dcb), 0)
            << "the record holds the settings written";

        // What the device itself runs with.
        termios t{};
        ASSERT_EQ(tcgetattr(platform::posix::descriptor_of(port->handle), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(t.c_cflag & (CRTSCTS | CSTOPB | PARENB), 0u);

        DWORD mask = 0;
        EXPECT_TRUE(GetCommMask(port->handle, &mask));
        EXPECT_EQ(mask, EV_RXCHAR);
        COMMTIMEOUTS timeouts{};
        EXPECT_TRUE(GetCommTimeouts(port->handle, &timeouts));
        EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
        EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
        EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);

        EXPECT_NE(port->read_overlapped.hEvent, 0u);
        EXPECT_NE(port->write_overlapped.hEvent, 0u);
        EXPECT_EQ(WaitForSingleObject(port->read_overlapped.hEvent, 0), WAIT_TIMEOUT);
        EXPECT_EQ(WaitForSingleObject(port->write_overlapped.hEvent, 0), WAIT_TIMEOUT);

        DWORD count = 0;
        EXPECT_TRUE(WriteFile(port->handle, "I", 1, &count, &port->write_overlapped));
        const auto sent = pty.read(1);
        EXPECT_EQ(std::string(sent.begin(), sent.end()), "I");
        ASSERT_TRUE(pty.write("ok", 2));
        std::string seen;
        for (int tries = 0; tries < 200 && seen.size() < 2; ++tries) {
            char buffer[4] = {};
            // Reads return at once with what has arrived.
            ASSERT_TRUE(
                ReadFile(port->handle, buffer, sizeof buffer, &count, &port->read_overlapped));
            seen.append(buffer, count);
            Sleep(5);
        }
        EXPECT_EQ(seen, "ok");
        // The transfers signal the events; the close must find them as the open left them.
        ASSERT_TRUE(ResetEvent(port->read_overlapped.hEvent));
        ASSERT_TRUE(ResetEvent(port->write_overlapped.hEvent));

        expect_open_fails(pty.slave_path());  // the device this open holds
        const HANDLE handle = port->handle;
        auto before = std::make_unique<SerialPort>();
        std::memcpy(before.get(), port.get(), sizeof(SerialPort));
        EXPECT_EQ(serial::close_port(port.get()), 1);
        EXPECT_EQ(port->is_open, 0);
        before->is_open = 0;
        EXPECT_EQ(std::memcmp(before.get(), port.get(), sizeof(SerialPort)), 0)
            << "only is_open changed";
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(handle)) << "the handle is closed already";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(port->read_overlapped.hEvent, 0), WAIT_TIMEOUT)
            << "the read event is left open";
        EXPECT_EQ(WaitForSingleObject(port->write_overlapped.hEvent, 0), WAIT_TIMEOUT)
            << "the write event is left open";
        expect_device_free(pty);
        close_events(*port);
    }
}

TEST(OpenPortNamed, ADeviceThatCannotBeOpenedLeavesTheRecordAlone) {
    expect_open_fails("/dev/ttyMORVANE-NONE");
}

// Line settings the device refuses (a rate of 0): 0, is_open 0, the handle closed and the
// events of this open closed again, so the device is free and nothing is left behind.
TEST(OpenPortNamed, RefusedLineSettingsCloseWhatTheOpenMade) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto port = patterned_record();
    EXPECT_EQ(serial::open_port_named(port.get(), 0, pty.slave_path().c_str()), 0);
    EXPECT_EQ(port->is_open, 0);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(port->handle)) << "the handle is closed";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(port->read_overlapped.hEvent, 0u);
    EXPECT_EQ(port->write_overlapped.hEvent, 0u);
    expect_device_free(pty);
}

// purge_port hands its flags to PurgeComm: the CLEAR flags empty the input queue.
TEST(PurgePort, PassesItsFlagsThrough) {
    struct Case {
        const char* legend;
        uint32_t flags;
        DWORD left;  // of the 3 bytes waiting
    };
    const Case cases[] = {
        {"abort only: the bytes stay", PURGE_RXABORT | PURGE_TXABORT, 3},
        {"clear input: the bytes go", PURGE_RXCLEAR, 0},
        {"everything", 0x0F, 0},
    };
    for (const Case& c : cases) {
        Pty pty;
        ASSERT_TRUE(pty.ok()) << pty.error();
        auto port = patterned_record();
        ASSERT_NE(serial::open_port_named(port.get(), 9600, pty.slave_path().c_str()), 0);
        ASSERT_TRUE(pty.write("abc", 3));
        for (int tries = 0; tries < 400 && bytes_waiting(port->handle) < 3; ++tries) {
            Sleep(5);
        }
        ASSERT_EQ(bytes_waiting(port->handle), 3u) << c.legend;
        EXPECT_EQ(serial::purge_port(port.get(), c.flags), 1) << c.legend;
        EXPECT_EQ(bytes_waiting(port->handle), c.left) << c.legend;
        serial::close_port(port.get());
        close_events(*port);
    }
}

}  // namespace
