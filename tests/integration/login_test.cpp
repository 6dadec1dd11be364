// The login handshake against the real server, through the voice test
// client: every refusal code and what decides between them, player ids,
// replaced nicknames, the lists a newcomer receives, who is told of it, and
// the preferred channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "session_server.h"
#include "support/voice_client.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

LoginRequest Request(const std::string& nickname) {
  LoginRequest r;
  r.nickname = nickname;
  return r;
}

// The player entry of `player_id` in a login result's player list.
const PlayerEntry* EntryOf(const LoginResult& login, std::uint32_t player_id) {
  for (const PlayerEntry& p : login.players) {
    if (p.player_id == player_id) return &p;
  }
  return nullptr;
}

bool AllZero(const std::vector<std::uint8_t>& raw, std::size_t from, std::size_t to) {
  return std::all_of(raw.begin() + static_cast<std::ptrdiff_t>(from),
                     raw.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t b) { return b == 0; });
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> settings;
  std::vector<std::string> online;  // nicknames logged in first
  LoginRequest request;
  std::int32_t result;
  bool early;  // refused before the server description is filled in
};

LoginRequest Registered(const std::string& login, const std::string& password,
                        std::uint8_t server_password_flag = 0) {
  LoginRequest r = Request("Reg");
  r.login_name = login;
  r.password = password;
  r.server_password_flag = server_password_flag;
  return r;
}

LoginRequest WithRelease(std::uint16_t release) {
  LoginRequest r = Request("Old");
  r.version = {2, 0, release, 1};
  return r;
}

LoginRequest WithPassword(const std::string& password) {
  LoginRequest r = Request("Anna");
  r.password = password;
  return r;
}

TEST(LoginTest, AcceptanceAndEachRefusalCode) {
  const std::vector<RefusalCase> cases = {
      {"wrong server password", {"ServerPassword=pw"}, {}, WithPassword("bad"), -1, true},
      {"right server password", {"ServerPassword=pw"}, {}, WithPassword("pw"), 1, false},
      {"blank nickname", {}, {}, Request("   "), -1, false},
      {"nickname server", {}, {}, Request(" SeRvEr "), -1, false},
      {"nickname server1", {}, {}, Request("server1"), 1, false},
      {"server full", {"ServerMaxUsers=2"}, {"Anna", "Ben"}, Request("Carl"), -2, false},
      {"taken nickname before full", {"ServerMaxUsers=2"}, {"Anna", "Ben"}, Request("ANNA"), -4,
       false},
      {"taken nickname", {}, {"Anna"}, Request("anna"), -4, false},
      {"release 12", {}, {}, WithRelease(12), -5, true},
      {"release 13", {}, {}, WithRelease(13), 1, false},
      {"unknown login", {}, {}, Registered("nobody", kAdminPassword), -21, true},
      {"wrong user password", {}, {}, Registered("admin", "wrong"), -21, true},
      {"registered despite server password", {"ServerPassword=pw"}, {},
       Registered("admin", kAdminPassword), 1, false},
      {"registered with server-password flag", {"ServerPassword=pw"}, {},
       Registered("admin", kAdminPassword, 1), -1, false},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    SessionServer server({.settings = c.settings});
    std::vector<std::unique_ptr<VoiceClient>> online;
    for (const std::string& nick : c.online) {
      LoginRequest r = Request(nick);
      if (!c.settings.empty() && c.settings[0] == "ServerPassword=pw") r.password = "pw";
      online.push_back(std::make_unique<VoiceClient>(server.port()));
      online.back()->Login(r);
    }
    VoiceClient client(server.port());
    client.SendLoginRequest(c.request);
    const LoginReply reply = client.WaitFor<LoginReply>();
    EXPECT_EQ(reply.result, c.result);
    ASSERT_EQ(reply.raw.size(), 372u);
    EXPECT_EQ(reply.player_id, reply.given_player_id);  // header and body agree
    if (c.early) {
      EXPECT_TRUE(AllZero(reply.raw, 20, 88));
      EXPECT_TRUE(AllZero(reply.raw, 92, 108));
      EXPECT_TRUE(AllZero(reply.raw, 116, 372));
    } else {
      EXPECT_EQ(reply.server_name, "Voxhall Server");
      EXPECT_EQ(reply.version, (std::array<std::uint16_t, 4>{2, 0, 18, 31}));
    }
    if (c.request.version[2] <= 12) {
      EXPECT_EQ(reply.given_player_id, 0u);
    } else {
      EXPECT_NE(reply.given_player_id, 0u);
    }
  }
}

