// The GPS recording on a pseudo-terminal that plays the receiver, into a real GPS file: the time
// each piece is written with, the notice of a silent receiver, and a lost port or a GPS file that
// fails, each told once. The run's clock is handed in, so the times are the test's own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "../gps/nmea_builder.hpp"
#include "driver/gps_recording.hpp"
#include "pty.hpp"
#include "text.hpp"

namespace {

using gps_test::kGga;
using gps_test::kRmc;

// A receiver on a pseudo-terminal and the recording of it into `file`, started at base_ms.
struct Receiver {
    test_support::Pty pty;
    std::string file;
    driver::RunSettings settings;
    driver::GpsRecording gps;
    uint32_t base_ms = 1000;

    explicit Receiver(std::string gps_file) : file(std::move(gps_file)) {
        settings.gps_port = pty.slave_path().c_str();
        settings.gps_file = file.c_str();
    }

    bool start() {
        if (!pty.ok() || !driver::create_gps_file(&gps, settings)) {
            return false;
        }
        driver::start_gps(&gps, base_ms);
        return gps.recording;
    }

    // Sends text and polls at base_ms + at_ms until the recording has counted `pieces` pieces in
    // all, or, with pieces 0, until it holds the start of one (the terminal hands bytes on a
    // moment after they are written); false after 2 s. Without text: one poll.
    bool send(const std::string& text, uint32_t at_ms, uint32_t pieces) {
        if (text.empty()) {
            driver::receive_gps(&gps, base_ms + at_ms);
            return true;
        }
        if (!pty.write(text.data(), text.size())) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            driver::receive_gps(&gps, base_ms + at_ms);
            if (pieces > 0 ? gps.log.sentences >= pieces
                           : gps.splitter.state != gps::Splitter::kOutside) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

std::string temporary_file() {
    char path[] = "/tmp/morvane-gps-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    return path;
}

std::string line(uint32_t ms, const std::string& text) {
    return gps_test::file_line(ms / 1000.0, text);
}

// Two sentences read in one poll, then a sentence whose end comes at a later poll.
TEST(GpsRecording, EachPieceTakesTheTimeOfThePollThatReadItsEnd) {
    struct Send {
        std::string text;
        uint32_t at_ms;
        uint32_t pieces;  // pieces counted in all once it is read; 0: it starts one, unfinished
    };
    const std::string half = kGga.substr(0, 30);
    const Send sends[] = {
        {.text = kGga + "\r\n" + kRmc + "\r\n", .at_ms = 1234, .pieces = 2},
        {.text = half, .at_ms = 2000, .pieces = 0},
        {.text = kGga.substr(half.size()) + "\r\n", .at_ms = 2500, .pieces = 3},
    };
    Receiver r(temporary_file());
    ASSERT_TRUE(r.start()) << r.pty.error();
    for (const Send& s : sends) {
        ASSERT_TRUE(r.send(s.text, s.at_ms, s.pieces)) << s.at_ms;
    }
    testing::internal::CaptureStdout();
    EXPECT_TRUE(driver::end_gps(&r.gps, r.base_ms + 3000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GPS - 3 sentences, 0 invalid, 2 fixes\n");
    EXPECT_EQ(
        testsupport::read_file(r.file),
        line(r.base_ms + 1234, kGga) + line(r.base_ms + 1234, kRmc) + line(r.base_ms + 2500, kGga));
    std::remove(r.file.c_str());
}

TEST(GpsRecording, SilenceIsToldOnceUntilSentencesComeAndStopAgain) {
    struct Step {
        uint32_t at_ms;
        bool sentence;  // the receiver sends one just before
        int notices;    // notices told so far
    };
    const Step steps[] = {
        {.at_ms = 4999, .sentence = false, .notices = 0},
        {.at_ms = 5000, .sentence = false, .notices = 1},
        {.at_ms = 9000, .sentence = false, .notices = 1},
        {.at_ms = 9500, .sentence = true, .notices = 1},
        {.at_ms = 14499, .sentence = false, .notices = 1},
        {.at_ms = 14500, .sentence = false, .notices = 2},
    };
    Receiver r(temporary_file());
    ASSERT_TRUE(r.start()) << r.pty.error();
    const std::string notice = "GPS - no sentence from the receiver for 5 s, still listening\n";
    std::string told;
    uint32_t sentences = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.at_ms);
        sentences += s.sentence ? 1 : 0;
        testing::internal::CaptureStdout();
        const bool sent = r.send(s.sentence ? kGga + "\r\n" : "", s.at_ms, sentences);
        told += testing::internal::GetCapturedStdout();
        ASSERT_TRUE(sent);
        std::string expected;
        for (int n = 0; n < s.notices; ++n) {
            expected += notice;
        }
        EXPECT_EQ(told, expected);
    }
    testing::internal::CaptureStdout();
    EXPECT_TRUE(driver::end_gps(&r.gps, r.base_ms + 14500));
    (void)testing::internal::GetCapturedStdout();
    std::remove(r.file.c_str());
}

TEST(GpsRecording, ALostPortOrAFailedFileIsToldOnce) {
    struct Case {
        const char* legend;
        std::string file;     // the GPS file
        bool hang_up;         // the receiver's adapter is unplugged after the first sentence
        std::string message;  // the start of the one line told on stderr
        bool complete;        // what end_gps says of the GPS file
    };
    const Case cases[] = {
        {.legend = "the adapter unplugged",
         .file = temporary_file(),
         .hang_up = true,
         .message = "GPS - lost the serial port, ",
         .complete = true},
        {.legend = "a full disk",
         .file = "/dev/full",
         .hang_up = false,
         .message = "GPS - Error: can't write the file /dev/full: No space left on device\n",
         .complete = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Receiver r(c.file);
        ASSERT_TRUE(r.start()) << r.pty.error();
        // Captured from the start: capturing flushes every stream, the GPS file's too.
        testing::internal::CaptureStderr();
        const bool sent = r.send(kGga + "\r\n", 50, 1);
        if (c.hang_up) {
            r.pty.hang_up();
        }
        // Polls and write-outs within the 2 s before a lost port is reopened.
        for (const uint32_t at_ms : {150u, 1000u, 1999u}) {
            driver::receive_gps(&r.gps, r.base_ms + at_ms);
            driver::flush_gps_file(&r.gps);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(driver::end_gps(&r.gps, r.base_ms + 1999), c.complete);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "GPS - 1 sentences, 0 invalid, 1 fixes\n");
        const std::string told = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(sent);
        EXPECT_EQ(told.rfind(c.message, 0), 0u) << told;
        EXPECT_EQ(testsupport::count_of(told, "\n"), 1u) << told;
        if (c.hang_up) {
            EXPECT_EQ(testsupport::read_file(r.file), line(r.base_ms + 50, kGga));
            std::remove(r.file.c_str());
        }
    }
}

}  // namespace
