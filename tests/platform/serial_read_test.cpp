// ReadFile and WriteFile on a serial device, checked against the Windows behaviour they stand
// for, with a pseudo-terminal as the device.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/win32.hpp"
#include "port_events.hpp"
#include "pty.hpp"
#include "serial/port.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;
using test_support::Pty;

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(opened.error(), "");
        ASSERT_TRUE(configure_like_gyro_phase(port)) << "error " << GetLastError();
    }

    OpenPort opened;
    Pty& pty = opened.pty();
    const HANDLE port = opened.get();
};

// Installs a SIGUSR1 handler without SA_RESTART (so blocking calls see EINTR) and sends the
// signal to the calling thread after `delay_ms`.
class SignalAfter {
public:
    explicit SignalAfter(int delay_ms) {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
        const pthread_t target = pthread_self();
        thread_ = std::thread([target, delay_ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            pthread_kill(target, SIGUSR1);
        });
    }
    ~SignalAfter() {
        thread_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }

private:
    struct sigaction previous_ {};
    std::thread thread_;
};

// What a read returns and when under each combination of read time-outs, while the device sends
// nothing or its pieces 20 ms apart. Windows returns TRUE with what arrived: with nothing, once
// the time-out has run; under {MAXDWORD,MAXDWORD,C} as soon as a first byte arrives; with all
// time-outs zero, only when the count asked has arrived, however many pieces it comes in; with an
// interval time-out, when the bytes stop. No signal interrupts a Windows ReadFile, so a signal
// 30 ms into the wait must neither fail the read nor end its wait early.
TEST_F(SerialPort, AReadEndsAsItsTimeoutsSayDespiteASignal) {
    struct Case {
        const char* legend;
        DWORD interval, multiplier, constant;
        DWORD ask;
        std::vector<std::vector<uint8_t>> pieces;  // sent 20 ms apart, the first after 20 ms
        double min_ms, max_ms;                     // generous: CI machines are slow and shared
    };
    const Case cases[] = {
        {"{MAXDWORD,MAXDWORD,5}: waits about 5 ms for a first byte",
         MAXDWORD,
         MAXDWORD,
         5,
         30,
         {},
         3,
         200},
        {"{MAXDWORD,MAXDWORD,60}: waits about 60 ms", MAXDWORD, MAXDWORD, 60, 30, {}, 55, 400},
        {"{MAXDWORD,MAXDWORD,2000}: a first byte arriving ends the wait at once",
         MAXDWORD,
         MAXDWORD,
         2000,
         8,
         {{0x5A}},
         15,
         1000},
        {"{MAXDWORD,0,0}: returns at once", MAXDWORD, 0, 0, 30, {}, 0, 50},
        {"{0,0,40}: total time-out of 40 ms", 0, 0, 40, 30, {}, 35, 400},
        {"{0,2,10}: total time-out of 2*10+10 ms", 0, 2, 10, 10, {}, 25, 400},
        {"asking for 0 bytes returns at once, even with all time-outs zero", 0, 0, 0, 0, {}, 0, 50},
        {"{0,0,0}: waits for the whole count", 0, 0, 0, 3, {{0x10}, {0x20}, {0x30}}, 55, 1000},
        {"{30,0,0}: the interval time-out ends the read when bytes stop",
         30,
         0,
         0,
         10,
         {{1, 2, 3}},
         45,
         1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ASSERT_TRUE(set_read_timeouts(port, c.interval, c.multiplier, c.constant));
        std::vector<uint8_t> sent;
        for (const std::vector<uint8_t>& piece : c.pieces) {
            sent.insert(sent.end(), piece.begin(), piece.end());
        }
        std::jthread device([&] {
            for (const std::vector<uint8_t>& piece : c.pieces) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                (void)pty.write(piece);
            }
        });
        std::vector<uint8_t> buffer(64);
        DWORD got = 12345;
        BOOL ok = FALSE;
        double ms = 0;
        {
            SignalAfter signal(30);
            Stopwatch watch;
            ok = ReadFile(port, buffer.data(), c.ask, &got, nullptr);
            ms = watch.ms();
        }
        EXPECT_TRUE(ok);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + got), sent);
        EXPECT_GE(ms, c.min_ms);
        EXPECT_LE(ms, c.max_ms);
    }
}

