#include "storage/extended_float.h"

#include <bit>

namespace voxhall::storage {

namespace {

constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;
constexpr std::uint64_t kLeadingBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kDoubleFractionMask = (std::uint64_t{1} << 52) - 1;

// `value` shifted right by `shift` bits, rounded to nearest with ties to even.
std::uint64_t ShiftRightRounded(std::uint64_t value, int shift) {
  if (shift <= 0) return value;
  if (shift > 64) return 0;
  const std::uint64_t kept = shift == 64 ? 0 : value >> shift;
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  const std::uint64_t rest = shift == 64 ? value : value & ((std::uint64_t{1} << shift) - 1);
  if (rest > half || (rest == half && (kept & 1) != 0)) return kept + 1;
  return kept;
}

}  // namespace

Extended80 DoubleToExtended(double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & kDoubleFractionMask;

  std::uint64_t significand = 0;
  int biased = 0;
  if (exponent == 0x7FF) {
    biased = 0x7FFF;
    significand = kLeadingBit | (fraction << 11);
    if (fraction != 0) significand |= std::uint64_t{1} << 62;  // quiet NaN
  } else if (exponent != 0) {
    biased = exponent - kDoubleBias + kExtendedBias;
    significand = kLeadingBit | (fraction << 11);
  } else if (fraction != 0) {
    // Subnormal: fraction * 2^-1074 = (fraction << shift) * 2^(e - 63).
    const int shift = std::countl_zero(fraction);
    significand = fraction << shift;
    biased = -1011 - shift + kExtendedBias;
  }

  Extended80 out{};
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(significand >> (8 * i));
  const std::uint16_t top = static_cast<std::uint16_t>((negative ? 0x8000 : 0) | biased);
  out[8] = static_cast<std::uint8_t>(top & 0xFF);
  out[9] = static_cast<std::uint8_t>(top >> 8);
  return out;
}

double ExtendedToDouble(const Extended80& bytes) {
  std::uint64_t significand = 0;
  for (int i = 0; i < 8; ++i) significand |= std::uint64_t{bytes[i]} << (8 * i);
  const std::uint16_t top = static_cast<std::uint16_t>(bytes[8] | (bytes[9] << 8));
  const std::uint64_t sign = static_cast<std::uint64_t>(top >> 15) << 63;
  const int biased = top & 0x7FFF;

  if (biased == 0x7FFF) {
    const std::uint64_t fraction = significand & ~kLeadingBit;
    if (fraction == 0) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
    // NaN: keep the top fraction bits, and keep it a NaN.
    std::uint64_t payload = (fraction >> 11) & kDoubleFractionMask;
    payload |= std::uint64_t{1} << 51;
    return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52) | payload);
  }
  if (significand == 0) return std::bit_cast<double>(sign);

  // value = significand * 2^(e - 63) with the leading bit moved to bit 63.
  const int shift = std::countl_zero(significand);
  significand <<= shift;
  // A biased exponent of 0 means 2^(1 - bias), like a subnormal.
  int e = (biased == 0 ? 1 : biased) - kExtendedBias - shift;

  if (e > kDoubleBias) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
  if (e >= 1 - kDoubleBias) {
    // Normal: 53 bits (leading bit included) from the top of the significand.
    std::uint64_t mantissa = ShiftRightRounded(significand, 11);
    if (mantissa >> 53) {  // rounding carried into a new leading bit
      mantissa >>= 1;
      ++e;
      if (e > kDoubleBias) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
    }
    const std::uint64_t double_exponent = static_cast<std::uint64_t>(e + kDoubleBias);
    return std::bit_cast<double>(sign | (double_exponent << 52) | (mantissa & kDoubleFractionMask));
  }
  // Subnormal result: units of 2^-1074. The significand is in units of
  // 2^(e - 63), so shift right by (-1074) - (e - 63). Rounding may carry into
  // the smallest normal, which the same bit pattern expresses.
  const int subnormal_shift = -1074 - (e - 63);
  const std::uint64_t mantissa = ShiftRightRounded(significand, subnormal_shift);
  return std::bit_cast<double>(sign | mantissa);
}

}  // namespace voxhall::storage
