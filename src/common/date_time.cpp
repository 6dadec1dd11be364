#include "common/date_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace voxhall::common {

namespace {

constexpr double kMsPerDay = 86400000.0;

// Days from 1899-12-30 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days_since_1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return days_since_1970 + 25569;  // 1899-12-30 is 25569 days before 1970-01-01
}

void CivilFromDays(std::int64_t days_since_1899, int& y, int& m, int& d) {
  std::int64_t z = days_since_1899 - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  const double days = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)));
  const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return days + ms / kMsPerDay;
}

DateTimeParts DecodeDateTime(DateTime d) {
  // Round to the nearest millisecond first so that 0.999999 of a second does
  // not show as the previous second.
  const double total_ms = std::round(d * kMsPerDay);
  std::int64_t day = static_cast<std::int64_t>(std::floor(total_ms / kMsPerDay));
  std::int64_t ms = static_cast<std::int64_t>(total_ms - static_cast<double>(day) * kMsPerDay);
  DateTimeParts p{};
  CivilFromDays(day, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

DateTime FromSystemClock(std::chrono::system_clock::time_point t) {
  const auto since_epoch = t.time_since_epoch();
  const auto secs = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - secs).count();
  std::time_t tt = static_cast<std::time_t>(secs.count());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &tt);
#else
  localtime_r(&tt, &local);
#endif
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(ms));
}

std::chrono::system_clock::time_point ToSystemClock(DateTime d) {
  const DateTimeParts p = DecodeDateTime(d);
  std::tm local{};
  local.tm_year = p.year - 1900;
  local.tm_mon = p.month - 1;
  local.tm_mday = p.day;
  local.tm_hour = p.hour;
  local.tm_min = p.minute;
  local.tm_sec = p.second;
  local.tm_isdst = -1;
  const std::time_t tt = std::mktime(&local);
  return std::chrono::system_clock::from_time_t(tt) + std::chrono::milliseconds(p.millisecond);
}

DateTime Now() { return FromSystemClock(std::chrono::system_clock::now()); }

std::uint32_t SecondsBetween(DateTime earlier, DateTime later) {
  const double ms = std::round((later - earlier) * kMsPerDay);
  // nearbyint rounds halves to even under the default rounding mode.
  const double seconds = std::nearbyint(ms / 1000.0);
  if (!(seconds >= 0.0) || seconds > 4294967295.0) return 0;
  return static_cast<std::uint32_t>(seconds);
}

std::string FormatUptime(std::uint32_t seconds) {
  const std::uint32_t days = seconds / 86400;
  const std::uint32_t hours = (seconds / 3600) % 24;
  const std::uint32_t minutes = (seconds / 60) % 60;
  const std::uint32_t secs = seconds % 60;
  char buf[64];
  if (days > 0) {
    std::snprintf(buf, sizeof buf, "%uD %2.2u:%2.2u:%2.2u", days, hours, minutes, secs);
  } else {
    std::snprintf(buf, sizeof buf, "%2.2u:%2.2u:%2.2u", hours, minutes, secs);
  }
  return buf;
}

}  // namespace voxhall::common