TEST(LoginTest, RegisteredLoginTakesStoredPrivileges) {
  storage::StoredUser bob;
  bob.login_name = "bob";
  bob.password = "Bob-Pw";
  bob.privileges = 2;  // may register: dropped, registered added
  SessionServer server({.users = {bob}});
  VoiceClient client(server.port());
  LoginRequest request = Registered("BOB", "Bob-Pw");
  const LoginResult login = client.Login(request);
  const PlayerEntry* me = EntryOf(login, client.player_id());
  ASSERT_NE(me, nullptr);
  EXPECT_EQ(me->privileges, 4);

  VoiceClient wrong_case(server.port());
  wrong_case.SendLoginRequest(Registered("bob", "bob-pw"));  // passwords compare exactly
  EXPECT_EQ(wrong_case.WaitFor<LoginReply>().result, -21);
}

TEST(LoginTest, PlayerIdsStartAtOneAgainAfterTheServerEmptied) {
  SessionServer server;
  std::vector<std::unique_ptr<VoiceClient>> clients;
  for (std::uint32_t expected : {1u, 2u}) {
    clients.push_back(std::make_unique<VoiceClient>(server.port()));
    VoiceClient& c = *clients.back();
    // Never completes and stays silent (no pings, no acknowledgements of the
    // notices about the other one): the connection times out.
    c.SetKeepAlive(false);
    c.SetAcknowledge(false);
    c.SendLoginRequest(Request("P" + std::to_string(expected)));
    const LoginReply reply = c.WaitFor<LoginReply>();
    EXPECT_EQ(reply.result, 1);
    EXPECT_EQ(reply.given_player_id, expected);
  }
  // Both logins are left unfinished; their connections time out after two
  // silent seconds and the server is empty again.
  std::this_thread::sleep_for(4500ms);
  VoiceClient next(server.port());
  next.Login("Next");
  EXPECT_EQ(next.player_id(), 1u);
}

TEST(LoginTest, ARefusedLoginNeverDisturbsThePlayersAfterIt) {
  SessionServer server;
  // A wrong password leaves a connection record behind for about two
  // seconds; the players who log in meanwhile keep their own ids and stay.
  VoiceClient refused(server.port());
  refused.SetKeepAlive(false);
  refused.SetAcknowledge(false);
  refused.SendLoginRequest(Registered("admin", "wrong"));
  EXPECT_EQ(refused.WaitFor<LoginReply>().result, -21);
  VoiceClient anna(server.port());
  anna.Login("Anna");
  VoiceClient ben(server.port());
  ben.Login("Ben");
  EXPECT_NE(anna.player_id(), ben.player_id());

  std::this_thread::sleep_for(3500ms);  // the refused record has timed out
  EXPECT_TRUE(ben.NoneWithin<PlayerLeftScope>(0ms));
  anna.Speak(Bytes("still here"));
  EXPECT_EQ(ben.WaitFor<Voice>().speaker_id, anna.player_id());
  ben.Speak(Bytes("me too"));
  EXPECT_EQ(anna.WaitFor<Voice>().speaker_id, ben.player_id());
}

TEST(LoginTest, UniqueNicknameFlagReplacesTakenAndBlankNames) {
  SessionServer server;
  VoiceClient anna(server.port());
  anna.Login("Anna");
  struct Case {
    std::string asked;
    std::string given;
  };
  std::vector<std::unique_ptr<VoiceClient>> clients;
  for (const Case& c : std::vector<Case>{{"anna", "anna1"}, {"  ", "Guest1"}, {"", "Guest2"}}) {
    SCOPED_TRACE(c.asked);
    clients.push_back(std::make_unique<VoiceClient>(server.port()));
    LoginRequest r = Request(c.asked);
    r.unique_nickname = 1;
    const LoginResult login = clients.back()->Login(r);
    const PlayerEntry* me = EntryOf(login, clients.back()->player_id());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(me->nickname, c.given);
  }
}

