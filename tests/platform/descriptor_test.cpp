// Handles that are file descriptors: a descriptor a library opened itself works with the
// Windows calls and CloseHandle closes it, events never collide with descriptors, a number
// closed behind the layer's back starts afresh, and no handle is ever 0.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/handles.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial/port.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;
using test_support::Pty;

// Opens a pty's slave as a Linux interface library would by itself: blocking, raw, 9600 baud.
int open_like_a_library(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B9600);
        (void)tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

bool is_closed(int fd) {
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// A descriptor a library opened itself, from the layer's first sight of it to its close. It has
// the state a fresh handle has, with the DCB read from the device as the library set it; it works
// as a port the layer opened, in every call a library or the program's close_port makes on the
// laser port; close_port on a record holding it closes it (through CloseHandle); after that every
// call, CloseHandle too, fails with ERROR_INVALID_HANDLE, as on what never was a handle, on 0, on
// INVALID_HANDLE_VALUE and on a port the layer opened and closed.
TEST(LibraryDescriptor, WorksAsAPortUntilClosePortClosesItThenIsRefused) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    const int fd = open_like_a_library(pty.slave_path());
    ASSERT_GT(fd, 0) << std::strerror(errno);
    const HANDLE handle = static_cast<HANDLE>(fd);

    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    ASSERT_TRUE(GetCommTimeouts(handle, &timeouts));
    const COMMTIMEOUTS zero{};
    EXPECT_EQ(std::memcmp(&timeouts, &zero, sizeof zero), 0);
    DWORD mask = 99;
    ASSERT_TRUE(GetCommMask(handle, &mask));
    EXPECT_EQ(mask, 0u);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fOutX, 0u);

    // What SetCommState applies reaches the device.
    dcb.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(handle, &dcb));
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));

    // A read that returns at once does so although the descriptor blocks, and leaves it blocking
    // for the library's own reads.
    ASSERT_TRUE(set_read_timeouts(handle, MAXDWORD, 0, 0));
    uint8_t buffer[8] = {};
    DWORD got = 99;
    std::atomic<bool> returned{false};
    std::thread rescue([&] {
        // A read stuck in the driver is freed by a byte after a while: the test fails, not hangs.
        for (int i = 0; i < 200 && !returned; ++i) {
            Sleep(10);
        }
        if (!returned) {
            (void)pty.write({0x00});
        }
    });
    Stopwatch watch;
    EXPECT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    returned = true;
    rescue.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(watch.ms(), 500.0) << "nothing waiting: at once, though the descriptor blocks";
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "the descriptor blocks again";

    ASSERT_TRUE(pty.write({0x11, 0x00, 0xFF}));
    ASSERT_TRUE(wait_waiting(handle, 3));
    EXPECT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + got), (std::vector<uint8_t>{0x11, 0x00, 0xFF}));

    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, "sent", 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    const std::vector<uint8_t> seen = pty.read(4);
    EXPECT_EQ(std::string(seen.begin(), seen.end()), "sent");

    ASSERT_TRUE(pty.write({1, 2, 3, 4, 5}));
    ASSERT_TRUE(wait_waiting(handle, 5));
    EXPECT_TRUE(PurgeComm(handle, PURGE_RXCLEAR));
    EXPECT_TRUE(wait_waiting(handle, 0)) << "the purge emptied the input queue";

    EXPECT_EQ(failure_of([&] { return EscapeCommFunction(handle, CLRDTR); }), ERROR_NOT_SUPPORTED)
        << "a pseudo-terminal has no DTR line";

    timeouts = {MAXDWORD, 0, 0, 0, 1000};
    DWORD errors = 0;
    COMSTAT stat{};
    struct Case {
        const char* legend;
        std::function<BOOL(HANDLE)> call;
    };
    const Case cases[] = {
        {"GetCommState", [&](HANDLE h) { return GetCommState(h, &dcb); }},
        {"SetCommState", [&](HANDLE h) { return SetCommState(h, &dcb); }},
        {"SetCommTimeouts", [&](HANDLE h) { return SetCommTimeouts(h, &timeouts); }},
        {"GetCommTimeouts", [&](HANDLE h) { return GetCommTimeouts(h, &timeouts); }},
        {"SetCommMask", [&](HANDLE h) { return SetCommMask(h, EV_RXCHAR); }},
        {"ClearCommError", [&](HANDLE h) { return ClearCommError(h, &errors, &stat); }},
        {"ReadFile", [&](HANDLE h) { return ReadFile(h, buffer, 1, &got, nullptr); }},
        {"WriteFile", [&](HANDLE h) { return WriteFile(h, "w", 1, &written, nullptr); }},
        {"PurgeComm", [&](HANDLE h) { return PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR); }},
        {"EscapeCommFunction", [&](HANDLE h) { return EscapeCommFunction(h, SETXON); }},
        {"SetupComm", [&](HANDLE h) { return SetupComm(h, 4096, 4096); }},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.call(handle)) << c.legend << ": error " << GetLastError();
    }

    // Opened before the library's descriptor closes, so its number is not taken again.
    Pty other;
    const HANDLE closed_port = open_port(other.slave_path());
    ASSERT_NE(closed_port, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(closed_port));

    serial::SerialPort record{};
    record.handle = handle;
    record.is_open = 1;
    EXPECT_EQ(serial::close_port(&record), 1);
    EXPECT_TRUE(is_closed(fd)) << "close_port closed the library's descriptor";
    EXPECT_EQ(record.is_open, 0);

    for (const HANDLE h :
         {handle, HANDLE{0x7FFFFFF0u}, HANDLE{0}, INVALID_HANDLE_VALUE, closed_port}) {
        for (const Case& c : cases) {
            EXPECT_EQ(failure_of([&] { return c.call(h); }), ERROR_INVALID_HANDLE)
                << c.legend << " of " << h;
        }
        EXPECT_EQ(failure_of([&] { return CloseHandle(h); }), ERROR_INVALID_HANDLE) << h;
    }
}

