#pragma once
// Fast number formatting for the record files: the same characters as printf's "%.Nf", "%u" and
// "%d", without printf's cost (its arbitrary-precision conversion dominates the writing of a
// file of records).

#include <cstddef>
#include <cstdint>

namespace format {

constexpr int kMaxDecimals = 9;
// Room for any double in fixed notation with kMaxDecimals decimals.
constexpr size_t kMaxFixedLength = 330;

// Writes value as printf("%.*f", decimals, value) does with correct rounding: the exact binary
// value rounded to nearest, ties to even; "-" for any value with the sign bit set (so -0.0 and
// small negatives give "-0.000000"); "inf", "-inf", "nan" and "-nan" for the others. decimals is
// 0 to kMaxDecimals. Writes no terminator; returns the number of characters written.
size_t format_fixed(double value, int decimals, char* out);

// Writes value in decimal, as "%u" / "%llu" do; returns the number of characters (at most 20).
size_t format_unsigned(uint64_t value, char* out);

// Writes value in decimal, as "%d" / "%lld" do; returns the number of characters (at most 20).
size_t format_signed(int64_t value, char* out);

}  // namespace format
