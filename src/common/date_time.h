// Date-time values as the system stores and shows them: days since
// 30 December 1899 in local time, the fraction being the time of day; 0 means
// never. Conversions to and from the system clock, elapsed-second and uptime
// helpers. Pure functions, callable from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace voxhall::common {

using DateTime = double;

// The current local time as a DateTime.
DateTime Now();

// Local-time DateTime of a system-clock instant, and back.
DateTime FromSystemClock(std::chrono::system_clock::time_point t);
std::chrono::system_clock::time_point ToSystemClock(DateTime d);

// A DateTime from calendar fields (local time); no range checks beyond the
// calendar's own.
DateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0, int millisecond = 0);

struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeParts DecodeDateTime(DateTime d);

// Whole seconds from `earlier` to `later`: milliseconds / 1000 rounded half to
// even; negative results and results beyond 32 unsigned bits give 0.
std::uint32_t SecondsBetween(DateTime earlier, DateTime later);

// "%dD %2.2d:%2.2d:%2.2d" with days above 0, "%2.2d:%2.2d:%2.2d" otherwise.
std::string FormatUptime(std::uint32_t seconds);

}  // namespace voxhall::common
