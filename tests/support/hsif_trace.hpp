#pragma once
// The call trace that the simulated interface library writes when HSIF_SIM_TRACE names a file:
// one line per call, the entry point's name, its arguments and " -> " with the result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct HsifCall {
    std::string name;               // the entry point, such as "HsifSetMotorPower"
    std::vector<std::string> args;  // the argument words as traced, in order
    std::string result;             // the text after " -> "

    // Argument i as an integer; nullopt when it is missing or not a decimal integer (a pointer,
    // a text).
    std::optional<int64_t> int_arg(size_t i) const;
    // The result as an integer; nullopt when it is not one.
    std::optional<int64_t> int_result() const;
    // "HsifSetMotorPower(5, 1, 0) -> 1", for test messages.
    std::string describe() const;
};

// Parses a whole trace; "\r\n" line ends (a Windows library writing in text mode) are accepted,
// and blank lines are skipped.
std::vector<HsifCall> parse_hsif_trace(const std::string& text);

// The names of the calls, in order.
std::vector<std::string> call_names(const std::vector<HsifCall>& calls);

// The calls named name, in order.
std::vector<HsifCall> calls_named(const std::vector<HsifCall>& calls, const std::string& name);

// The whole trace, one call per line, for test messages.
std::string describe(const std::vector<HsifCall>& calls);

}  // namespace testsupport
