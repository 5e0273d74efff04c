// The transfers on a pseudo-terminal: partial, whole, line and byte reads with their idle
// timeouts, the writes and the senders. The master end of the pair plays the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "port_events.hpp"
#include "pty.hpp"
#include "serial/port.hpp"
#include "serial/transfer.hpp"

namespace {

using serial::kReadIdleTimeout;
using serial::SerialPort;
using test_support::Pty;
using Clock = std::chrono::steady_clock;

// Bytes the tests fill buffers with, to see what a read wrote and what it left alone.
constexpr uint8_t kUntouched = 0xEE;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << pty_.error();
        ASSERT_NE(serial::open_port_named(port_.get(), 9600, pty_.slave_path().c_str()), 0)
            << GetLastError();
    }

    void TearDown() override {
        if (port_->is_open != 0) {
            (void)serial::close_port(port_.get());
            testsupport::close_events(*port_);
        }
    }

    DWORD waiting() const {
        DWORD errors = 0;
        COMSTAT stat{};
        return ClearCommError(port_->handle, &errors, &stat) ? stat.cbInQue : 0;
    }

    // The device sends the bytes, and the test waits until the port has them all waiting, so a
    // read that follows finds them in one poll.
    void send_and_settle(const std::vector<uint8_t>& bytes) {
        const DWORD before = waiting();
        ASSERT_TRUE(pty_.write(bytes));
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (waiting() < before + bytes.size()) {
            ASSERT_LT(Clock::now(), deadline) << "the bytes never arrived";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Sends the bytes one at a time from another thread, `gap_ms` apart.
    std::thread send_slowly(std::vector<uint8_t> bytes, int gap_ms) {
        return std::thread([this, bytes = std::move(bytes), gap_ms] {
            for (uint8_t b : bytes) {
                std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
                (void)pty_.write(&b, 1);
            }
        });
    }

    Pty pty_;
    std::unique_ptr<SerialPort> port_ = std::make_unique<SerialPort>();
};

// A partial read takes what is waiting, up to its length, and leaves the rest in the queue; on a
// silent line it ends with 0 after one 10 ms poll, not after a timeout.
TEST_F(Transfer, PartialReadTakesWhatIsWaitingAndEndsAfterOnePoll) {
    struct Case {
        const char* legend;
        size_t sent;
        uint32_t length;
        int32_t result;
        DWORD left;
    };
    const Case cases[] = {
        {"fewer waiting than asked", 3, 10, 3, 0},
        {"more waiting than asked", 20, 10, 10, 10},
        {"length 0 reads nothing", 3, 0, 0, 3},
        {"as many as asked", 10, 10, 10, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(serial::purge_port(port_.get(), PURGE_RXCLEAR));
        std::vector<uint8_t> sent(c.sent);
        std::iota(sent.begin(), sent.end(), uint8_t{0x30});
        send_and_settle(sent);
        std::vector<uint8_t> buffer(32, kUntouched);
        EXPECT_EQ(serial::read_port(port_.get(), buffer.data(), c.length, 0), c.result) << c.legend;
        const size_t read = static_cast<size_t>(c.result);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(read)),
                  std::vector<uint8_t>(sent.begin(), sent.begin() + static_cast<long>(read)))
            << c.legend;
        EXPECT_EQ(buffer[read], kUntouched) << c.legend << ": nothing past what was read";
        EXPECT_EQ(waiting(), c.left) << c.legend;
    }

    uint8_t buffer[10];
    const auto start = Clock::now();
    EXPECT_EQ(serial::read_port(port_.get(), buffer, sizeof buffer, 0), 0);
    const double elapsed = ms_since(start);
    EXPECT_GE(elapsed, 10.0);
    EXPECT_LT(elapsed, 1000.0);
}

