// save_samples when the file cannot be written out: it reports the failure to its caller and on
// stderr, also when the failure came earlier, while writing.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "laser/export.hpp"
#include "laser/samples.hpp"

namespace {

TEST(ExportClose, AFailedWriteOrCloseIsReportedToTheCallerAndOnStderr) {
    const struct {
        const char* legend;
        const char* path;
        bool large_buffer;  // the rows fit the stream's buffer: only the close writes
        const char* stderr_text;
    } cases[] = {
        // /dev/full takes nothing: every write to it reports that no space is left.
        {"a full device, written at the close", "/dev/full", true, "Error: Can't close the file\n"},
        {"a full device, written while saving", "/dev/full", false,
         "Error: Can't close the file\n"},
        {"a device that takes everything", "/dev/null", true, ""},
        {"a device that takes everything, written while saving", "/dev/null", false, ""},
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
        const bool saved = laser::save_samples(1, file);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderr_text);
        EXPECT_EQ(saved, *c.stderr_text == '\0') << "the caller learns of the failure";
    }
}

}  // namespace