// Windows returns the bytes already received at once, up to the count asked, without waiting
// for the time-out.
TEST_F(SerialPort, BytesAlreadyWaitingAreReturnedAtOnceAndNoMoreThanAsked) {
    ASSERT_TRUE(set_read_timeouts(port, MAXDWORD, MAXDWORD, 1000));
    ASSERT_TRUE(pty.write({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_TRUE(wait_waiting(port, 10));

    struct Step {
        const char* legend;
        DWORD ask;
        std::vector<uint8_t> expected;
    };
    const Step steps[] = {
        {"four of ten asked", 4, {1, 2, 3, 4}},
        {"four more", 4, {5, 6, 7, 8}},
        {"the last two, though four asked", 4, {9, 10}},
    };
    for (const Step& step : steps) {
        uint8_t buffer[16] = {};
        DWORD got = 0;
        Stopwatch watch;
        EXPECT_TRUE(ReadFile(port, buffer, step.ask, &got, nullptr)) << step.legend;
        EXPECT_LT(watch.ms(), 200.0) << step.legend << ": must not wait for the 1 s time-out";
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + got), step.expected) << step.legend;
    }
}

// After the set-up every byte value crosses the line unchanged both ways: nothing is taken for
// flow control (0x11, 0x13), line endings (0x0A, 0x0D), signals or anything else. A port left
// cooked (XON/XOFF on, CR/NL translation, echo, line editing) keeps its XON/XOFF at the open, as
// a Windows port does; the set-ups of the gyro phase and of the serial module turn it off.
TEST(LineSetUp, EveryByteValuePassesBothWays) {
    const auto gyro_phase = [](HANDLE port) { return configure_like_gyro_phase(port); };
    struct Case {
        const char* legend;
        Pty::Line left;
        bool (*set_up)(HANDLE port);
    };
    const Case cases[] = {
        {"a raw port, the gyro phase's set-up (driver::set_gyro_line)", Pty::Line::kRaw,
         gyro_phase},
        {"a cooked port, the gyro phase's set-up", Pty::Line::kCooked, gyro_phase},
        {"a cooked port, the serial module's set-up (serial::configure_port)", Pty::Line::kCooked,
         [](HANDLE port) {
             serial::SerialPort record{};
             record.handle = port;
             const bool done = serial::configure_port(&record, 38400) != 0;
             // The events its defaults made are no part of the line.
             testsupport::close_events(record);
             return done;
         }},
    };
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), uint8_t{0});
    const std::vector<uint8_t> byte_runs[] = {
        {0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF},  // NUL, LF, CR, XON, XOFF, 0xFF
        {0x0D, 0x0A, 0x03, 0x04, 0x1A, 0x7F},  // CR LF, Ctrl+C, Ctrl+D, Ctrl+Z, DEL
        all,
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        OpenPort opened(Opening::kGyro, c.left);
        ASSERT_EQ(opened.error(), "");
        const HANDLE port = opened.get();
        DCB found{};
        ASSERT_TRUE(GetCommState(port, &found));
        EXPECT_EQ(found.fOutX, c.left == Pty::Line::kCooked ? 1u : 0u) << "XON/XOFF as left";
        ASSERT_TRUE(c.set_up(port)) << GetLastError();
        ASSERT_TRUE(set_read_timeouts(port, 0, 0, 2000));
        for (const std::vector<uint8_t>& bytes : byte_runs) {
            ASSERT_TRUE(opened.pty().write(bytes));
            std::vector<uint8_t> received(bytes.size());
            DWORD got = 0;
            EXPECT_TRUE(
                ReadFile(port, received.data(), static_cast<DWORD>(bytes.size()), &got, nullptr));
            received.resize(got);
            EXPECT_EQ(received, bytes) << "device to program";

            DWORD written = 0;
            EXPECT_TRUE(
                WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
            EXPECT_EQ(written, bytes.size());
            EXPECT_EQ(opened.pty().read(bytes.size()), bytes) << "program to device";
        }
    }
}

// A USB adapter unplugged under Windows makes ReadFile, WriteFile and ClearCommError fail; it must
// never turn into an endless run of successful 0-byte reads. The first read is waiting for the
// whole count when the hang-up comes, and the hang-up ends its wait with the failure.
TEST_F(SerialPort, AHungUpDeviceMakesReadWriteAndClearCommErrorFail) {
    ASSERT_TRUE(set_read_timeouts(port, 0, 0, 0));
    uint8_t buffer[8];
    {
        std::jthread device([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.hang_up();
        });
        DWORD got = 0;
        EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    }
    struct Case {
        const char* legend;
        DWORD interval, multiplier, constant;
    };
    const Case cases[] = {
        {"{MAXDWORD,MAXDWORD,5}, the gyro phase's time-outs", MAXDWORD, MAXDWORD, 5},
        {"{MAXDWORD,0,0}, return at once", MAXDWORD, 0, 0},
        {"{0,0,0}, wait for the whole count", 0, 0, 0},
        {"{0,0,50}, total time-out", 0, 0, 50},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(set_read_timeouts(port, c.interval, c.multiplier, c.constant));
        for (int attempt = 0; attempt < 3; ++attempt) {
            DWORD got = 99;
            SetLastError(0);
            Stopwatch watch;
            EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &got, nullptr)) << c.legend;
            EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED) << c.legend;
            EXPECT_EQ(got, 0u) << c.legend;
            EXPECT_LT(watch.ms(), 500.0) << c.legend << ": a hang-up must not block";
        }
    }
    const uint8_t command = 'P';
    DWORD written = 99;
    EXPECT_EQ(failure_of([&] { return WriteFile(port, &command, 1, &written, nullptr); }),
              ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(written, 0u);
    DWORD errors = 99;
    COMSTAT stat{};
    EXPECT_EQ(failure_of([&] { return ClearCommError(port, &errors, &stat); }),
              ERROR_DEVICE_NOT_CONNECTED);
}

// With a total write time-out, Windows ends a write that cannot finish (the other end does not
// read) with TRUE and the count written so far; with both write time-outs zero it waits.
TEST_F(SerialPort, AWriteTimeoutEndsAStalledWriteWithTheCountWritten) {
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 5, 0, 100};  // the gyro phase's reads, as set up
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    std::vector<uint8_t> lots(4 << 20, 0x55);  // far more than a pty holds
    DWORD written = 0;
    Stopwatch watch;
    EXPECT_TRUE(WriteFile(port, lots.data(), static_cast<DWORD>(lots.size()), &written, nullptr));
    const double ms = watch.ms();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_GE(ms, 90.0);
    EXPECT_LT(ms, 2000.0);
}

// Sleep lasts its whole duration on Windows; a signal must not cut it short.
TEST(Sleep, LastsItsWholeDurationDespiteASignal) {
    Stopwatch watch;
    {
        SignalAfter signal(20);
        Sleep(120);
    }
    EXPECT_GE(watch.ms(), 115.0);
    EXPECT_LT(watch.ms(), 2000.0);
}

}  // namespace