TEST(LoginTest, ListsArriveInPacketsOfThreeChannelsAndTenPlayers) {
  SessionServerSetup setup;
  setup.channels.push_back(StoredChannelNamed("Default", 16));
  for (int i = 1; i <= 6; ++i) setup.channels.push_back(StoredChannelNamed("Room" + std::to_string(i)));
  SessionServer server(setup);

  std::vector<std::unique_ptr<VoiceClient>> clients;
  for (int i = 1; i <= 10; ++i) {
    clients.push_back(std::make_unique<VoiceClient>(server.port()));
    clients.back()->Login("Player" + std::to_string(i));
  }
  for (auto& c : clients) c->Forget();

  VoiceClient newcomer(server.port());
  const LoginResult login = newcomer.Login("Newcomer");

  ASSERT_EQ(login.channel_packets.size(), 3u);
  EXPECT_EQ(login.channel_packets[0].count, 3);
  EXPECT_EQ(login.channel_packets[1].count, 3);
  EXPECT_EQ(login.channel_packets[2].count, 1);
  ASSERT_EQ(login.channels.size(), 7u);
  EXPECT_EQ(login.channels[0].name, "Default");
  EXPECT_EQ(login.channels[6].name, "Room6");
  // The list image is not cleared between packets: the last packet's unused
  // slots still hold the previous packet's entries.
  EXPECT_EQ(login.channel_packets[2].slots[1].name, login.channel_packets[1].slots[1].name);

  ASSERT_EQ(login.player_packets.size(), 2u);
  EXPECT_EQ(login.player_packets[0].count, 10);
  EXPECT_EQ(login.player_packets[1].count, 1);
  ASSERT_EQ(login.players.size(), 11u);
  // The newcomer is in its own list but is not told that it entered.
  ASSERT_NE(EntryOf(login, newcomer.player_id()), nullptr);
  EXPECT_EQ(EntryOf(login, newcomer.player_id())->nickname, "Newcomer");
  EXPECT_TRUE(newcomer.NoneWithin<PlayerEnteredScope>(300ms));
  // A notice about one of the ten may still be on its way when the
  // newcomer starts: each client acknowledges its notices one by one.
  for (auto& c : clients) {
    const PlayerEnteredScope entered = c->WaitFor<PlayerEnteredScope>(
        [&](const PlayerEnteredScope& e) { return e.player.nickname == "Newcomer"; });
    EXPECT_EQ(entered.player.player_id, newcomer.player_id());
    EXPECT_EQ(entered.raw.size(), 70u);
  }
}

TEST(LoginTest, PreferredChannelNeedsItsPassword) {
  SessionServerSetup setup;
  setup.channels.push_back(StoredChannelNamed("Default", 16));
  storage::StoredChannel locked = StoredChannelNamed("Locked", 4);
  locked.password = "secret";
  setup.channels.push_back(locked);
  setup.channels.push_back(StoredChannelNamed("Open"));
  SessionServer server(setup);

  struct Case {
    LoginStep3Request step3;
    std::string channel;
  };
  const std::vector<Case> cases = {
      {{.channel = "Locked", .channel_password = "wrong"}, "Default"},
      {{.channel = "Locked"}, "Default"},
      {{.channel = "locked", .channel_password = "secret"}, "Locked"},
      {{.channel = "Open"}, "Open"},
      {{.channel = "Nowhere"}, "Default"},
  };
  int n = 0;
  std::vector<std::unique_ptr<VoiceClient>> clients;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step3.channel + "/" + c.step3.channel_password);
    clients.push_back(std::make_unique<VoiceClient>(server.port()));
    const LoginResult login =
        clients.back()->Login(Request("P" + std::to_string(++n)), c.step3);
    const PlayerEntry* me = EntryOf(login, clients.back()->player_id());
    ASSERT_NE(me, nullptr);
    const auto channel = std::find_if(login.channels.begin(), login.channels.end(),
                                      [&](const ChannelEntry& e) { return e.id == me->channel_id; });
    ASSERT_NE(channel, login.channels.end());
    EXPECT_EQ(channel->name, c.channel);
    EXPECT_TRUE(clients.back()->NoneWithin<ErrorPacket>(50ms));
  }
}

}  // namespace
}  // namespace voxhall::testing
