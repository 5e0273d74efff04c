// The tuning operations where their outcome does not depend on privileges. Runs natively and
// under Wine; failures, which need a process without privileges, are in tuning_posix_test.cpp.

#include "capture_config/tuning.hpp"

#include <gtest/gtest.h>

#include "scratch.hpp"

namespace {

// Setting the priority class a process starts with is always permitted: 1 and no output.
TEST(Tuning, PriorityBackToNormalSucceedsSilently) {
    int32_t result = -1;
    const std::string out =
        capture_test::stdout_of([&] { result = capture_config::set_priority_normal(); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "");
}

}  // namespace