// A whole read that finds 4 bytes and then 6 puts them in the buffer's first 4 and next 6
// places, returns the length, and writes nothing past the 10th place. On the silent line that
// follows it gives up on its 602nd empty poll, after at least 6.02 s.
TEST_F(Transfer, WholeReadGathersChunksInPlaceAndTimesOutAfter602EmptyPolls) {
    send_and_settle({1, 2, 3, 4});
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        (void)pty_.write({5, 6, 7, 8, 9, 10});
    });
    std::vector<uint8_t> buffer(16, kUntouched);
    const int32_t result = serial::read_port_whole(port_.get(), buffer.data(), 10);
    later.join();
    EXPECT_EQ(result, 10);
    std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    expected.resize(buffer.size(), kUntouched);
    EXPECT_EQ(buffer, expected);

    std::fill(buffer.begin(), buffer.end(), kUntouched);
    const auto start = Clock::now();
    EXPECT_EQ(serial::read_port_whole(port_.get(), buffer.data(), 4), kReadIdleTimeout);
    const double elapsed = ms_since(start);
    EXPECT_GE(elapsed, 6020.0);
    EXPECT_LT(elapsed, 12000.0);
    EXPECT_EQ(buffer[0], kUntouched);
}

// A line read stores the line feed as 0 and, with strip_cr, each carriage return as 0 too; the
// count leaves both out. A line longer than the buffer stops the read when the buffer is full,
// unterminated, the count the bytes stored. Bytes behind stay in the queue. Each line is sent at
// once and a byte at a time.
TEST_F(Transfer, LineReadEndsAtTheLineFeed) {
    struct Case {
        const char* legend;
        std::string sent;
        int32_t strip_cr;
        int32_t result;
        std::string stored;  // the buffer's first bytes after the read
        DWORD left;
        uint32_t length = 32;
    };
    const Case cases[] = {
        {"CR LF stripped", "AB\r\n", 1, 2, std::string("AB\0\0", 4), 0},
        {"CR LF kept", "AB\r\n", 0, 3, std::string("AB\r\0", 4), 0},
        {"LF alone", "hello\n", 1, 5, std::string("hello\0", 6), 0},
        {"an empty line", "\n", 0, 0, std::string("\0", 1), 0},
        {"a CR inside the line, stripped", "a\rb\n", 1, 2, std::string("a\0b\0", 4), 0},
        {"the next line stays queued", "x\nyz\n", 0, 1, std::string("x\0", 2), 3},
        {"longer than the buffer", "ABCDEFGHIJ\n", 1, 4, "ABCD", 7, 4},
    };
    for (const bool slowly : {false, true}) {
        for (const Case& c : cases) {
            const std::string legend = std::string(c.legend) + (slowly ? ", byte by byte" : "");
            ASSERT_TRUE(serial::purge_port(port_.get(), PURGE_RXCLEAR));
            std::thread sender;
            if (slowly) {
                sender = send_slowly(bytes_of(c.sent), 5);
            } else {
                send_and_settle(bytes_of(c.sent));
            }
            std::vector<char> buffer(32, static_cast<char>(kUntouched));
            const int32_t result =
                serial::read_port_line(port_.get(), buffer.data(), c.length, c.strip_cr, 1000);
            if (slowly) {
                sender.join();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            EXPECT_EQ(result, c.result) << legend;
            EXPECT_EQ(std::string(buffer.data(), c.stored.size()), c.stored) << legend;
            EXPECT_EQ(buffer[c.stored.size()], static_cast<char>(kUntouched)) << legend;
            EXPECT_EQ(waiting(), c.left) << legend;
        }
    }
}

// Line and byte reads give up once the line has been silent for more than timeout_ms: with 100
// on the 11th empty poll (at least 110 ms of sleeps), with 0 or below on the first.
TEST_F(Transfer, LineAndByteReadsGiveUpAfterTheirIdleTime) {
    struct Case {
        const char* legend;
        bool line;
        int32_t timeout_ms;
        double at_least_ms;
    };
    const Case cases[] = {
        {"line, 100 ms", true, 100, 110.0}, {"line, 0 ms", true, 0, 10.0},
        {"line, below 0", true, -5, 10.0},  {"bytes, 100 ms", false, 100, 110.0},
        {"bytes, 0 ms", false, 0, 10.0},
    };
    for (const Case& c : cases) {
        char buffer[8];
        const auto start = Clock::now();
        const int32_t result =
            c.line ? serial::read_port_line(port_.get(), buffer, sizeof buffer, 1, c.timeout_ms)
                   : serial::read_port_bytes(port_.get(), reinterpret_cast<uint8_t*>(buffer),
                                             sizeof buffer, c.timeout_ms);
        const double elapsed = ms_since(start);
        EXPECT_EQ(result, kReadIdleTimeout) << c.legend;
        EXPECT_GE(elapsed, c.at_least_ms) << c.legend;
        EXPECT_LT(elapsed, c.at_least_ms + 1000.0) << c.legend;
    }
}

// A byte read returns its length once every byte is in, however slowly they come, as long as no
// gap exceeds the timeout; a gap that does ends it with the bytes so far in the buffer.
TEST_F(Transfer, ByteReadWaitsForEveryByteWhileTheyKeepComing) {
    std::thread sender = send_slowly({0x00, 0x0A, 0x0D, 0xFF, 0x41}, 40);
    std::vector<uint8_t> buffer(8, kUntouched);
    const int32_t result = serial::read_port_bytes(port_.get(), buffer.data(), 5, 400);
    sender.join();
    EXPECT_EQ(result, 5);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 6),
              (std::vector<uint8_t>{0x00, 0x0A, 0x0D, 0xFF, 0x41, kUntouched}));

    send_and_settle({0x11, 0x22});
    std::fill(buffer.begin(), buffer.end(), kUntouched);
    EXPECT_EQ(serial::read_port_bytes(port_.get(), buffer.data(), 5, 50), kReadIdleTimeout);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3),
              (std::vector<uint8_t>{0x11, 0x22, kUntouched}));

    EXPECT_EQ(serial::read_port_bytes(port_.get(), buffer.data(), 0, 0), 0) << "length 0";
}

