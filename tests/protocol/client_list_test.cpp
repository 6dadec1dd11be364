#include "protocol/client_list.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

namespace voxhall::protocol {
namespace {

class ClientListTest : public ::testing::Test {
 protected:
  ClientListTest() { clients_.Lock(); }
  ~ClientListTest() override { clients_.Unlock(); }

  ClientObject* AddPlayer(std::int32_t player_id, std::string nickname = "",
                          std::int32_t channel_id = 0, std::int32_t connection_id = 0) {
    auto p = std::make_unique<ClientObject>();
    p->PlayerId = player_id;
    p->NickName = nickname;
    p->ChannelId = channel_id;
    p->ConnectionId = connection_id;
    return clients_.Add(std::move(p));
  }

  ClientList clients_;
  std::int32_t next_player_id_ = 1;
};

TEST_F(ClientListTest, PlayerIdsStartAtOneAndStartAgainWhenTheServerIsEmpty) {
  std::vector<ClientObject*> online;
  for (int expected = 1; expected <= 3; ++expected) {
    const std::int32_t id = clients_.GetNewPlayerID(next_player_id_);
    EXPECT_EQ(id, expected);
    online.push_back(AddPlayer(id));
  }
  // Leaving players do not give their ids back while others are online.
  clients_.Remove(online[0]);
  clients_.Remove(online[2]);
  EXPECT_EQ(clients_.GetNewPlayerID(next_player_id_), 4);
  clients_.Remove(online[1]);
  EXPECT_EQ(clients_.Count(), 0u);
  // A refused login uses up an id too, but an empty server starts at 1 again.
  EXPECT_EQ(clients_.GetNewPlayerID(next_player_id_), 1);
  EXPECT_EQ(clients_.GetNewPlayerID(next_player_id_), 1);
  EXPECT_EQ(next_player_id_, 2);
}

TEST_F(ClientListTest, PlayerIdCounterWrapsPastIdsStillOnline) {
  AddPlayer(1);
  AddPlayer(std::numeric_limits<std::int32_t>::max() - 1);
  next_player_id_ = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(clients_.GetNewPlayerID(next_player_id_), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(clients_.GetNewPlayerID(next_player_id_), 2);
  EXPECT_EQ(next_player_id_, 3);
}

TEST_F(ClientListTest, ConnectionIdsAreBelowTheLimitAndDrawnAgainWhileTaken) {
  AddPlayer(1, "", 0, 5);
  AddPlayer(2, "", 0, 0);
  std::vector<std::uint32_t> draws = {5, kConnectionIdLimit + 5, kConnectionIdLimit, 0xFFFFFFFFu};
  std::size_t next = 0;
  const std::int32_t id = clients_.GetNewConnectionID([&] { return draws.at(next++); });
  EXPECT_EQ(next, 4u);
  EXPECT_EQ(id, static_cast<std::int32_t>(0xFFFFFFFFu % kConnectionIdLimit));

  std::set<std::int32_t> seen = {0, 5};
  for (int i = 0; i < 3000; ++i) {
    const std::int32_t c = clients_.GetNewConnectionID();
    ASSERT_GE(c, 0);
    ASSERT_LT(c, static_cast<std::int32_t>(kConnectionIdLimit));
    ASSERT_TRUE(seen.insert(c).second) << c;
    AddPlayer(100 + i, "", 0, c);
  }
}

TEST_F(ClientListTest, LookupsByIdAndByNickname) {
  ClientObject* anna = AddPlayer(1, "Anna");
  AddPlayer(2, "ANNA");  // cannot happen through a login; shows that the first match wins
  ClientObject* blank = AddPlayer(3, "");
  EXPECT_EQ(clients_.GetClientObject(std::int32_t{1}), anna);
  EXPECT_EQ(clients_.GetClientObject(std::int32_t{3}), blank);
  EXPECT_EQ(clients_.GetClientObject(std::int32_t{9}), nullptr);
  EXPECT_EQ(clients_.GetClientObject("aNNa"), anna);
  EXPECT_EQ(clients_.GetClientObject(""), nullptr);
  EXPECT_EQ(clients_.GetClientObject("Ann"), nullptr);

  AddPlayer(0, "unassigned");
  EXPECT_EQ(clients_.GetClientObject(std::int32_t{0}), nullptr);
}

TEST_F(ClientListTest, PlayersInChannelCountsOnlyThatChannel) {
  AddPlayer(1, "a", 0);
  AddPlayer(2, "b", 3);
  AddPlayer(3, "c", 3);
  AddPlayer(4, "d", 4);  // a sub-channel of 3 does not count for 3
  EXPECT_EQ(clients_.GetPlayersInChannel(3), 2);
  EXPECT_EQ(clients_.GetPlayersInChannel(4), 1);
  EXPECT_EQ(clients_.GetPlayersInChannel(9), 0);
}

TEST_F(ClientListTest, GuestPlayerNames) {
  const std::string n28(28, 'x');
  const std::string n29(29, 'y');
  struct Case {
    const char* what;
    std::vector<std::string> online;
    std::string requested;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"blank becomes Guest1", {}, "", "Guest1"},
      {"blanks only, Guest1 online", {"guest1"}, "   ", "Guest2"},
      {"free name kept untrimmed", {"Bob"}, " Anna ", " Anna "},
      {"taken name numbered, case kept", {"anna"}, "Anna", "Anna1"},
      {"next free number", {"anna", "ANNA1", "Anna2"}, "Anna", "Anna3"},
      {"29 characters when numbered still fit", {n28}, n28, n28 + "1"},
      {"numbered form of 30 characters would be cut", {n28, n28 + "1", n28 + "2", n28 + "3",
                                                     n28 + "4", n28 + "5", n28 + "6", n28 + "7",
                                                     n28 + "8", n28 + "9"},
       n28, "Guest1"},
      // name + "1" has 30 characters, which the nickname field would cut
      // back to the taken name.
      {"taken 29 characters", {n29}, n29, "Guest1"},
      {"taken 29 characters, Guest1 online", {n29, "Guest1"}, n29, "Guest2"},
      // Judged by the 29 characters the field keeps.
      {"30 characters whose field form is taken", {n29}, n29 + "z", "Guest1"},
      {"30 characters whose field form is free", {}, n29 + "z", n29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clients_.Clear();
    std::int32_t id = 1;
    for (const std::string& nick : c.online) AddPlayer(id++, nick);
    const std::string got = clients_.GetGuestPlayerName(c.requested);
    EXPECT_EQ(got, c.expected);
    EXPECT_LE(got.size(), common::kNameCapacity);
    EXPECT_EQ(clients_.GetClientObject(got), nullptr);
  }
}

}  // namespace
}  // namespace voxhall::protocol
