// Matching request lines to commands and cutting their parameters.
#include "query/request.h"

#include <gtest/gtest.h>

namespace voxhall::query {
namespace {

TEST(RequestTest, MatchCommandNeedsTheWholeNameAndOneBlank) {
  struct Case {
    const char* line;
    const char* name;
    bool match;
    const char* params;
  };
  const Case cases[] = {
      {"sl", "sl", true, ""},
      {"SL", "sl", true, ""},
      {"Sl 1 2", "sl", true, "1 2"},
      {"sel  8767", "sel", true, " 8767"},
      {"sl ", "sl", true, ""},
      {"slx", "sl", false, ""},
      {"sl\tx", "sl", false, ""},
      {"s", "sl", false, ""},
      {"msgall hi", "msg", false, ""},
      {" sl", "sl", false, ""},
  };
  for (const Case& c : cases) {
    std::string params = "unchanged";
    EXPECT_EQ(MatchCommand(c.line, c.name, params), c.match) << c.line;
    if (c.match) {
      EXPECT_EQ(params, c.params) << c.line;
    }
  }
}

TEST(RequestTest, OnlyBlanksSeparateParameters) {
  using List = std::vector<std::string>;
  EXPECT_EQ(SplitParameters(""), List{});
  EXPECT_EQ(SplitParameters("   "), List{});
  EXPECT_EQ(SplitParameters(" 8767"), List{"8767"});
  EXPECT_EQ(SplitParameters("  My   Server  "), (List{"My", "Server"}));
  EXPECT_EQ(SplitParameters("a\tb c"), (List{"a\tb", "c"}));

  QueryRequest request{"", SplitParameters("8767 hello  world")};
  EXPECT_EQ(request.JoinFrom(1), "8767 hello world");
  EXPECT_EQ(request.JoinFrom(2), "hello world");
  EXPECT_EQ(request.JoinFrom(4), "");
  EXPECT_EQ(request.Param(3), "world");
  EXPECT_EQ(request.Param(4), "");
}

TEST(RequestTest, ParseDecimalAcceptsOnlyDecimalIntegersOf32Bits) {
  EXPECT_EQ(ParseDecimal("8767"), 8767);
  EXPECT_EQ(ParseDecimal("-5"), -5);
  EXPECT_EQ(ParseDecimal("+7"), 7);
  EXPECT_EQ(ParseDecimal("0"), 0);
  EXPECT_EQ(ParseDecimal("2147483647"), 2147483647);
  for (const char* bad : {"", "-", "+", "abc", "12a", "0x10", "$10", " 1", "1 ", "+-1",
                          "2147483648", "99999999999999999999", "1.5"}) {
    EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace voxhall::query
