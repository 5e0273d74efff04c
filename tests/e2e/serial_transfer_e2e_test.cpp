// The serial transfers end to end: serial-probe ($SERIAL_PROBE) runs a fixed sequence on a pty
// (under Wine on COM9, mapped onto it) while this test plays the device. The probe waits long for
// the device's bytes, so a busy machine only slows a step: the times checked are the transfer's.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_target.hpp"
#include "pty.hpp"
#include "text.hpp"

namespace {

using namespace testsupport;

constexpr int kComNumber = 9;
constexpr int kIdleTimeout = 0xFFFFFF;

// One result line of the probe: "<step> <result> <hex> <ms> <left>".
struct Step {
    long result = -1;
    std::string hex;
    long ms = -1;
    long left = -1;
};

class SerialTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        const E2eTarget& t = e2e_target();
        if (!t.skip_reason.empty()) {
            GTEST_SKIP() << t.skip_reason;
        }
        if (t.serial_probe.empty()) {
            GTEST_SKIP() << "SERIAL_PROBE is not set";
        }
        // The program of the target is there, so its build is: the probe belongs to it.
        ASSERT_TRUE(std::filesystem::exists(t.serial_probe))
            << "no serial-probe at " << t.serial_probe;
        ASSERT_TRUE(pty_.ok()) << pty_.error();
        port_ = std::make_unique<TargetPort>(kComNumber, pty_.slave_path());
        ASSERT_TRUE(port_->ok()) << port_->error();
        ASSERT_TRUE(probe_.launch(t.serial_probe, {port_->name()})) << probe_.error();
    }

    // Waits for the probe's "ready <step>" line.
    void await_ready(const std::string& step) {
        ASSERT_TRUE(probe_.wait_for_console("ready " + step + "\n"))
            << "no 'ready " << step << "'; output so far:\n"
            << probe_.out() << probe_.err();
    }

    void send(const std::string& bytes) { ASSERT_TRUE(pty_.write(bytes.data(), bytes.size())); }

    // The probe's result lines by step, once it has ended.
    std::map<std::string, Step> results() {
        std::map<std::string, Step> steps;
        for (const std::string& line : split(probe_.console_out(), '\n')) {
            std::istringstream fields(line);
            std::string name;
            Step s;
            if (fields >> name >> s.result >> s.hex >> s.ms >> s.left) {
                steps[name] = s;
            }
        }
        return steps;
    }

    test_support::Pty pty_;
    std::unique_ptr<TargetPort> port_;
    TargetProgram probe_;
};

// The whole sequence, played from the device side; then every step's result is checked.
TEST_F(SerialTransfers, EveryTransferOnARealPort) {
    ASSERT_TRUE(probe_.wait_for_console("open 1\n")) << probe_.out() << probe_.err();

    await_ready("partial");
    send("abc");
    await_ready("partial-more");
    send("ABCDEFGHIJKLMNOPQRST");
    await_ready("whole");
    send("\x01\x02\x03\x04");
    await_ready("whole-rest");
    std::this_thread::sleep_for(milliseconds(100));
    send("\x05\x06\x07\x08\x09\x0a");
    await_ready("line-strip");
    send("AB\r\n");
    await_ready("line-keep");
    send("AB\r\n");
    await_ready("line-long");
    send("ABCDEFGHIJ\n");
    await_ready("bytes");
    for (const char b : std::string("\x00\x0a\x0d\xff\x41", 5)) {
        std::this_thread::sleep_for(milliseconds(40));
        send(std::string(1, b));
    }
    // What the senders wrote: 01 ff, nothing for the empty text, then "hello".
    const std::vector<uint8_t> sent = pty_.read(7, static_cast<int>(kHangBound.count()));
    EXPECT_EQ(sent, (std::vector<uint8_t>{0x01, 0xFF, 'h', 'e', 'l', 'l', 'o'}));
    await_ready("close");
    send(".");

    const ExitStatus status = probe_.wait(kHangBound);
    ASSERT_TRUE(status.exited && status.code == 0) << status.describe() << "\n"
                                                   << probe_.out() << probe_.err();
    auto steps = results();

    // max_ms: kNoWait for a transfer that must not wait for the device (a read that waited
    // like a whole read, about 6 s, is a fault); kHangBound where the device's answer, and so
    // the test's own pace, is part of the time.
    constexpr long kNoWait = 3000;
    constexpr long kWaits = kHangBound.count();
    const struct {
        const char* legend;
        const char* step;
        long result;
        const char* hex = "-";  // the bytes of the buffer it shows; "-": none shown
        long min_ms = 0;        // what the transfer waits by itself
        long max_ms = kNoWait;
        long left = 0;
    } cases[] = {
        {.legend = "a partial read on a silent line: 0 after one poll",
         .step = "partial-empty",
         .result = 0,
         .min_ms = 10},
        {.legend = "a partial read of 10 with 3 waiting",
         .step = "partial",
         .result = 3,
         .hex = "616263eeeeeeeeeeeeeeee"},
        {.legend = "a partial read of 10 with 20 waiting leaves 10",
         .step = "partial-more",
         .result = 10,
         .hex = "4142434445464748494aee",
         .left = 10},
        {.legend = "a whole read of 4 then 6 bytes, nothing past the 10th",
         .step = "whole",
         .result = 10,
         .hex = "0102030405060708090aeeeeeeeeeeee",
         .min_ms = 50,
         .max_ms = kWaits},
        {.legend = "a line with CR LF, stripped",
         .step = "line-strip",
         .result = 2,
         .hex = "41420000eeeeeeee",
         .max_ms = kWaits},
        {.legend = "a line with CR LF, kept",
         .step = "line-keep",
         .result = 3,
         .hex = "41420d00eeeeeeee",
         .max_ms = kWaits},
        {.legend = "a line longer than the buffer: 4 stored, unterminated, 7 left",
         .step = "line-long",
         .result = 4,
         .hex = "41424344eeee",
         .left = 7},
        {.legend = "a line read with timeout 100 on a silent line",
         .step = "line-timeout-100",
         .result = kIdleTimeout,
         .min_ms = 110},
        {.legend = "a line read with timeout 0 on a silent line",
         .step = "line-timeout-0",
         .result = kIdleTimeout,
         .min_ms = 10},
        {.legend = "a byte read of 5 bytes arriving 40 ms apart",
         .step = "bytes",
         .result = 5,
         .hex = "000a0dff41ee",
         .max_ms = kWaits},
        {.legend = "send_binary of 01 ff returns their sum", .step = "send-binary", .result = 256},
        {.legend = "send_str of an empty text", .step = "send-str-empty", .result = 1},
        {.legend = "send_str of a text", .step = "send-str", .result = 1},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(steps.count(c.step), 1u) << c.legend << "\n" << probe_.out();
        const Step& s = steps[c.step];
        EXPECT_EQ(s.result, c.result) << c.legend;
        EXPECT_EQ(s.hex, c.hex) << c.legend;
        EXPECT_GE(s.ms, c.min_ms) << c.legend;
        EXPECT_LE(s.ms, c.max_ms) << c.legend;
        EXPECT_EQ(s.left, c.left) << c.legend;
    }
    // A pseudo-terminal reports no line errors, so no text was composed.
    EXPECT_NE(probe_.out().find("line-error []"), std::string::npos) << probe_.out();
}

}  // namespace
