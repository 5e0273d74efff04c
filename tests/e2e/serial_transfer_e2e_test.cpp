// The serial transfers end to end: serial-probe runs its fixed sequence of reads and writes on a
// port while this test plays the device on the master side of a pseudo-terminal. Natively the
// probe opens the pty's slave; under Wine the Windows build's serial-probe.exe opens COM9,
// mapped onto it. Where Wine differs from Windows (docs: a read with bytes waiting may still
// take a few ms), the windows below are generous enough for both.
//
// The probe is found at $SERIAL_PROBE, else natively beside this program
// (e2e/serial_probe/serial-probe) and under Wine in the Windows build folder of $MORVANE_EXE
// (tests/e2e/serial_probe/serial-probe.exe).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process.hpp"
#include "pty.hpp"
#include "wine.hpp"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testsupport::Process;

constexpr int kComNumber = 9;
constexpr int kIdleTimeout = 0xFFFFFF;

// One result line of the probe: "<step> <result> <hex> <ms> <left>".
struct Step {
    long result = -1;
    std::string hex;
    long ms = -1;
    long left = -1;
};

struct ProbeTarget {
    bool wine = false;
    std::string probe;
    std::string skip_reason;
};

ProbeTarget probe_target() {
    ProbeTarget t;
    const char* kind = std::getenv("MORVANE_TARGET");
    t.wine = kind != nullptr && std::string(kind) == "wine";
    if (const char* given = std::getenv("SERIAL_PROBE")) {
        t.probe = given;
    } else if (t.wine) {
        const char* exe = std::getenv("MORVANE_EXE");
        if (exe != nullptr) {
            t.probe =
                (fs::path(exe).parent_path() / "tests/e2e/serial_probe/serial-probe.exe").string();
        }
    } else {
        std::error_code ec;
        const fs::path self = fs::read_symlink("/proc/self/exe", ec);
        t.probe = (self.parent_path() / "e2e/serial_probe/serial-probe").string();
    }
    // Only what stops the whole suite (no target, no Windows build, no Wine) skips this test;
    // the suite's environment reports it. A probe missing beside a built program is a failure:
    // the build makes it with the program.
    const char* exe = std::getenv("MORVANE_EXE");
    if (kind == nullptr) {
        t.skip_reason = "MORVANE_TARGET is not set";
    } else if (t.wine && (exe == nullptr || !fs::exists(exe))) {
        t.skip_reason = "no Windows build of the program (build it with: make windows)";
    } else if (t.wine) {
        std::string why;
        if (!testsupport::wine_setup(&why)) {
            t.skip_reason = "Wine cannot run here: " + why;
        }
    }
    return t;
}

class SerialTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        target_ = probe_target();
        if (!target_.skip_reason.empty()) {
            GTEST_SKIP() << target_.skip_reason;
        }
        ASSERT_TRUE(fs::exists(target_.probe)) << "no serial-probe at " << target_.probe;
        ASSERT_TRUE(pty_.ok()) << pty_.error();
        std::vector<std::string> argv;
        std::vector<std::string> env;
        if (target_.wine) {
            mapping_ = std::make_unique<testsupport::ComMapping>(kComNumber, pty_.slave_path());
            ASSERT_TRUE(mapping_->ok()) << mapping_->error();
            argv = {testsupport::wine_run_script(), target_.probe,
                    "COM" + std::to_string(kComNumber)};
            env = testsupport::wine_environment();
        } else {
            argv = {target_.probe, pty_.slave_path()};
        }
        ASSERT_TRUE(probe_.start(argv, env)) << probe_.error();
    }

    // Waits for the probe's "ready <step>" line.
    void await_ready(const std::string& step) {
        // Under Wine the probe's "\n" arrives as "\r\n".
        const std::string line = "ready " + step;
        const auto seen = [&line](const std::string& out, const std::string&) {
            return out.find(line + "\n") != std::string::npos ||
                   out.find(line + "\r\n") != std::string::npos;
        };
        ASSERT_TRUE(probe_.wait_for(seen, milliseconds(20000)))
            << "no 'ready " << step << "'; output so far:\n"
            << probe_.out() << probe_.err();
    }

    void send(const std::string& bytes) { ASSERT_TRUE(pty_.write(bytes.data(), bytes.size())); }

    // The probe's result lines by step, once it has ended.
    std::map<std::string, Step> results() {
        std::map<std::string, Step> steps;
        std::istringstream lines(probe_.out());
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::istringstream fields(line);
            std::string name;
            Step s;
            if (fields >> name >> s.result >> s.hex >> s.ms >> s.left) {
                steps[name] = s;
            }
        }
        return steps;
    }

    ProbeTarget target_;
    test_support::Pty pty_;
    std::unique_ptr<testsupport::ComMapping> mapping_;
    Process probe_;
};

