#include "protocol/access_rules.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "protocol/error_codes.h"
#include "protocol/server_data.h"

namespace voxhall::protocol {
namespace {

// A tree of A (with sub-channels A1, A2) and B, and one player in each.
class AccessRulesTest : public ::testing::Test {
 protected:
  AccessRulesTest() : channels_("server_cfg Default") {
    clients_.Lock();
    channels_.Lock();
    a_ = Add("A", kNoParent, kChannelFlagSubChannels);
    a1_ = Add("A1", a_);
    a2_ = Add("A2", a_);
    b_ = Add("B", kNoParent);
    for (std::int32_t channel : {a_, a1_, a2_, b_}) {
      auto p = std::make_unique<ClientObject>();
      p->PlayerId = channel + 1;
      p->ChannelId = channel;
      players_.push_back(clients_.Add(std::move(p)));
    }
  }
  ~AccessRulesTest() override {
    channels_.Unlock();
    clients_.Unlock();
  }

  std::int32_t Add(std::string name, std::int32_t parent, std::uint16_t flags = 0,
                   std::string password = "", std::uint16_t max_users = 100) {
    ChannelRec c;
    c.Name = name;
    c.Parent = parent;
    c.Flags = flags;
    c.Password = password;
    c.MaxUsers = max_users;
    const std::int32_t id = channels_.AddChannel(std::move(c));
    EXPECT_GE(id, 0) << name;
    return id;
  }

  ClientList clients_;
  Channels channels_;
  std::int32_t a_ = 0, a1_ = 0, a2_ = 0, b_ = 0;
  std::vector<ClientObject*> players_;  // in A, A1, A2, B
};

TEST_F(AccessRulesTest, PlayersSeeTheirTopLevelTreeUnlessTheServerIsAClanServer) {
  const std::uint16_t public_server = kServerTypePublic;
  ClientObject* in_a = players_[0];
  ClientObject* in_a1 = players_[1];
  ClientObject* in_a2 = players_[2];
  ClientObject* in_b = players_[3];
  EXPECT_TRUE(CheckClientInView(public_server, channels_, in_a1, in_a));
  EXPECT_TRUE(CheckClientInView(public_server, channels_, in_a1, in_a2));
  EXPECT_TRUE(CheckClientInView(public_server, channels_, in_a, in_a2));
  EXPECT_TRUE(CheckClientInView(public_server, channels_, in_b, in_b));
  EXPECT_FALSE(CheckClientInView(public_server, channels_, in_a1, in_b));
  EXPECT_FALSE(CheckClientInView(public_server, channels_, in_b, in_a));
  EXPECT_FALSE(CheckClientInView(public_server, channels_, in_a, nullptr));

  for (std::uint16_t clan : {kServerTypeClan, std::uint16_t(kServerTypeClan | kServerTypePublic)}) {
    EXPECT_TRUE(CheckClientInView(clan, channels_, in_a1, in_b));
    EXPECT_TRUE(CheckClientInView(clan, channels_, nullptr, in_b));
  }

  // A player left in a channel that no longer exists sees nobody else.
  in_b->ChannelId = 99;
  EXPECT_FALSE(CheckClientInView(public_server, channels_, in_b, in_a));
  EXPECT_FALSE(CheckClientInView(public_server, channels_, in_a, in_b));
}

TEST_F(AccessRulesTest, ChannelJoinCodes) {
  const std::int32_t locked = Add("Locked", kNoParent, kChannelFlagSubChannels, "Secret");
  const std::int32_t locked_sub = Add("Inner", locked);
  const std::int32_t small = Add("Small", kNoParent, 0, "", 2);
  for (int i = 0; i < 2; ++i) {
    auto p = std::make_unique<ClientObject>();
    p->PlayerId = 50 + i;
    p->ChannelId = small;
    clients_.Add(std::move(p));
  }
  struct Case {
    const char* what;
    std::int32_t channel;
    std::string password;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"no such channel", 99, "", kErrorNoSuchChannel},
      {"open channel", b_, "", 0},
      {"password given to an open channel", b_, "whatever", 0},
      {"password missing", locked, "", kErrorPasswordNeeded},
      {"wrong password", locked, "secret", kJoinWrongPassword},
      {"right password", locked, "Secret", 0},
      {"sub-channel needs its parent's password", locked_sub, "", kErrorPasswordNeeded},
      {"sub-channel with wrong password", locked_sub, "x", kJoinWrongPassword},
      {"sub-channel with parent's password", locked_sub, "Secret", 0},
      {"full channel", small, "", kErrorChannelFull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CheckChannelJoin(channels_, clients_, c.channel, c.password), c.expected);
  }
}

TEST_F(AccessRulesTest, SubChannelCapacityCountsOnlyItsOwnPlayers) {
  // A holds one player, A1 one: a limit of 1 on A1 is reached, one of 2 is not.
  channels_.FindChannel(a1_)->MaxUsers = 1;
  EXPECT_EQ(CheckChannelJoin(channels_, clients_, a1_, ""), kErrorChannelFull);
  channels_.FindChannel(a1_)->MaxUsers = 2;
  EXPECT_EQ(CheckChannelJoin(channels_, clients_, a1_, ""), 0);
  channels_.FindChannel(a_)->MaxUsers = 1;
  EXPECT_EQ(CheckChannelJoin(channels_, clients_, a_, ""), kErrorChannelFull);
  channels_.FindChannel(a_)->MaxUsers = 2;
  EXPECT_EQ(CheckChannelJoin(channels_, clients_, a_, ""), 0);
}

}  // namespace
}  // namespace voxhall::protocol
