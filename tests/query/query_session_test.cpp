// The reply framing of a query session, without a network: line ends,
// unknown commands, quit, and the target rules on a process without servers.
#include "query/query_session.h"

#include <gtest/gtest.h>

namespace voxhall::query {
namespace {

class QuerySessionTest : public ::testing::Test {
 protected:
  host::VirtualServerList servers_{host::ServerEnvironment{}};
  QuerySession session_{QueryEnvironment{&servers_, nullptr, "", {}}, "192.0.2.1"};

  std::string Run(std::string_view line) {
    EXPECT_TRUE(session_.HandleLine(line)) << line;
    return session_.TakeReply();
  }
};

TEST_F(QuerySessionTest, EveryLineBreakInsideAReplyBecomesCrLf) {
  session_.ReplyLine("a\rb\nc\r\nd\n\re");
  session_.ReplyError("paramcount invalid");
  EXPECT_EQ(session_.TakeReply(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\nERROR, paramcount invalid\r\n");
  EXPECT_EQ(session_.TakeReply(), "");
}

TEST_F(QuerySessionTest, RepliesWithoutServers) {
  EXPECT_EQ(Run(""), "");
  EXPECT_EQ(Run("sl"), "OK\r\n");
  EXPECT_EQ(Run("slx"), "error\r\n");
  EXPECT_EQ(Run("pl 8767"), "ERROR, serverport not found\r\n");
  EXPECT_EQ(Run("sel 8767"), "ERROR, serverport not found\r\n");
  EXPECT_EQ(Run("msgall hi"), "ERROR, not logged in\r\n");
  EXPECT_EQ(Run("login admin pw"), "ERROR, invalid login\r\n");
  EXPECT_EQ(Run("listuser"), "ERROR, not logged in\r\n");

  EXPECT_FALSE(session_.HandleLine("Quit"));
  EXPECT_EQ(session_.TakeReply(), "");
}

}  // namespace
}  // namespace voxhall::query
