// A GPS file that cannot be written (a full disk, /dev/full): the first failure is remembered
// with its errno, and nothing more is written or claimed to be in the file.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "gps/log.hpp"
#include "nmea_builder.hpp"

namespace {

const std::string kGgaLine = gps_test::kGga + "\r\n";

TEST(GpsFile, RemembersTheFirstWriteFailure) {
    struct Case {
        const char* legend;
        bool unbuffered = false;  // every write reaches the disk at once
        bool hold = false;        // the line is held, then released
        bool piece_ok = true;     // what log_piece returns
        uint32_t written = 0;     // lines handed to the stream
    };
    const Case cases[] = {
        {.legend = "buffered: the line is taken, the flush fails", .written = 1},
        {.legend = "unbuffered: the write fails", .unbuffered = true, .piece_ok = false},
        {.legend = "unbuffered: the line is held, its release fails",
         .unbuffered = true,
         .hold = true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FILE* file = std::fopen("/dev/full", "wb");
        ASSERT_NE(file, nullptr);
        if (c.unbuffered) {
            ASSERT_EQ(std::setvbuf(file, nullptr, _IONBF, 0), 0);
        }
        gps::Log log;
        ASSERT_TRUE(gps::log_start(&log, file));
        if (c.hold) {
            gps::log_hold(&log);
        }
        EXPECT_EQ(gps_test::log_stream(&log, kGgaLine, 1.0), c.piece_ok);
        if (c.hold) {
            EXPECT_FALSE(gps::log_release(&log, 2.0));
        }
        EXPECT_FALSE(gps::log_flush(&log));
        EXPECT_TRUE(log.failed);
        EXPECT_EQ(log.error, ENOSPC);
        EXPECT_EQ(log.lines_written, c.written);
        EXPECT_EQ(log.lines_on_disk, 0u);

        // After the failure nothing more is written, and the pieces are still counted.
        EXPECT_FALSE(gps_test::log_stream(&log, kGgaLine, 1.0));
        EXPECT_FALSE(gps::log_flush(&log));
        EXPECT_EQ(log.error, ENOSPC);
        EXPECT_EQ(log.lines_written, c.written);
        EXPECT_EQ(log.sentences, 2u);
        (void)std::fclose(file);
    }
}

}  // namespace
