// CreateFileA and CloseHandle for serial devices, checked against the Windows behaviour they
// stand for, with pseudo-terminals as devices.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/handles.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;
using test_support::Pty;

// A port that another program holds fails to open with ERROR_ACCESS_DENIED on Windows: here a
// port held in this process or by another; closing it, or the holder's exit, releases it.
TEST(OpenPort, APortHeldInThisOrAnotherProcessIsAccessDenied) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    HANDLE first = open_port(pty.slave_path());
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << GetLastError();
    SetLastError(0);
    EXPECT_EQ(open_port(pty.slave_path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(first));

    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE held = open_port(pty.slave_path());
        const char status = held == INVALID_HANDLE_VALUE ? 'n' : 'y';
        (void)!write(ready[1], &status, 1);
        char ignored = 0;
        (void)!read(release[0], &ignored, 1);  // hold the port until the parent is done
        _exit(0);
    }
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    ASSERT_EQ(status, 'y') << "the child could not open the port";
    SetLastError(0);
    EXPECT_EQ(open_port(pty.slave_path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    (void)!write(release[1], "x", 1);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
    // The child's exit closed its handle: the port opens again.
    EXPECT_NE(OwnedHandle(open_port(pty.slave_path())).get(), INVALID_HANDLE_VALUE)
        << GetLastError();
}

// A port name with no device behind it fails with ERROR_FILE_NOT_FOUND, as on Windows.
TEST(OpenPort, AMissingDeviceIsFileNotFound) {
    struct Case {
        const char* legend;
        const char* name;
    };
    const Case cases[] = {
        {"a device path that does not exist", "/dev/ttyMORVANE-NONE"},
        {"a COM name past every serial device", "COM4000"},
        {"the same behind the \\\\.\\ prefix", "\\\\.\\COM4000"},
        {"COM0 names no device", "COM0"},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(open_port(c.name), INVALID_HANDLE_VALUE) << c.legend;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << c.legend;
    }
}

// A Windows port keeps its line settings from one open to the next: a port left cooked opens
// with what a DCB expresses as it was left (GetCommState reports it) and with everything a DCB
// has no field for off (echo, line editing, signal characters, CR/NL translation, output
// processing); its time-outs start all zero. The handle is the descriptor of the device.
TEST(OpenPort, APortKeepsWhatTheDcbExpressesAndNothingElse) {
    struct Case {
        const char* legend;
        tcflag_t iflag_on = 0;
        tcflag_t iflag_off = 0;
        tcflag_t cflag_on = 0;
        DWORD out_x = 0;  // the DCB fields reported
        DWORD in_x = 0;
        DWORD cts_flow = 0;
        DWORD rts_control = RTS_CONTROL_ENABLE;
        BYTE stop_bits = ONESTOPBIT;
    };
    const Case cases[] = {
        {.legend = "a fresh pseudo-terminal: XON/XOFF on output", .out_x = 1},
        {.legend = "XON/XOFF both ways", .iflag_on = IXOFF, .out_x = 1, .in_x = 1},
        {.legend = "RTS/CTS and two stop bits, no XON/XOFF",
         .iflag_off = IXON,
         .cflag_on = CRTSCTS | CSTOPB,
         .cts_flow = 1,
         .rts_control = RTS_CONTROL_HANDSHAKE,
         .stop_bits = TWOSTOPBITS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Pty pty(Pty::Line::kCooked);
        ASSERT_TRUE(pty.ok()) << pty.error();
        {
            // The device as an earlier program left it.
            const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(fd, 0);
            termios left{};
            EXPECT_EQ(tcgetattr(fd, &left), 0);
            left.c_iflag = (left.c_iflag | c.iflag_on) & ~c.iflag_off;
            left.c_cflag |= c.cflag_on;
            EXPECT_EQ(tcsetattr(fd, TCSANOW, &left), 0);
            close(fd);
        }
        const OwnedHandle port(open_port(pty.slave_path()));
        ASSERT_NE(port.get(), INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(platform::posix::descriptor_of(port.get()), static_cast<int>(port.get()));

        DCB dcb{};
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        EXPECT_EQ(dcb.fOutX, c.out_x);
        EXPECT_EQ(dcb.fInX, c.in_x);
        EXPECT_EQ(dcb.fOutxCtsFlow, c.cts_flow);
        EXPECT_EQ(dcb.fRtsControl, c.rts_control);
        EXPECT_EQ(dcb.StopBits, c.stop_bits);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.BaudRate, 38400u) << "a pseudo-terminal starts at 38400 baud";

        termios t{};
        ASSERT_EQ(tcgetattr(static_cast<int>(port.get()), &t), 0);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & IXON, c.out_x != 0 ? IXON : 0u);
        EXPECT_EQ(t.c_cc[VMIN], 1) << "an empty line reads as EAGAIN, a hung-up one as 0 bytes";
        EXPECT_EQ(t.c_cc[VTIME], 0);

        COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
        EXPECT_TRUE(GetCommTimeouts(port.get(), &timeouts));
        const COMMTIMEOUTS zero{};
        EXPECT_EQ(std::memcmp(&timeouts, &zero, sizeof zero), 0);
    }
}

// Handles are never 0 nor INVALID_HANDLE_VALUE, two open ports get different handles, and each
// is the descriptor of its device.
TEST(OpenPort, HandlesAreDistinctDescriptors) {
    Pty a;
    Pty b;
    ASSERT_TRUE(a.ok() && b.ok());
    const OwnedHandle first(open_port(a.slave_path()));
    const OwnedHandle second(open_port(b.slave_path()));
    for (const OwnedHandle* h : {&first, &second}) {
        EXPECT_NE(h->get(), 0u);
        EXPECT_NE(h->get(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(platform::posix::descriptor_of(h->get()), static_cast<int>(h->get()));
    }
    EXPECT_NE(first.get(), second.get());
    struct stat device {};
    struct stat opened {};
    ASSERT_EQ(stat(a.slave_path().c_str(), &device), 0);
    ASSERT_EQ(fstat(static_cast<int>(first.get()), &opened), 0);
    EXPECT_EQ(opened.st_rdev, device.st_rdev);
}

// The last error belongs to the thread that made the call, as on Windows.
TEST(LastError, IsKeptPerThread) {
    SetLastError(1234);
    DWORD seen_there = 0;
    std::thread other([&seen_there] {
        SetLastError(99);
        seen_there = GetLastError();
    });
    other.join();
    EXPECT_EQ(seen_there, 99u);
    EXPECT_EQ(GetLastError(), 1234u);
}

// errno values map to the Windows codes a Windows program would see for the same event.
TEST(ErrorTable, MapsErrnoToTheWindowsCode) {
    using platform::posix::ErrorContext;
    struct Case {
        const char* legend;
        int errno_value;
        ErrorContext context;
        DWORD expected;
    };
    const Case cases[] = {
        {"no such file", ENOENT, ErrorContext::kOpen, ERROR_FILE_NOT_FOUND},
        {"permission", EACCES, ErrorContext::kOpen, ERROR_ACCESS_DENIED},
        {"not permitted", EPERM, ErrorContext::kOpen, ERROR_ACCESS_DENIED},
        {"device busy (exclusive)", EBUSY, ErrorContext::kOpen, ERROR_ACCESS_DENIED},
        {"bad descriptor", EBADF, ErrorContext::kTransfer, ERROR_INVALID_HANDLE},
        {"out of memory", ENOMEM, ErrorContext::kTransfer, ERROR_NOT_ENOUGH_MEMORY},
        {"invalid argument", EINVAL, ErrorContext::kTransfer, ERROR_INVALID_PARAMETER},
        {"I/O error on an open device: gone", EIO, ErrorContext::kTransfer,
         ERROR_DEVICE_NOT_CONNECTED},
        {"no device behind the node at open", ENXIO, ErrorContext::kOpen, ERROR_FILE_NOT_FOUND},
        {"device removed during a transfer", ENODEV, ErrorContext::kTransfer,
         ERROR_DEVICE_NOT_CONNECTED},
        {"an unknown errno", 4095, ErrorContext::kTransfer, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::posix::windows_error(c.errno_value, c.context), c.expected) << c.legend;
    }
}

}  // namespace
