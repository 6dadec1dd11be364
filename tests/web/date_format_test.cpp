#include "web/date_format.h"

#include <gtest/gtest.h>

namespace voxhall::web {
namespace {

TEST(FormatDateTimeTest, PatternTable) {
  // 2003-11-04 was a Tuesday.
  const common::DateTime t = common::EncodeDateTime(2003, 11, 4, 21, 5, 9, 7);
  const struct {
    const char* format;
    const char* expected;
  } cases[] = {
      {"dd-mm-yyyy hh:nn:ss", "04-11-2003 21:05:09"},
      {"d.m.yy h:n:s", "4.11.03 21:5:9"},
      {"yyyy-mm-dd hh:mm", "2003-11-04 21:05"},  // "mm" after an hour is minutes
      {"ddd dddd mmm mmmm", "Tue Tuesday Nov November"},
      {"hh:nn am/pm", "09:05 pm"},
      {"h a/p", "9 p"},
      {"ss.zzz", "09.007"},
      {"'day' d \"of\" m", "day 4 of 11"},
      {"DD-MM-YYYY", "04-11-2003"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.format, t), c.expected) << c.format;
  EXPECT_EQ(FormatDateTime("dd-mm-yyyy hh:nn:ss", 0.0), "30-12-1899 00:00:00");
}

}  // namespace
}  // namespace voxhall::web
