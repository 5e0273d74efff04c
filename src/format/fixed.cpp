#include "format/fixed.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace format {
namespace {

constexpr uint64_t kPow10[] = {1ull,
                               10ull,
                               100ull,
                               1000ull,
                               10000ull,
                               100000ull,
                               1000000ull,
                               10000000ull,
                               100000000ull,
                               1000000000ull,
                               10000000000ull,
                               100000000000ull,
                               1000000000000ull,
                               10000000000000ull,
                               100000000000000ull,
                               1000000000000000ull,
                               10000000000000000ull,
                               100000000000000000ull,
                               1000000000000000000ull};

// The scaled value stays below 10^18, so it fits 64 bits; larger magnitudes go through printf.
constexpr int kMaxScaledDigits = 18;

// A 128-bit unsigned number as two halves; enough for a 53-bit mantissa times 10^9.
struct U128 {
    uint64_t hi;
    uint64_t lo;
};

U128 multiply(uint64_t mantissa, uint64_t factor) {
    // mantissa < 2^53 and factor < 2^32: split the mantissa so that every product fits 64 bits.
    uint64_t low = (mantissa & 0xFFFFFFFFu) * factor;
    uint64_t high = (mantissa >> 32) * factor;
    U128 r{high >> 32, low + (high << 32)};
    if (r.lo < low) {
        ++r.hi;
    }
    return r;
}

bool less(U128 a, U128 b) {
    return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo);
}
bool equal(U128 a, U128 b) {
    return a.hi == b.hi && a.lo == b.lo;
}

// n / 2^shift rounded to nearest, ties to even; shift is 1 to 127.
uint64_t shift_round(U128 n, int shift) {
    uint64_t quotient;
    U128 remainder;
    U128 half;
    if (shift >= 64) {
        int s = shift - 64;
        quotient = s == 0 ? n.hi : n.hi >> s;
        remainder = {s == 0 ? 0 : n.hi & ((uint64_t{1} << s) - 1), n.lo};
        half = s == 0 ? U128{0, uint64_t{1} << 63} : U128{uint64_t{1} << (s - 1), 0};
    } else {
        quotient = (n.lo >> shift) | (n.hi << (64 - shift));
        remainder = {0, n.lo & ((uint64_t{1} << shift) - 1)};
        half = {0, uint64_t{1} << (shift - 1)};
    }
    if (less(half, remainder) || (equal(half, remainder) && (quotient & 1) != 0)) {
        ++quotient;
    }
    return quotient;
}

// The magnitude of the double with these exponent and fraction fields times 10^decimals,
// rounded to nearest, ties to even, exactly; the magnitude times 10^decimals is below 10^18.
uint64_t exact_scale(int exponent_field, uint64_t fraction, int decimals) {
    // magnitude = mantissa * 2^exponent exactly.
    const uint64_t mantissa = exponent_field == 0 ? fraction : fraction | (uint64_t{1} << 52);
    const int exponent = (exponent_field == 0 ? 1 : exponent_field) - 1075;
    if (exponent >= 0) {
        return (mantissa << exponent) * kPow10[decimals];
    }
    if (exponent < -127) {
        return 0;  // below 2^-74 even after scaling: rounds to zero
    }
    return shift_round(multiply(mantissa, kPow10[decimals]), -exponent);
}

// The powers of ten that are exact doubles, for the fast path.
constexpr double kPow10Double[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Below 2^52 a double's fraction is exact after floor, and the product's rounding error stays
// far below the margin the fast path keeps from a tie.
constexpr double kFastProductLimit = 4503599627370496.0;  // 2^52

// magnitude * 10^decimals rounded to nearest, computed in double precision, when that product
// decides the rounding: true and *scaled set, or false when the exact product lies too close to
// a tie to tell (or is too large) and the exact path must decide.
bool fast_scale(double magnitude, int decimals, uint64_t* scaled) {
    // The product is within half an ulp, at most p * 2^-53, of the exact one; a value at least
    // eight times that far from the half-way point rounds the same way as the exact product,
    // and one near an integer rounds to that integer either way.
    const double p = magnitude * kPow10Double[decimals];
    if (!(p < kFastProductLimit)) {
        return false;
    }
    const double whole = std::floor(p);
    const double fraction = p - whole;
    if (std::fabs(fraction - 0.5) <= p * 0x1p-50) {
        return false;
    }
    *scaled = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1u : 0u);
    return true;
}

// "00" to "99": two digits per division, which halves the divisions of a number.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of value, at least min_digits of them (zero-padded), so that they
// end just before end; returns where they begin. The values of the files fit 32 bits, where the
// division is cheap on a 32-bit machine too.
char* write_digits_backwards(uint64_t value, int min_digits, char* end) {
    char* p = end;
    while (value > 0xFFFFFFFFu) {
        const uint64_t quotient = value / 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * (value - quotient * 100), 2);
        value = quotient;
    }
    auto small = static_cast<uint32_t>(value);
    while (small >= 100) {
        const uint32_t quotient = small / 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * (small - quotient * 100), 2);
        small = quotient;
    }
    if (small >= 10) {
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * small, 2);
    } else {
        *--p = static_cast<char>('0' + small);
    }
    while (end - p < min_digits) {
        *--p = '0';
    }
    return p;
}

}  // namespace

size_t format_unsigned(uint64_t value, char* out) {
    char digits[20];
    char* const end = digits + sizeof digits;
    const char* first = write_digits_backwards(value, 1, end);
    const auto n = static_cast<size_t>(end - first);
    std::memcpy(out, first, n);
    return n;
}

size_t format_signed(int64_t value, char* out) {
    if (value < 0) {
        out[0] = '-';
        // Negate in unsigned arithmetic so that the smallest value does not overflow.
        return 1 + format_unsigned(0 - static_cast<uint64_t>(value), out + 1);
    }
    return format_unsigned(static_cast<uint64_t>(value), out);
}

size_t format_fixed(double value, int decimals, char* out) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);

    if (exponent_field == 0x7FF ||
        std::fabs(value) >= static_cast<double>(kPow10[kMaxScaledDigits - decimals])) {
        // Infinities, NaNs and huge magnitudes are rare: printf writes them.
        int n = std::snprintf(out, kMaxFixedLength, "%.*f", decimals, value);
        return n < 0 ? 0 : static_cast<size_t>(n);
    }

    // Most values are decided by a double-precision product; ties and near-ties go the exact
    // way below.
    uint64_t scaled;
    if (!fast_scale(std::fabs(value), decimals, &scaled)) {
        scaled = exact_scale(exponent_field, fraction, decimals);
    }

    // scaled holds the integer digits then the decimals; at least one integer digit is shown.
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* first = write_digits_backwards(scaled, decimals + 1, end);
    const auto integer_digits = static_cast<size_t>(end - first) - static_cast<size_t>(decimals);

    size_t n = 0;
    if (negative) {
        out[n++] = '-';
    }
    std::memcpy(out + n, first, integer_digits);
    n += integer_digits;
    if (decimals > 0) {
        out[n++] = '.';
        std::memcpy(out + n, first + integer_digits, static_cast<size_t>(decimals));
        n += static_cast<size_t>(decimals);
    }
    return n;
}

}  // namespace format
