// SetupComm, GetCommState/SetCommState, Get/SetCommTimeouts and Get/SetCommMask, checked against
// the Windows behaviour they stand for, with a pseudo-terminal as the device.

#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>

#include "platform/posix/handles.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

class CommState : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(opened.error(), ""); }

    DCB current() const {
        DCB dcb{};
        EXPECT_TRUE(GetCommState(port, &dcb));
        return dcb;
    }

    termios line() const {
        termios t{};
        EXPECT_EQ(tcgetattr(platform::posix::descriptor_of(port), &t), 0);
        return t;
    }

    platform_test::OpenPort opened;
    const HANDLE port = opened.get();
};

// A freshly opened port reports a binary, 8-bit line without flow control, as a Windows port
// driver would after the raw set-up, and SetupComm accepts the queue sizes the gyro phase asks for.
TEST_F(CommState, AFreshPortReportsABinaryEightBitLineAndTakesSetupComm) {
    EXPECT_TRUE(SetupComm(port, 4096, 4096));
    const DCB dcb = current();
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_NE(dcb.BaudRate, 0u);
}

// SetCommState then GetCommState gives back the same rate, and it reaches the line; a rate
// outside the standard table is set where the system can (termios2 on Linux).
TEST_F(CommState, TheRateRoundTripsAndReachesTheLine) {
    struct Case {
        const char* legend;
        DWORD rate;
        speed_t speed;  // 0: none of the table's
    };
    const Case cases[] = {
        {"250000, outside the table", 250000, 0},
        {"the default 38400", 38400, B38400},
        {"9600", 9600, B9600},
        {"115200", 115200, B115200},
        {"921600, the unit's fastest", 921600, B921600},
    };
    for (const Case& c : cases) {
        DCB dcb = current();
        dcb.BaudRate = c.rate;
        const BOOL set = SetCommState(port, &dcb);
        if (!set && c.speed == 0) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.legend << ", refused here";
            continue;
        }
        ASSERT_TRUE(set) << c.legend << ": error " << GetLastError();
        EXPECT_EQ(current().BaudRate, c.rate) << c.legend;
        if (c.speed != 0) {
            EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(line())), c.speed) << c.legend;
        }
    }
}

// Every field the caller sets comes back from GetCommState as set, including those termios has
// no place for. The rows build on each other; what termios can hold then reaches the line.
TEST_F(CommState, EveryFieldRoundTripsAndLineFieldsReachTheTerminalSettings) {
    struct Case {
        const char* legend;
        void (*change)(DCB&);
    };
    const Case cases[] = {
        {"odd parity, checked",
         [](DCB& d) {
             d.Parity = ODDPARITY;
             d.fParity = 1;
         }},
        {"even parity", [](DCB& d) { d.Parity = EVENPARITY; }},
        {"mark parity", [](DCB& d) { d.Parity = MARKPARITY; }},
        {"space parity", [](DCB& d) { d.Parity = SPACEPARITY; }},
        {"two stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }},
        {"seven data bits", [](DCB& d) { d.ByteSize = 7; }},
        {"five data bits", [](DCB& d) { d.ByteSize = 5; }},
        {"CTS flow control", [](DCB& d) { d.fOutxCtsFlow = 1; }},
        {"XON/XOFF both ways",
         [](DCB& d) {
             d.fOutX = 1;
             d.fInX = 1;
             d.XonChar = 0x01;  // not the terminal's own, to show they reach it
             d.XoffChar = 0x02;
         }},
        {"DTR and RTS off",
         [](DCB& d) {
             d.fDtrControl = DTR_CONTROL_DISABLE;
             d.fRtsControl = RTS_CONTROL_DISABLE;
         }},
        {"limits and special characters",
         [](DCB& d) {
             d.XonLim = 100;
             d.XoffLim = 200;
             d.ErrorChar = '?';
             d.EofChar = 0x1A;
             d.EvtChar = '\n';
         }},
    };
    for (const Case& c : cases) {
        DCB wanted = current();
        c.change(wanted);
        ASSERT_TRUE(SetCommState(port, &wanted)) << c.legend << ": error " << GetLastError();
        const DCB got = current();
        EXPECT_EQ(std::memcmp(&got, &wanted, sizeof wanted), 0) << c.legend;
    }
    termios t = line();
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x01);
    EXPECT_EQ(t.c_cc[VSTOP], 0x02);

    // The gyro phase's change (rate, no parity, one stop bit) turns them back only where asked.
    DCB dcb = current();
    dcb.BaudRate = 57600;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port, &dcb));
    t = line();
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB), 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u) << "flow control keeps the value read";
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
}

