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

// Writes value zero-padded to width digits.
void write_padded(uint64_t value, int width, char* out) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

size_t format_unsigned(uint64_t value, char* out) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i) {
        out[i] = digits[n - 1 - i];
    }
    return static_cast<size_t>(n);
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

    // value = mantissa * 2^exponent exactly.
    uint64_t mantissa = exponent_field == 0 ? fraction : fraction | (uint64_t{1} << 52);
    int exponent = (exponent_field == 0 ? 1 : exponent_field) - 1075;

    // scaled = value * 10^decimals, rounded to nearest, ties to even.
    uint64_t scaled;
    if (exponent >= 0) {
        scaled = (mantissa << exponent) * kPow10[decimals];
    } else if (exponent < -127) {
        scaled = 0;  // below 2^-74 even after scaling: rounds to zero
    } else {
        scaled = shift_round(multiply(mantissa, kPow10[decimals]), -exponent);
    }

    size_t n = 0;
    if (negative) {
        out[n++] = '-';
    }
    n += format_unsigned(scaled / kPow10[decimals], out + n);
    if (decimals > 0) {
        out[n++] = '.';
        write_padded(scaled % kPow10[decimals], decimals, out + n);
        n += static_cast<size_t>(decimals);
    }
    return n;
}

}  // namespace format