std::string hex_of(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// The whole sequence, played from the device side; then every step's result is checked.
TEST_F(SerialTransfers, EveryTransferOnARealPort) {
    ASSERT_TRUE(probe_.wait_for_text("open 1", milliseconds(20000)))
        << probe_.out() << probe_.err();

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
    const std::vector<uint8_t> sent = pty_.read(7, 20000);
    EXPECT_EQ(hex_of(sent), "01ff68656c6c6f");
    await_ready("close");
    send(".");

    const testsupport::ExitStatus status = probe_.wait(milliseconds(30000));
    ASSERT_TRUE(status.exited && status.code == 0) << status.describe() << "\n"
                                                   << probe_.out() << probe_.err();
    auto steps = results();

    struct Case {
        const char* legend;
        const char* step;
        long result;
        const char* hex;  // null: not checked
        long min_ms;
        long max_ms;
        long left;
    };
    const Case cases[] = {
        {"a partial read on a silent line: 0 after one poll", "partial-empty", 0, "-", 10, 2000, 0},
        {"a partial read of 10 with 3 waiting", "partial", 3, "616263eeeeeeeeeeeeeeee", 0, 2000, 0},
        {"a partial read of 10 with 20 waiting leaves 10", "partial-more", 10,
         "4142434445464748494aee", 0, 2000, 10},
        {"a whole read of 4 then 6 bytes, nothing past the 10th", "whole", 10,
         "0102030405060708090aeeeeeeeeeeee", 50, 5000, 0},
        {"a line with CR LF, stripped", "line-strip", 2, "41420000eeeeeeee", 0, 3000, 0},
        {"a line with CR LF, kept", "line-keep", 3, "41420d00eeeeeeee", 0, 3000, 0},
        {"a line longer than the buffer: 4 stored, unterminated, 7 left", "line-long", 4,
         "41424344eeee", 0, 3000, 7},
        {"a line read with timeout 100 on a silent line", "line-timeout-100", kIdleTimeout, "-",
         110, 2000, 0},
        {"a line read with timeout 0 on a silent line", "line-timeout-0", kIdleTimeout, "-", 10,
         2000, 0},
        {"a byte read of 5 bytes arriving 40 ms apart", "bytes", 5, "000a0dff41ee", 0, 5000, 0},
        {"send_binary of 01 ff returns their sum", "send-binary", 256, "-", 0, 2000, 0},
        {"send_str of an empty text", "send-str-empty", 1, "-", 0, 2000, 0},
        {"send_str of a text", "send-str", 1, "-", 0, 2000, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(steps.count(c.step), 1u) << c.legend << "\n" << probe_.out();
        const Step& s = steps[c.step];
        EXPECT_EQ(s.result, c.result) << c.legend;
        if (c.hex != nullptr) {
            EXPECT_EQ(s.hex, c.hex) << c.legend;
        }
        EXPECT_GE(s.ms, c.min_ms) << c.legend;
        EXPECT_LE(s.ms, c.max_ms) << c.legend;
        EXPECT_EQ(s.left, c.left) << c.legend;
    }
    // A pseudo-terminal reports no line errors, so no text was composed.
    EXPECT_NE(probe_.out().find("line-error []"), std::string::npos) << probe_.out();
}

}  // namespace
