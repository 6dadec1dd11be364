#include "web/date_format.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/text.h"

namespace voxhall::web {

namespace {

constexpr const char* kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonths[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

std::string Padded(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Number of repetitions of the letter at `pos` (case ignored).
std::size_t RunLength(std::string_view f, std::size_t pos) {
  std::size_t n = 1;
  while (pos + n < f.size() && Lower(f[pos + n]) == Lower(f[pos])) ++n;
  return n;
}

bool StartsWithNoCase(std::string_view f, std::size_t pos, std::string_view word) {
  return f.size() - pos >= word.size() && common::EqualsIgnoreCase(f.substr(pos, word.size()), word);
}

}  // namespace

std::string FormatDateTime(std::string_view f, common::DateTime value) {
  const common::DateTimeParts p = common::DecodeDateTime(value);
  const auto day_number = static_cast<long long>(std::floor(value));
  const int weekday = static_cast<int>(((day_number % 7) + 7 + 6) % 7);  // day 0 is a Saturday
  const std::string lower = common::LowerCase(f);
  const bool twelve_hour = lower.find("am/pm") != std::string::npos ||
                           lower.find("a/p") != std::string::npos;
  const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;

  std::string out;
  bool after_hour = false;  // an "m" right after an hour means minutes
  for (std::size_t i = 0; i < f.size();) {
    const char c = Lower(f[i]);
    if (f[i] == '"' || f[i] == '\'') {
      const std::size_t end = f.find(f[i], i + 1);
      const std::size_t stop = end == std::string_view::npos ? f.size() : end;
      out.append(f.substr(i + 1, stop - i - 1));
      i = stop == f.size() ? stop : stop + 1;
      continue;
    }
    if (StartsWithNoCase(f, i, "am/pm")) {
      out += p.hour < 12 ? "am" : "pm";
      i += 5;
      continue;
    }
    if (StartsWithNoCase(f, i, "a/p")) {
      out += p.hour < 12 ? "a" : "p";
      i += 3;
      continue;
    }
    if (c != 'd' && c != 'm' && c != 'y' && c != 'h' && c != 'n' && c != 's' && c != 'z') {
      out.push_back(f[i]);
      ++i;
      continue;
    }
    const std::size_t n = RunLength(f, i);
    switch (c) {
      case 'd':
        if (n == 1) out += std::to_string(p.day);
        else if (n == 2) out += Padded(p.day, 2);
        else if (n == 3) out += kShortDays[weekday];
        else out += kLongDays[weekday];
        break;
      case 'm':
        if (after_hour && n <= 2) out += n == 1 ? std::to_string(p.minute) : Padded(p.minute, 2);
        else if (n == 1) out += std::to_string(p.month);
        else if (n == 2) out += Padded(p.month, 2);
        else if (n == 3) out += kShortMonths[p.month - 1];
        else out += kLongMonths[p.month - 1];
        break;
      case 'y':
        out += n <= 2 ? Padded(p.year % 100, 2) : Padded(p.year, 4);
        break;
      case 'h': {
        const int h = twelve_hour ? hour12 : p.hour;
        out += n == 1 ? std::to_string(h) : Padded(h, 2);
        break;
      }
      case 'n':
        out += n == 1 ? std::to_string(p.minute) : Padded(p.minute, 2);
        break;
      case 's':
        out += n == 1 ? std::to_string(p.second) : Padded(p.second, 2);
        break;
      case 'z':
        out += n < 3 ? std::to_string(p.millisecond) : Padded(p.millisecond, 3);
        break;
    }
    after_hour = c == 'h';
    i += n;
  }
  return out;
}

}  // namespace voxhall::web
