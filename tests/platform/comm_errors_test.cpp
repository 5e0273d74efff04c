// ClearCommError's line-error mask and exact queue count, and GetOverlappedResult on requests
// that completed at once, checked against the Windows behaviour they stand for.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/posix/line_errors.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

using platform::posix::line_error_mask;
using platform::posix::LineErrorCounts;
using platform_test::set_read_timeouts;
using test_support::Pty;

// Each counter the driver keeps that grew becomes its CE_ bit; unchanged counters report
// nothing.
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
    EXPECT_EQ(CE_RXOVER, 0x1u);
    EXPECT_EQ(CE_OVERRUN, 0x2u);
    EXPECT_EQ(CE_RXPARITY, 0x4u);
    EXPECT_EQ(CE_FRAME, 0x8u);
    EXPECT_EQ(CE_BREAK, 0x10u);
}

HANDLE open_overlapped(const Pty& pty) {
    return CreateFileA(pty.slave_path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
}

// On a device whose driver counts no line errors (a pseudo-terminal) the mask is 0, and cbInQue
// is exactly the bytes waiting: never more than were sent, and less by what a read took.
TEST(ClearCommError, CountsExactlyAndInventsNoErrors) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    const HANDLE port = open_overlapped(pty);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(set_read_timeouts(port, MAXDWORD, 0, 0));

    ASSERT_TRUE(pty.write(std::vector<uint8_t>(37, 0x55)));
    DWORD errors = 0xFFFF;
    COMSTAT stat{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        ASSERT_TRUE(ClearCommError(port, &errors, &stat));
        EXPECT_EQ(errors, 0u);
        ASSERT_LE(stat.cbInQue, 37u);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (stat.cbInQue < 37 && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(stat.cbInQue, 37u);

    uint8_t buffer[10];
    OVERLAPPED read{};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 10, &got, &read));
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 27u);
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(ClearCommError(port, nullptr, nullptr)) << "both outputs are optional";
    CloseHandle(port);
}

// A request that completed at once reports its count through GetOverlappedResult, with or
// without waiting, as many times as asked; a failed one reports its error.
TEST(GetOverlappedResult, ReportsARequestThatCompletedAtOnce) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    const HANDLE port = open_overlapped(pty);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(set_read_timeouts(port, MAXDWORD, 0, 0));

    OVERLAPPED write{};
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(port, "abcde", 5, &count, &write));
    for (const BOOL wait : {TRUE, FALSE, TRUE}) {
        count = 0;
        EXPECT_TRUE(GetOverlappedResult(port, &write, &count, wait));
        EXPECT_EQ(count, 5u) << "wait " << wait;
    }

    OVERLAPPED read{};
    uint8_t buffer[8];
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &count, &read));
    EXPECT_TRUE(GetOverlappedResult(port, &read, &count, TRUE));
    EXPECT_EQ(count, 0u) << "a read that found nothing waiting";

    pty.hang_up();
    OVERLAPPED failed{};
    EXPECT_FALSE(WriteFile(port, "x", 1, &count, &failed));
    SetLastError(0);
    EXPECT_FALSE(GetOverlappedResult(port, &failed, &count, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(count, 0u);

    SetLastError(0);
    EXPECT_FALSE(GetOverlappedResult(0x4444, &write, &count, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(port);
}

}  // namespace
