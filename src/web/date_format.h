// Date-time texts of the web administration: the "DateTimeFormat" setting
// of "Main Config" (default "dd-mm-yyyy hh:nn:ss") applied to a DateTime.
// Pure function, callable from any thread.
#pragma once

#include <string>
#include <string_view>

#include "common/date_time.h"

namespace voxhall::web {

// Formats `value` with the pattern letters administrators know from the
// setting: d dd (day), ddd dddd (day name), m mm (month, or minutes right
// after an hour), mmm mmmm (month name), yy yyyy, h hh, n nn (minutes),
// s ss, z zzz (milliseconds), am/pm and a/p (12-hour clock). Text in single
// or double quotes is copied without its quotes; every other character is
// copied as it is. Letters are matched without regard to case.
std::string FormatDateTime(std::string_view format, common::DateTime value);

}  // namespace voxhall::web