// The senders: what reaches the device and what they return. Once the device has gone, a write
// fails at once with 0; send_binary still returns its sum.
TEST_F(Transfer, SendersWriteTheirBytesUntilTheDeviceIsGone) {
    struct Case {
        const char* legend;
        std::vector<uint8_t> data;
        int32_t length;
        int32_t sum;
    };
    const Case cases[] = {
        {"0x01 and 0xFF", {0x01, 0xFF}, 2, 256},
        {"four 0xFF", {0xFF, 0xFF, 0xFF, 0xFF}, 4, 1020},
        {"length 0", {0x41}, 0, 0},
        {"a negative length", {0x41}, -3, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(serial::send_binary(port_.get(), c.data.data(), c.length), c.sum) << c.legend;
        // The first `length` bytes reach the device, none for a length of 0 or below.
        const std::vector<uint8_t> sent(c.data.begin(), c.data.begin() + std::max(c.length, 0));
        EXPECT_EQ(pty_.read_until_quiet(50), sent) << c.legend;
    }

    EXPECT_EQ(serial::send_str(port_.get(), "hello\r"), 1);
    EXPECT_EQ(pty_.read_until_quiet(50), bytes_of("hello\r"));
    EXPECT_EQ(serial::send_str(port_.get(), ""), 1) << "a write of length 0 is done";
    EXPECT_TRUE(pty_.read_until_quiet(50).empty());
    EXPECT_EQ(serial::write_port(port_.get(), "\x00\x13\x11", 3), 1);
    EXPECT_EQ(pty_.read(3, 1000), (std::vector<uint8_t>{0x00, 0x13, 0x11}));

    pty_.hang_up();
    EXPECT_EQ(serial::write_port(port_.get(), "abc", 3), 0);
    EXPECT_EQ(serial::send_str(port_.get(), "abc"), 0);
    const uint8_t data[] = {0x01, 0xFF};
    EXPECT_EQ(serial::send_binary(port_.get(), data, 2), 256);
}

}  // namespace
