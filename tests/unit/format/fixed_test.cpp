// The fast formatter against the C library's printf: the same characters for every value.

#include "format/fixed.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string fast(double value, int decimals) {
    char buffer[format::kMaxFixedLength];
    return std::string(buffer, format::format_fixed(value, decimals, buffer));
}

std::string reference(double value, int decimals) {
    char buffer[format::kMaxFixedLength + 8];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

double from_bits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(FixedFormat, EdgeValuesMatchPrintf) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* legend;
        double value;
    } cases[] = {
        {"zero", 0.0},
        {"negative zero", -0.0},
        {"a negative value that rounds to zero", -1e-9},
        {"exact binary tie 0.125", 0.125},
        {"exact binary tie 2.5", 2.5},
        {"exact binary tie 0.5", 0.5},
        {"exact binary tie 1.5", 1.5},
        {"a tie at the seventh decimal (32 volt counts)", 0.0390625},
        {"a tie that rounds up to even", 0.0078125 * 3},
        {"rounds up to a new digit", 9.9999999},
        {"rounds up to a new digit, negative", -99.99999999},
        {"just below a tie", std::nextafter(0.125, 0.0)},
        {"just above a tie", std::nextafter(0.125, 1.0)},
        {"one third", 1.0 / 3.0},
        {"the largest angle", 180.0},
        {"the smallest angle", -32768 * 180.0 / 32767.0},
        {"a voltage count", 65535 * 0.001220703125},
        {"the hottest temperature", ((65535 * 5.0) / 4096.0 - 1.375) * 44.44},
        {"the largest 32-bit count", 4294967295.0},
        {"the smallest positive subnormal", from_bits(1)},
        {"the smallest normal", DBL_MIN},
        {"the largest value", DBL_MAX},
        {"the smallest value", -DBL_MAX},
        {"beyond the fast range", 1e17},
        {"at the top of the fast range", 999999999999.9999},
        {"infinity", inf},
        {"negative infinity", -inf},
        {"not a number", std::nan("")},
        {"a negative not a number", -std::nan("")},
    };
    for (const auto& c : cases) {
        for (int decimals = 0; decimals <= format::kMaxDecimals; ++decimals) {
            SCOPED_TRACE(std::string(c.legend) + ", decimals " + std::to_string(decimals));
            EXPECT_EQ(fast(c.value, decimals), reference(c.value, decimals));
        }
    }
}

TEST(FixedFormat, RandomValuesMatchPrintf) {
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> reading(-4000.0, 4000.0);
    std::uniform_int_distribution<int> exponent(-30, 40);
    const int kDecimals[] = {0, 1, 2, 4, 6};
    int mismatches = 0;
    for (int i = 0; i < 1000000 && mismatches < 10; ++i) {
        // Readings of the record files, values spread over many magnitudes, and now and then any
        // bit pattern at all (slow for printf when huge, so rarer).
        double values[] = {reading(random), std::ldexp(reading(random), exponent(random)),
                           i % 16 == 0 ? from_bits(random()) : 0.0};
        for (double value : values) {
            for (int decimals : kDecimals) {
                std::string got = fast(value, decimals);
                std::string want = reference(value, decimals);
                if (got != want) {
                    ++mismatches;
                    ADD_FAILURE() << "value " << std::hexfloat << value << " decimals " << decimals
                                  << ": " << got << " instead of " << want;
                }
            }
        }
    }
}

TEST(IntegerFormat, MatchesPrintf) {
    const int64_t cases[] = {0,         1,         -1,        9,         10,        65535,
                             INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN, 4294967295};
    for (int64_t value : cases) {
        char buffer[24];
        char want[32];
        std::snprintf(want, sizeof want, "%lld", static_cast<long long>(value));
        EXPECT_EQ(std::string(buffer, format::format_signed(value, buffer)), want);
        std::snprintf(want, sizeof want, "%llu",
                      static_cast<unsigned long long>(static_cast<uint64_t>(value)));
        EXPECT_EQ(
            std::string(buffer, format::format_unsigned(static_cast<uint64_t>(value), buffer)),
            want);
    }
}

}  // namespace
