#include "common/date_time.h"

#include <gtest/gtest.h>

namespace voxhall::common {
namespace {

TEST(DateTimeTest, EpochAndCalendar) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
  const DateTimeParts p = DecodeDateTime(EncodeDateTime(2003, 11, 4, 21, 5, 0, 250));
  EXPECT_EQ(p.year, 2003);
  EXPECT_EQ(p.month, 11);
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.hour, 21);
  EXPECT_EQ(p.minute, 5);
  EXPECT_EQ(p.second, 0);
  EXPECT_EQ(p.millisecond, 250);
}

TEST(DateTimeTest, SystemClockRoundTrip) {
  const auto now = std::chrono::system_clock::now();
  const auto back = ToSystemClock(FromSystemClock(now));
  EXPECT_LE(std::chrono::abs(back - now), std::chrono::milliseconds(2));
}

TEST(SecondsBetweenTest, RoundingAndRange) {
  const DateTime t0 = EncodeDateTime(2020, 5, 1, 10);
  auto plus_ms = [&](double ms) { return t0 + ms / 86400000.0; };
  EXPECT_EQ(SecondsBetween(t0, plus_ms(1499)), 1u);
  EXPECT_EQ(SecondsBetween(t0, plus_ms(1500)), 2u);  // half to even
  EXPECT_EQ(SecondsBetween(t0, plus_ms(2500)), 2u);  // half to even
  EXPECT_EQ(SecondsBetween(t0, plus_ms(2501)), 3u);
  EXPECT_EQ(SecondsBetween(plus_ms(5000), t0), 0u);  // negative
  EXPECT_EQ(SecondsBetween(0.0, 60000.0), 0u);       // beyond 32 bits
  EXPECT_EQ(SecondsBetween(t0, t0 + 1.0), 86400u);
}

TEST(FormatUptimeTest, Cases) {
  EXPECT_EQ(FormatUptime(0), "00:00:00");
  EXPECT_EQ(FormatUptime(3661), "01:01:01");
  EXPECT_EQ(FormatUptime(86399), "23:59:59");
  EXPECT_EQ(FormatUptime(86400), "1D 00:00:00");
  EXPECT_EQ(FormatUptime(12 * 86400 + 5), "12D 00:00:05");
}

}  // namespace
}  // namespace voxhall::common
