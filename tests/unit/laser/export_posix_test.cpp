// save_samples on a device that cannot take the rows: it tells its caller whether every row
// reached the stream and prints nothing (the laser phase reports, flushes and closes).

#include <gtest/gtest.h>

#include <cstdio>

#include "laser/export.hpp"

namespace {

TEST(ExportWrite, TellsWhetherEveryRowReachedTheStream) {
    const struct {
        const char* legend;
        const char* path;
        bool large_buffer;  // the rows fit the stream's buffer: only the close writes them
        bool reached;
    } cases[] = {
        // /dev/full takes nothing: every write to it reports that no space is left.
        {"a full device, written while saving", "/dev/full", false, false},
        {"a full device, the rows still in the buffer", "/dev/full", true, true},
        {"a device that takes everything", "/dev/null", false, true},
    };
    static char buffer[1 << 22];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        FILE* file = std::fopen(c.path, "w");
        ASSERT_NE(file, nullptr);
        if (c.large_buffer) {
            ASSERT_EQ(std::setvbuf(file, buffer, _IOFBF, sizeof buffer), 0);
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(laser::save_samples(1, file), c.reached);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        std::fclose(file);
    }
}

}  // namespace
