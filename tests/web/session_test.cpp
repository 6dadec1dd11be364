#include "web/web_session.h"

#include <gtest/gtest.h>

#include <set>

namespace voxhall::web {
namespace {

using Clock = SessionList::Clock;

class SessionListTest : public ::testing::Test {
 protected:
  Clock::time_point now_ = Clock::time_point() + std::chrono::hours(1000);
  SessionList list_{std::chrono::minutes(60), 3, [this] { return now_; }};

  std::shared_ptr<HttpSession> Start(const char* address) {
    return list_.Start(address, [](HttpSession& s) { s.Set("StartTime", "then"); });
  }
};

TEST_F(SessionListTest, SessionsAreBoundToTheirAddressAndTimeOut) {
  auto session = Start("10.0.0.1");
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->Get("starttime"), "then");
  EXPECT_EQ(list_.Find(session->id(), "10.0.0.1"), session);
  EXPECT_EQ(list_.Find(session->id(), "10.0.0.2"), nullptr);
  EXPECT_EQ(list_.Find("not-an-id", "10.0.0.1"), nullptr);

  // Each request starts the idle hour again.
  now_ += std::chrono::minutes(59);
  EXPECT_NE(list_.Find(session->id(), "10.0.0.1"), nullptr);
  now_ += std::chrono::minutes(59);
  EXPECT_NE(list_.Find(session->id(), "10.0.0.1"), nullptr);
  now_ += std::chrono::minutes(60);
  EXPECT_EQ(list_.Find(session->id(), "10.0.0.1"), nullptr);
  EXPECT_EQ(list_.Count(), 0u);

  auto ended = Start("10.0.0.1");
  list_.End(ended->id());
  EXPECT_EQ(list_.Find(ended->id(), "10.0.0.1"), nullptr);
}

TEST_F(SessionListTest, AFullListDropsIdleAnonymousSessionsButNeverLoggedInOnes) {
  auto admin = Start("10.0.0.1");
  admin->Set("loggedin", "1");
  auto first = Start("10.0.0.2");
  now_ += std::chrono::seconds(1);
  auto second = Start("10.0.0.3");
  now_ += std::chrono::seconds(1);
  // The anonymous session idle longest makes room.
  auto third = Start("10.0.0.4");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(list_.Find(first->id(), "10.0.0.2"), nullptr);
  EXPECT_NE(list_.Find(second->id(), "10.0.0.3"), nullptr);
  EXPECT_NE(list_.Find(admin->id(), "10.0.0.1"), nullptr);

  second->Set("loggedin", "1");
  third->Set("LOGGEDIN", "1");
  EXPECT_EQ(Start("10.0.0.5"), nullptr);  // every session is logged in
  third->Set("loggedin", "0");
  EXPECT_NE(Start("10.0.0.5"), nullptr);
}

TEST(HttpSessionTest, VariablesIgnoreCaseKeepOrderAndAreBounded) {
  HttpSession session("id", "127.0.0.1");
  session.Set("username", "admin");
  session.Set("loggedin", "1");
  session.Set("USERNAME", "root");
  EXPECT_TRUE(session.LoggedIn());
  session.Remove("LoggedIn");
  EXPECT_FALSE(session.LoggedIn());
  EXPECT_EQ(session.Get("loggedin"), "");
  ASSERT_EQ(session.Variables().size(), 1u);
  EXPECT_EQ(session.Variables()[0], std::make_pair(std::string("username"), std::string("root")));

  session.Set("big", std::string(100000, 'x'));
  EXPECT_EQ(session.Get("big").size(), HttpSession::kMaxValueLength);
  for (int i = 0; i < 200; ++i) session.Set("v" + std::to_string(i), "x");
  EXPECT_EQ(session.Variables().size(), HttpSession::kMaxVariables);
  session.Set("username", "still changeable");
  EXPECT_EQ(session.Get("username"), "still changeable");
}

TEST(SessionIdTest, IdsAreLongRandomHex) {
  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    const std::string id = NewSessionId();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 100u);
}

}  // namespace
}  // namespace voxhall::web
