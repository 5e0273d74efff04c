// Overlapped requests and GetOverlappedResult, PurgeComm, EscapeCommFunction, and ClearCommError's
// line-error mask and exact queue count, checked against the Windows behaviour they stand for,
// with pseudo-terminals as devices.

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/line_errors.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;
using platform::posix::line_error_mask;
using platform::posix::LineErrorCounts;
using test_support::Pty;

// An overlapped request completes before the call returns (TRUE, as Windows reports a request
// that completed at once): the OVERLAPPED block holds Internal 0 and the count in InternalHigh,
// its event is set, and GetOverlappedResult reports the count, with or without waiting, as often
// as asked; a failed request reports its error.
TEST(OverlappedPort, TransfersCompleteAtOnceAndReportTheirResult) {
    OpenPort opened(Opening::kOverlapped);
    ASSERT_EQ(opened.error(), "");
    const HANDLE port = opened.get();
    Pty& pty = opened.pty();
    ASSERT_TRUE(set_read_timeouts(port, MAXDWORD, 0, 0));

    OVERLAPPED write{};
    const OwnedHandle write_event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    write.hEvent = write_event.get();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, "abc", 3, &written, &write));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(write.InternalHigh, 3u);
    EXPECT_EQ(WaitForSingleObject(write.hEvent, 0), WAIT_OBJECT_0);
    OVERLAPPED plain{};  // no event, no count asked for
    ASSERT_TRUE(WriteFile(port, "abcde", 5, nullptr, &plain));
    EXPECT_EQ(plain.InternalHigh, 5u);
    const auto sent = pty.read(8);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "abcabcde");
    for (const BOOL wait : {TRUE, FALSE, TRUE}) {
        written = 0;
        EXPECT_TRUE(GetOverlappedResult(port, &plain, &written, wait));
        EXPECT_EQ(written, 5u) << "wait " << wait;
    }

    struct Case {
        const char* legend;
        std::string sent;  // what the device sends first
        DWORD asked;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing waiting: 0 bytes at once", "", 4, ""},
        {"fewer waiting than asked: what is there", "xy", 4, "xy"},
        {"more waiting than asked: what was asked", "12345", 4, "1234"},
    };
    for (const Case& c : cases) {
        PurgeComm(port, PURGE_RXCLEAR);
        ASSERT_TRUE(pty.write(c.sent.data(), c.sent.size()));
        ASSERT_TRUE(wait_waiting(port, static_cast<DWORD>(c.sent.size()))) << c.legend;
        const OwnedHandle read_event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED read{};
        read.Internal = 77;  // to see it cleared
        read.hEvent = read_event.get();
        char buffer[8] = {};
        DWORD got = 99;
        Stopwatch clock;
        EXPECT_TRUE(ReadFile(port, buffer, c.asked, &got, &read)) << c.legend;
        EXPECT_LT(clock.ms(), 500.0) << c.legend;
        EXPECT_EQ(std::string(buffer, got), c.expected) << c.legend;
        EXPECT_EQ(read.Internal, 0u) << c.legend;
        EXPECT_EQ(read.InternalHigh, got) << c.legend;
        EXPECT_EQ(WaitForSingleObject(read.hEvent, 0), WAIT_OBJECT_0) << c.legend;
        DWORD result = 99;
        EXPECT_TRUE(GetOverlappedResult(port, &read, &result, TRUE)) << c.legend;
        EXPECT_EQ(result, got) << c.legend;
    }

    pty.hang_up();
    OVERLAPPED failed{};
    EXPECT_FALSE(WriteFile(port, "x", 1, &written, &failed));
    EXPECT_EQ(failure_of([&] { return GetOverlappedResult(port, &failed, &written, TRUE); }),
              ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(failure_of([&] { return GetOverlappedResult(0x4444, &plain, &written, TRUE); }),
              ERROR_INVALID_HANDLE);
}

// PurgeComm empties the queues its CLEAR flags name; the ABORT flags end pending requests, of
// which there are none, and leave the queues alone.
TEST(PurgeComm, ClearFlagsEmptyTheirQueue) {
    struct Case {
        const char* legend;
        DWORD flags;
        DWORD left_waiting;  // of the 5 bytes waiting before
    };
    const Case cases[] = {
        {"RXCLEAR empties the input queue", PURGE_RXCLEAR, 0},
        {"all four flags, as the serial module purges", 0x0F, 0},
        {"TXCLEAR leaves the input queue", PURGE_TXCLEAR, 5},
        {"the ABORT flags leave the input queue", PURGE_TXABORT | PURGE_RXABORT, 5},
        {"no flag at all does nothing", 0, 5},
    };
    for (const Case& c : cases) {
        OpenPort opened(Opening::kOverlapped);
        ASSERT_EQ(opened.error(), "");
        const HANDLE port = opened.get();
        ASSERT_TRUE(opened.pty().write("hello", 5));
        ASSERT_TRUE(wait_waiting(port, 5)) << c.legend;
        EXPECT_TRUE(PurgeComm(port, c.flags)) << c.legend;
        EXPECT_TRUE(wait_waiting(port, c.left_waiting)) << c.legend;
    }
}

