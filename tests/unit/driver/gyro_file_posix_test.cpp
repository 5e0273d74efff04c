// The gyro file's write-out and failure rules on real files: what the last completed write-out
// covers is what the summary counts, a write or write-out that fails is told once and ends the
// recording, and the close then says the file is incomplete without a second message.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "../ahrs/packet_builder.hpp"
#include "driver/gyro_recording.hpp"
#include "text.hpp"

namespace {

// Hands `packets` valid angle-mode packets to the recording, one record each, as the gyro phase
// does; a record the stream refuses is reported as the phase reports it.
void record_packets(driver::GyroRecording* gyro, int packets) {
    for (int n = 1; n <= packets && !gyro->file.failed; ++n) {
        const auto packet = ahrs_test::make_packet('a', {{ahrs_test::angle::kTail, 1}});
        std::copy(packet.begin(), packet.end(), ahrs::framer_space(&gyro->framer));
        ahrs::framer_received(&gyro->framer, static_cast<uint32_t>(packet.size()));
        errno = 0;
        driver::GyroStep step = driver::kGyroGroupDone;
        while (step == driver::kGyroGroupDone) {
            step = driver::gyro_step(gyro);
        }
        if (step == driver::kGyroWriteFailed) {
            driver::report_gyro_write_failure(gyro, errno);
        }
    }
}

TEST(GyroFile, WriteOutAndFailureRules) {
    char dir[] = "/tmp/morvane-gyro-file-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string disk_file = std::string(dir) + "/gyro.txt";
    struct Case {
        const char* legend;
        std::string path = "/dev/full";
        bool unbuffered = false;  // every record goes to the system at once
        uint32_t records = 3;     // records handed to the stream
        uint32_t on_disk = 0;     // records the summary may count
        bool complete = false;    // what close_gyro_file says
        // What stderr tells, all of it.
        std::string messages =
            "Gyro - Error: can't write the file /dev/full: No space left on device\n";
    };
    const Case cases[] = {
        {.legend = "a disk file: every record reaches the disk",
         .path = disk_file,
         .on_disk = 3,
         .complete = true,
         .messages = ""},
        {.legend = "a full disk behind the stream's buffer: the write-out fails"},
        {.legend = "a full disk, unbuffered: the first record fails",
         .unbuffered = true,
         .records = 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        static driver::GyroRecording gyro;
        driver::RunSettings settings;
        driver::gyro_recording_start(&gyro, settings);
        ASSERT_TRUE(driver::open_gyro_file(&gyro, c.path.c_str()));
        if (c.unbuffered) {
            ASSERT_EQ(std::setvbuf(gyro.file.stream, nullptr, _IONBF, 0), 0);
        }
        driver::gyro_link_ready(&gyro, ahrs::kAnglePacketLength);
        testing::internal::CaptureStderr();
        record_packets(&gyro, 3);
        // The once-a-second write-out, twice: a failure is told once.
        driver::write_out_gyro_file(&gyro);
        driver::write_out_gyro_file(&gyro);
        EXPECT_EQ(gyro.records, c.records);
        const bool complete = driver::close_gyro_file(&gyro, true);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
        EXPECT_EQ(complete, c.complete);
        EXPECT_EQ(gyro.file.on_disk, c.on_disk);
        EXPECT_EQ(gyro.file.failed, !c.complete);
        EXPECT_EQ(gyro.file.stream, nullptr);
    }
    EXPECT_EQ(testsupport::count_of(testsupport::read_file(disk_file), "\n"), 3u);
    std::remove(disk_file.c_str());
    rmdir(dir);
}

}  // namespace
