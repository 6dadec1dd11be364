// The 80-bit extended-precision float that the database file stores for float
// entries, converted to and from double by bit manipulation alone, so that the
// result is the same on every compiler and platform (long double is 64, 80 or
// 128 bits wide depending on both). Pure functions, callable from any thread.
//
// Byte layout, little-endian:
//
//   bytes 0..7   64-bit significand, explicit leading (integer) bit in bit 63
//   bytes 8..9   bit 15: sign; bits 14..0: exponent, bias 16383
//
//   value = (-1)^sign * significand * 2^(exponent - 16383 - 63)
//   exponent 0x7FFF: infinity (fraction bits 62..0 zero) or NaN
#pragma once

#include <array>
#include <cstdint>

namespace voxhall::storage {

using Extended80 = std::array<std::uint8_t, 10>;

// Exact: every double is representable. NaNs become quiet NaNs keeping their
// payload's top bits; subnormal doubles are normalised.
Extended80 DoubleToExtended(double value);

// Rounds to nearest, ties to even. Values beyond double's range become
// infinity, values below its smallest subnormal a zero of the same sign.
// Unnormals (leading bit clear with a non-zero exponent) are read by their
// numeric value; pseudo-denormals likewise.
double ExtendedToDouble(const Extended80& bytes);

}  // namespace voxhall::storage
