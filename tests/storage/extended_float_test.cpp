#include "storage/extended_float.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace voxhall::storage {
namespace {

Extended80 Make(std::uint64_t significand, std::uint16_t sign_exponent) {
  Extended80 e{};
  for (int i = 0; i < 8; ++i) e[i] = static_cast<std::uint8_t>(significand >> (8 * i));
  e[8] = static_cast<std::uint8_t>(sign_exponent);
  e[9] = static_cast<std::uint8_t>(sign_exponent >> 8);
  return e;
}

TEST(ExtendedFloatTest, KnownEncodings) {
  EXPECT_EQ(DoubleToExtended(0.0), Make(0, 0));
  EXPECT_EQ(DoubleToExtended(-0.0), Make(0, 0x8000));
  EXPECT_EQ(DoubleToExtended(1.0), Make(0x8000000000000000, 0x3FFF));
  EXPECT_EQ(DoubleToExtended(-2.0), Make(0x8000000000000000, 0xC000));
  EXPECT_EQ(DoubleToExtended(0.5), Make(0x8000000000000000, 0x3FFE));
  EXPECT_EQ(DoubleToExtended(3.0), Make(0xC000000000000000, 0x4000));
  EXPECT_EQ(DoubleToExtended(std::numeric_limits<double>::infinity()),
            Make(0x8000000000000000, 0x7FFF));
  EXPECT_EQ(DoubleToExtended(-std::numeric_limits<double>::infinity()),
            Make(0x8000000000000000, 0xFFFF));
  // The smallest subnormal double, 2^-1074, normalised.
  EXPECT_EQ(DoubleToExtended(std::numeric_limits<double>::denorm_min()),
            Make(0x8000000000000000, 16383 - 1074));
}

TEST(ExtendedFloatTest, DecodesKnownValues) {
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000000, 0x3FFF)), 1.0);
  EXPECT_EQ(ExtendedToDouble(Make(0xA000000000000000, 0x4002)), 10.0);
  // A date-time of 2024-01-15 12:00 as days since 1899-12-30.
  EXPECT_EQ(ExtendedToDouble(DoubleToExtended(45306.5)), 45306.5);
  EXPECT_TRUE(std::signbit(ExtendedToDouble(Make(0, 0x8000))));
  EXPECT_TRUE(std::isnan(ExtendedToDouble(Make(0xC000000000000000, 0x7FFF))));
  EXPECT_TRUE(std::isinf(ExtendedToDouble(Make(0x8000000000000000, 0x7FFF))));
}

TEST(ExtendedFloatTest, RoundsToNearestEven) {
  // 1 + 2^-53 is halfway between 1 and the next double: ties go to 1 (even).
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000400, 0x3FFF)), 1.0);
  // 1 + 3 * 2^-53 is halfway between 1 + 2^-52 and 1 + 2^-51: ties go up.
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000C00, 0x3FFF)), 1.0 + std::ldexp(1.0, -51));
  // Just above the halfway point rounds up.
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000401, 0x3FFF)), 1.0 + std::ldexp(1.0, -52));
  // All ones round up into the next power of two.
  EXPECT_EQ(ExtendedToDouble(Make(0xFFFFFFFFFFFFFFFF, 0x3FFF)), 2.0);
}

TEST(ExtendedFloatTest, OutOfRangeValues) {
  EXPECT_TRUE(std::isinf(ExtendedToDouble(Make(0x8000000000000000, 0x3FFF + 1024))));
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000000, 0x3FFF + 1023)), std::ldexp(1.0, 1023));
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000000, 1)), 0.0);
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000000, 0x3FFF - 1074)),
            std::numeric_limits<double>::denorm_min());
  // Half the smallest subnormal is a tie and goes to zero; a bit more goes up.
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000000, 0x3FFF - 1075)), 0.0);
  EXPECT_EQ(ExtendedToDouble(Make(0x8000000000000001, 0x3FFF - 1075)),
            std::numeric_limits<double>::denorm_min());
  // The largest double's rounding boundary overflows to infinity.
  EXPECT_TRUE(std::isinf(ExtendedToDouble(Make(0xFFFFFFFFFFFFFC00, 0x3FFF + 1023))));
}

TEST(ExtendedFloatTest, EveryDoubleRoundTripsExactly) {
  std::mt19937_64 random(42);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = random();
    const double value = std::bit_cast<double>(bits);
    const double back = ExtendedToDouble(DoubleToExtended(value));
    if (std::isnan(value)) {
      EXPECT_TRUE(std::isnan(back));
    } else {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(back), bits) << value;
    }
  }
}

// Where the compiler's long double is the x87 80-bit format, its conversions
// are the reference for ours.
TEST(ExtendedFloatTest, AgreesWithX87LongDouble) {
  if constexpr (std::numeric_limits<long double>::digits != 64) {
    GTEST_SKIP() << "long double is not the 80-bit format here";
  } else {
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
      std::uint64_t significand = random() | 0x8000000000000000;
      if (i % 3 == 0) significand &= ~((std::uint64_t{1} << (random() % 12)) - 1);
      // Exponents around double's range, subnormal range included.
      const int exponent = 16383 - 1100 + static_cast<int>(random() % 2200);
      const std::uint16_t top = static_cast<std::uint16_t>(exponent | ((random() & 1) << 15));
      const Extended80 e = Make(significand, top);
      long double reference = 0;
      std::memcpy(&reference, e.data(), e.size());
      ASSERT_EQ(std::bit_cast<std::uint64_t>(ExtendedToDouble(e)),
                std::bit_cast<std::uint64_t>(static_cast<double>(reference)))
          << std::hex << significand << " " << top;
      Extended80 from_reference{};
      const long double widened = static_cast<long double>(ExtendedToDouble(e));
      std::memcpy(from_reference.data(), &widened, from_reference.size());
      ASSERT_EQ(DoubleToExtended(ExtendedToDouble(e)), from_reference);
    }
  }
}

}  // namespace
}  // namespace voxhall::storage
