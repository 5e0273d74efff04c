#pragma once
// A simulator's refusal of a value on its command line, as the end-to-end tests check it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// Runs program with options, whose first two words are the option and the value it refuses.
// Succeeds when the program ends with exit code 2 without printing a device path, and with one
// line on standard error naming "bad value for <option>: <value>" and containing accepted.
::testing::AssertionResult refuses_value(const std::string& program,
                                         const std::vector<std::string>& options,
                                         const std::string& accepted);

}  // namespace testsupport
