#include "common/text.h"

#include <gtest/gtest.h>

namespace voxhall::common {
namespace {

struct ReplaceCase {
  const char* text;
  const char* pattern;
  const char* replacement;
  bool all;
  const char* expected;
};

TEST(ReplaceTextTest, Cases) {
  const ReplaceCase cases[] = {
      {"Hello World", "world", "There", true, "Hello There"},  // case-insensitive
      {"aXaXa", "x", "yy", true, "ayyayya"},
      {"aXaXa", "x", "yy", false, "ayyaXa"},                   // first only, rest copied
      {"", "x", "y", true, ""},
      {"abc", "", "y", true, "abc"},
      {"abcabc", "b", "", true, "acac"},                       // empty replacement removes
      {"aaa", "a", "aa", true, "aaaaaa"},                      // replacement not searched again
      {"%1%1", "%1", "%1x", true, "%1x%1x"},
      {"ÄbÄ", "ä", "-", true, "ÄbÄ"},                          // only ASCII letters fold
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceText(c.text, c.pattern, c.replacement, c.all), c.expected)
        << c.text << " / " << c.pattern;
  }
}

TEST(FormatArgsTest, PlaceholdersInAscendingOrder) {
  EXPECT_EQ(FormatArgs("File not found: %1", {"a.txt"}), "File not found: a.txt");
  EXPECT_EQ(FormatArgs("File not found: %1", {""}), "File not found: ");
  EXPECT_EQ(FormatArgs("%2-%1-%2", {"a", "b"}), "b-a-b");
  EXPECT_EQ(FormatArgs("%1 %3", {"x"}), "x %3");  // missing arguments leave the placeholder
  // An argument holding a later placeholder is replaced by the later step.
  EXPECT_EQ(FormatArgs("%1", {"%2", "z"}), "z");
  // "%1" also matches the front of "%10".
  const std::vector<std::string> ten = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"};
  EXPECT_EQ(FormatArgs("%10", ten), "A0");
  EXPECT_EQ(Format("port %1 of %2", 8767, "srv"), "port 8767 of srv");
}

TEST(TextHelpersTest, TrimCutCase) {
  EXPECT_EQ(Trim(" \t\r\n 192.168.1.5 \x01"), "192.168.1.5");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(CutText("abcdef", 3), "abc");
  EXPECT_EQ(CutText("ab", 3), "ab");
  EXPECT_EQ(UpperCase("aZ-9"), "AZ-9");
  EXPECT_TRUE(EqualsIgnoreCase("Debug", "dEBUG"));
  EXPECT_FALSE(EqualsIgnoreCase("Debug", "Debugs"));

  NameText name(std::string(40, 'n'));
  EXPECT_EQ(name.size(), 29u);
  name = "short";
  EXPECT_EQ(name, "short");
}

TEST(ParseIntegerTest, Forms) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t value;
  };
  const Case cases[] = {
      {"12", true, 12},  {"-5", true, -5},      {"$1F", true, 31}, {"0x1f", true, 31},
      {"0X10", true, 16}, {"", false, 0},       {"true", false, 0}, {"12a", false, 0},
      {"0x", false, 0},  {"$", false, 0},       {" 1", false, 0},
  };
  for (const auto& c : cases) {
    std::int64_t v = 0;
    EXPECT_EQ(ParseInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace voxhall::common
