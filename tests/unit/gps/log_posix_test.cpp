// A GPS file that cannot be written (a full disk, /dev/full): the first failure is remembered
// with its errno, and nothing more is written or claimed to be in the file.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "gps/log.hpp"
#include "nmea_builder.hpp"

namespace {

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

TEST(GpsFile, RemembersTheFirstWriteFailure) {
    struct Case {
        const char* legend;
        bool unbuffered;   // every write reaches the disk at once
        bool hold;         // the line is held, then released
        bool piece_ok;     // what log_piece returns
        bool release_ok;   // what log_release returns, with a hold
        uint32_t written;  // lines handed to the stream
    };
    const Case cases[] = {
        {.legend = "buffered: the line is taken, the flush fails",
         .unbuffered = false,
         .hold = false,
         .piece_ok = true,
         .release_ok = false,
         .written = 1},
        {.legend = "unbuffered: the write fails",
         .unbuffered = true,
         .hold = false,
         .piece_ok = false,
         .release_ok = false,
         .written = 0},
        {.legend = "unbuffered: the line is held, its release fails",
         .unbuffered = true,
         .hold = true,
         .piece_ok = true,
         .release_ok = false,
         .written = 0},
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
        EXPECT_EQ(gps_test::log_stream(&log, kGga, 1.0), c.piece_ok);
        if (c.hold) {
            EXPECT_EQ(gps::log_release(&log, 2.0), c.release_ok);
        }
        EXPECT_FALSE(gps::log_flush(&log));
        EXPECT_TRUE(log.failed);
        EXPECT_EQ(log.error, ENOSPC);
        EXPECT_EQ(log.lines_written, c.written);
        EXPECT_EQ(log.lines_on_disk, 0u);

        // After the failure nothing more is written, and the pieces are still counted.
        EXPECT_FALSE(gps_test::log_stream(&log, kGga, 1.0));
        EXPECT_FALSE(gps::log_flush(&log));
        EXPECT_EQ(log.error, ENOSPC);
        EXPECT_EQ(log.lines_written, c.written);
        EXPECT_EQ(log.sentences, 2u);
        (void)std::fclose(file);
    }
}

}  // namespace