// Events are numbered apart from descriptors: from 0x40000000 up, multiples of 4, never a
// descriptor, never 0 or INVALID_HANDLE_VALUE; an event is refused by the file and serial calls
// and a descriptor by the event calls.
TEST(Handles, EventsNeverCollideWithDescriptors) {
    std::vector<int> descriptors;
    std::vector<HANDLE> events;
    for (int i = 0; i < 8; ++i) {
        descriptors.push_back(open("/dev/null", O_RDWR | O_CLOEXEC));
        events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    for (const HANDLE event : events) {
        EXPECT_GE(event, 0x40000000u);
        EXPECT_EQ(event % 4, 0u);
        EXPECT_NE(event, INVALID_HANDLE_VALUE);
        for (const int fd : descriptors) {
            EXPECT_NE(event, static_cast<HANDLE>(fd));
        }
    }
    const HANDLE event = events.front();
    const HANDLE descriptor = static_cast<HANDLE>(descriptors.front());
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_EQ(failure_of([&] { return ReadFile(event, &byte, 1, &count, nullptr); }),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([&] { return WriteFile(event, &byte, 1, &count, nullptr); }),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([&] { return PurgeComm(event, PURGE_RXCLEAR); }), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(failure_of([&] { return SetEvent(descriptor); }), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([&] { return ResetEvent(descriptor); }), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(descriptor, 0), WAIT_OBJECT_0) << "a file is always signalled";
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    for (const HANDLE e : events) {
        EXPECT_TRUE(CloseHandle(e));
    }
    for (const int fd : descriptors) {
        close(fd);
    }
}

// A descriptor number the layer knows, closed behind its back and opened again on another file,
// starts afresh: nothing of the old device's state is carried over to the new file.
TEST(Handles, AStaleEntryIsNotReusedForANewFile) {
    char file[] = "/tmp/morvane-stale-XXXXXX";
    const int made = mkstemp(file);
    ASSERT_GE(made, 0);
    close(made);
    std::ofstream(file) << "content";
    Pty second;
    ASSERT_TRUE(second.ok()) << second.error();
    struct Case {
        const char* legend;
        std::string reopened;  // the file that takes the number; empty: none
        BOOL mask_result;      // GetCommMask on the number
        DWORD error;           // its last error when it fails
        const char* read;      // what ReadFile then reads; null: not read
    };
    const Case cases[] = {
        {"another serial device: no mask, no time-outs", second.slave_path(), TRUE, 0, nullptr},
        {"a regular file: no serial state at all", file, FALSE, ERROR_INVALID_FUNCTION, "content"},
        {"nothing: the number is no handle", "", FALSE, ERROR_INVALID_HANDLE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Pty pty;
        ASSERT_TRUE(pty.ok()) << pty.error();
        const int fd = open_like_a_library(pty.slave_path());
        ASSERT_GT(fd, 0);
        const HANDLE number = static_cast<HANDLE>(fd);
        ASSERT_TRUE(SetCommMask(number, EV_RXCHAR | EV_ERR));
        ASSERT_TRUE(set_read_timeouts(number, MAXDWORD, MAXDWORD, 77));
        if (c.reopened.empty()) {
            close(fd);
        } else {
            const int other = open(c.reopened.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(other, 0);
            ASSERT_EQ(dup2(other, fd), fd);  // closes the old file behind the layer's back
            close(other);
        }
        DWORD mask = 99;
        SetLastError(0);
        EXPECT_EQ(GetCommMask(number, &mask), c.mask_result);
        if (c.mask_result) {
            EXPECT_EQ(mask, 0u);
            COMMTIMEOUTS timeouts{};
            ASSERT_TRUE(GetCommTimeouts(number, &timeouts));
            EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (c.read != nullptr) {
            char buffer[16] = {};
            DWORD got = 0;
            EXPECT_TRUE(ReadFile(number, buffer, sizeof buffer, &got, nullptr));
            EXPECT_EQ(std::string(buffer, got), c.read);
        }
        if (!c.reopened.empty()) {
            EXPECT_TRUE(CloseHandle(number));
        }
    }
    unlink(file);
}

// Descriptor 0 is what open() hands out while standard input is closed; the handle is never 0,
// which no caller would take for a handle.
TEST(Handles, AHandleIsNever0EvenWithStandardInputClosed) {
    const int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    const HANDLE handle = CreateFileA("/dev/null", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    const bool zero_left_closed = is_closed(0);
    dup2(saved, 0);
    close(saved);
    const OwnedHandle owned(handle);
    EXPECT_NE(handle, 0u);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(zero_left_closed) << "the descriptor was moved, not copied";
    EXPECT_EQ(platform::posix::descriptor_of(handle), static_cast<int>(handle));
}

}  // namespace