// EscapeCommFunction on a device without modem lines: the DTR and RTS functions fail with
// ERROR_NOT_SUPPORTED (what Wine reports for a pseudo-terminal); flow and break functions
// succeed; an unknown function is ERROR_INVALID_PARAMETER. SETXOFF holds output as if XOFF had
// been received; SETXON lets it go again.
TEST(EscapeCommFunction, WorksWithoutModemLinesAndSetXoffHoldsOutput) {
    OpenPort opened(Opening::kOverlapped);
    ASSERT_EQ(opened.error(), "");
    const HANDLE port = opened.get();
    Pty& pty = opened.pty();
    struct Case {
        const char* legend;
        DWORD function;
        BOOL result;
        DWORD error;  // checked when the call fails
    };
    const Case cases[] = {
        {"SETDTR: no DTR line", SETDTR, FALSE, ERROR_NOT_SUPPORTED},
        {"CLRDTR: no DTR line", CLRDTR, FALSE, ERROR_NOT_SUPPORTED},
        {"SETRTS: no RTS line", SETRTS, FALSE, ERROR_NOT_SUPPORTED},
        {"CLRRTS: no RTS line", CLRRTS, FALSE, ERROR_NOT_SUPPORTED},
        {"SETBREAK", SETBREAK, TRUE, 0},
        {"CLRBREAK", CLRBREAK, TRUE, 0},
        {"SETXON with output running", SETXON, TRUE, 0},
        {"RESETDEV has nothing to reset", RESETDEV, TRUE, 0},
        {"0 is no function", 0, FALSE, ERROR_INVALID_PARAMETER},
        {"10 is no function", 10, FALSE, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(EscapeCommFunction(port, c.function), c.result) << c.legend;
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error) << c.legend;
        }
    }

    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 100;
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    ASSERT_TRUE(EscapeCommFunction(port, SETXOFF));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, "held", 4, &written, nullptr)) << "a write time-out is success";
    EXPECT_TRUE(pty.read(1, 200).empty()) << "nothing passes while output is held";
    ASSERT_TRUE(EscapeCommFunction(port, SETXON));
    EXPECT_TRUE(WriteFile(port, "go", 2, &written, nullptr));
    const auto seen = pty.read_until_quiet(200);
    const std::string text(seen.begin(), seen.end());
    EXPECT_EQ(text.substr(text.size() - 2), "go");
}

// The serial functions on handles that are no open serial device: an unknown handle is
// ERROR_INVALID_HANDLE; a regular file is ERROR_INVALID_FUNCTION; flags PurgeComm does not
// know are ERROR_INVALID_PARAMETER.
TEST(CommFunctions, RefuseWhatIsNoSerialDevice) {
    const OwnedHandle owned_file(CreateFileA("/etc/hostname", GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0));
    const HANDLE file = owned_file.get();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    OpenPort opened(Opening::kOverlapped);
    ASSERT_EQ(opened.error(), "");
    const HANDLE port = opened.get();
    const HANDLE unknown = 0x7FFFFFF0u;
    struct Case {
        const char* legend;
        HANDLE handle;
        DWORD purge_flags;
        DWORD error;
    };
    const Case cases[] = {
        {"a handle never opened", unknown, PURGE_RXCLEAR, ERROR_INVALID_HANDLE},
        {"a regular file", file, PURGE_RXCLEAR, ERROR_INVALID_FUNCTION},
        {"a port, with a flag PurgeComm does not know", port, 0x10, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(failure_of([&] { return PurgeComm(c.handle, c.purge_flags); }), c.error);
        if (c.handle != port) {
            EXPECT_EQ(failure_of([&] { return SetCommMask(c.handle, EV_RXCHAR); }), c.error);
            EXPECT_EQ(failure_of([&] { return EscapeCommFunction(c.handle, SETDTR); }), c.error);
        }
    }
}

// Unchanged counters report nothing.
TEST(LineErrorMask, EachGrownCounterIsItsBit) {
    struct Case {
        const char* legend;
        LineErrorCounts after;
        DWORD mask;
    };
    const LineErrorCounts before{5, 5, 5, 5, 5};
    const Case cases[] = {
        {"nothing counted", {5, 5, 5, 5, 5}, 0},
        {"a framing error", {6, 5, 5, 5, 5}, CE_FRAME},
        {"a receiver overrun", {5, 7, 5, 5, 5}, CE_OVERRUN},
        {"a parity error", {5, 5, 6, 5, 5}, CE_RXPARITY},
        {"a break", {5, 5, 5, 6, 5}, CE_BREAK},
        {"the input queue overflowed", {5, 5, 5, 5, 9}, CE_RXOVER},
        {"all of them",
         {6, 6, 6, 6, 6},
         CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_BREAK | CE_RXOVER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(line_error_mask(before, c.after), c.mask) << c.legend;
    }
    static_assert(CE_RXOVER == 0x1 && CE_OVERRUN == 0x2 && CE_RXPARITY == 0x4 && CE_FRAME == 0x8 &&
                  CE_BREAK == 0x10);
}

// On a device whose driver counts no line errors (a pseudo-terminal) the mask is 0, and cbInQue
// is exactly the bytes waiting: never more than were sent, and less by what a read took.
TEST(ClearCommError, CountsExactlyAndInventsNoErrors) {
    OpenPort opened(Opening::kOverlapped);
    ASSERT_EQ(opened.error(), "");
    const HANDLE port = opened.get();
    ASSERT_TRUE(set_read_timeouts(port, MAXDWORD, 0, 0));

    ASSERT_TRUE(opened.pty().write(std::vector<uint8_t>(37, 0x55)));
    DWORD errors = 0xFFFF;
    COMSTAT stat{};
    Stopwatch watch;
    do {
        ASSERT_TRUE(ClearCommError(port, &errors, &stat));
        EXPECT_EQ(errors, 0u);
        ASSERT_LE(stat.cbInQue, 37u);
        Sleep(1);
    } while (stat.cbInQue < 37 && watch.ms() < 2000);
    ASSERT_EQ(stat.cbInQue, 37u);

    uint8_t buffer[10];
    OVERLAPPED read{};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 10, &got, &read));
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 27u);
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(ClearCommError(port, nullptr, nullptr)) << "both outputs are optional";
}

}  // namespace