// Windows refuses a DCB with an impossible value with ERROR_INVALID_PARAMETER and leaves the
// port as it was.
TEST_F(CommState, InvalidValuesAreRefusedAndChangeNothing) {
    struct Case {
        const char* legend;
        void (*change)(DCB&);
    };
    const Case cases[] = {
        {"rate 0", [](DCB& d) { d.BaudRate = 0; }},
        {"byte size 4", [](DCB& d) { d.ByteSize = 4; }},
        {"byte size 9", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"one and a half stop bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
        {"DTR control 3", [](DCB& d) { d.fDtrControl = 3; }},
        {"XON equal to XOFF with XON/XOFF on",
         [](DCB& d) {
             d.fOutX = 1;
             d.XonChar = 0x11;
             d.XoffChar = 0x11;
         }},
    };
    DCB before = current();
    before.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(port, &before));
    const termios line_before = line();
    for (const Case& c : cases) {
        DCB bad = before;
        c.change(bad);
        EXPECT_EQ(platform_test::failure_of([&] { return SetCommState(port, &bad); }),
                  ERROR_INVALID_PARAMETER)
            << c.legend;
        const DCB after = current();
        EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0) << c.legend;
        const termios line_after = line();
        EXPECT_EQ(std::memcmp(&line_after, &line_before, sizeof line_before), 0) << c.legend;
    }
}

// Time-outs come back as set; Windows refuses {MAXDWORD, MAXDWORD, MAXDWORD}. The event mask is
// none at open, then what SetCommMask stored.
TEST_F(CommState, TimeoutsAndTheEventMaskRoundTrip) {
    const COMMTIMEOUTS cases[] = {
        {MAXDWORD, MAXDWORD, 5, 0, 0},
        {MAXDWORD, 0, 0, 10, 1000},
        {0, 0, 0, 0, 0},
        {50, 2, 300, 1, 5},
    };
    for (const COMMTIMEOUTS& wanted : cases) {
        COMMTIMEOUTS copy = wanted;
        ASSERT_TRUE(SetCommTimeouts(port, &copy));
        COMMTIMEOUTS got{};
        ASSERT_TRUE(GetCommTimeouts(port, &got));
        EXPECT_EQ(std::memcmp(&got, &wanted, sizeof wanted), 0)
            << wanted.ReadIntervalTimeout << "/" << wanted.ReadTotalTimeoutMultiplier << "/"
            << wanted.ReadTotalTimeoutConstant;
    }
    COMMTIMEOUTS refused{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_EQ(platform_test::failure_of([&] { return SetCommTimeouts(port, &refused); }),
              ERROR_INVALID_PARAMETER);

    DWORD mask = 0xFFFF;
    EXPECT_TRUE(GetCommMask(port, &mask));
    EXPECT_EQ(mask, 0u) << "no events at open";
    for (DWORD wanted : {EV_RXCHAR, EV_RXCHAR | EV_ERR, DWORD{0}}) {
        EXPECT_TRUE(SetCommMask(port, wanted));
        EXPECT_TRUE(GetCommMask(port, &mask));
        EXPECT_EQ(mask, wanted);
    }
}

}  // namespace
