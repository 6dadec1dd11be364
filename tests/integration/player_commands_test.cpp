// The player commands against the real server: leaving and being kicked,
// who learns of a channel switch on public and clan servers, the join rules
// of a switch, voice requests, automatic voice and its stored entry across a
// restart, and registration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "commands_fixture.h"
#include "storage/channel_store.h"
#include "storage/tree_db.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

SessionServerSetup TwoChannels(const std::string& settings = "") {
  SessionServerSetup setup;
  if (!settings.empty()) setup.settings = {settings};
  setup.channels = {StoredChannelNamed("Default", 16), StoredChannelNamed("Lobby")};
  setup.users = {StoredUserNamed("vic", "v")};
  return setup;
}

const PlayerEntry* EntryOf(const LoginResult& login, const std::string& nickname) {
  const auto it = std::find_if(login.players.begin(), login.players.end(),
                               [&](const PlayerEntry& p) { return p.nickname == nickname; });
  return it == login.players.end() ? nullptr : &*it;
}

// Left-scope notices about `player` a client has received so far.
std::size_t LeftNoticesAbout(VoiceClient& c, std::uint32_t player) {
  const auto all = c.History<PlayerLeftScope>();
  return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const auto& n) {
    return n.left_player_id == player;
  }));
}

TEST(PlayerCommandsTest, AQuitIsAnnouncedOnceToEachViewerTheLeaversOwnLast) {
  CommandsServer server(TwoChannels());
  VoiceClient& anna = server.Join("Anna");
  VoiceClient& ben = server.Join("Ben");
  VoiceClient& cal = server.Join("Cal", "Lobby");
  const std::uint32_t cal_id = cal.player_id();
  for (VoiceClient* c : {&anna, &ben}) {
    c->WaitFor<PlayerEnteredScope>(
        [cal_id](const PlayerEnteredScope& e) { return e.player.player_id == cal_id; });
  }
  server.ForgetAll();

  anna.Quit();
  for (VoiceClient* c : {&anna, &ben, &cal}) {
    SCOPED_TRACE(c->nickname());
    const PlayerLeftScope left = c->WaitFor<PlayerLeftScope>();
    EXPECT_EQ(left.left_player_id, anna.player_id());
    EXPECT_EQ(left.reason, 1);
    EXPECT_EQ(left.acting_player, 0);
    EXPECT_EQ(left.raw.size(), 64u);
  }
  // Once the connection has closed nothing more is said about Anna, and
  // nothing came to her after her own notice.
  std::this_thread::sleep_for(1s);
  for (VoiceClient* c : {&anna, &ben, &cal}) EXPECT_EQ(LeftNoticesAbout(*c, anna.player_id()), 1u);
  for (const std::string& unread : anna.Unread()) EXPECT_EQ(unread, "Pong");
}

TEST(PlayerCommandsTest, AKickIsAnnouncedOnce) {
  CommandsServer server(TwoChannels());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& ben = server.Join("Ben");
  VoiceClient& cal = server.Join("Cal");
  server.ForgetAll();

  boss.Send(PlayerKick(ben.player_id(), "behave"));
  for (VoiceClient* c : {&boss, &ben, &cal}) {
    SCOPED_TRACE(c->nickname());
    const PlayerLeftScope left = c->WaitFor<PlayerLeftScope>();
    EXPECT_EQ(left.left_player_id, ben.player_id());
    EXPECT_EQ(left.reason, 2);
    EXPECT_EQ(left.acting_player, static_cast<std::int32_t>(boss.player_id()));
    EXPECT_EQ(left.message, "behave");
  }
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(LeftNoticesAbout(cal, ben.player_id()), 1u);
  EXPECT_EQ(LeftNoticesAbout(boss, ben.player_id()), 1u);
}

// Anna and Ben are in Default, Cal in Lobby; Anna switches to Lobby.
TEST(PlayerCommandsTest, WhoLearnsOfASwitchDependsOnTheServerType) {
  for (const bool is_public : {true, false}) {
    SCOPED_TRACE(is_public ? "public server" : "clan server");
    CommandsServer server(TwoChannels(is_public ? "ServerType=2" : "ServerType=1"));
    VoiceClient& anna = server.Join("Anna");
    VoiceClient& ben = server.Join("Ben");
    VoiceClient& cal = server.Join("Cal", "Lobby");
    server.ForgetAll();

    anna.Send(PlayerChannelSwitch(1));
    const PlayerSwitchedChannel own = anna.WaitFor<PlayerSwitchedChannel>();
    EXPECT_EQ(own.switched_player_id, anna.player_id());
    EXPECT_EQ(own.old_channel, 0);
    EXPECT_EQ(own.new_channel, 1);
    EXPECT_EQ(own.raw.size(), 38u);
    if (is_public) {
      const PlayerLeftScope out_of_view = ben.WaitFor<PlayerLeftScope>();
      EXPECT_EQ(out_of_view.left_player_id, anna.player_id());
      EXPECT_EQ(out_of_view.reason, 6);
      EXPECT_EQ(out_of_view.acting_player, 0);
      EXPECT_EQ(cal.WaitFor<PlayerEnteredScope>().player.player_id, anna.player_id());
      const PlayersInSwitchedChannel others = anna.WaitFor<PlayersInSwitchedChannel>();
      EXPECT_EQ(others.raw.size(), 488u);
      ASSERT_EQ(others.count, 1);
      EXPECT_EQ(others.players[0].nickname, "Cal");
      EXPECT_TRUE(ben.NoneWithin<PlayerSwitchedChannel>(kQuiet));
      EXPECT_TRUE(cal.TakeAll<PlayerSwitchedChannel>().empty());
    } else {
      for (VoiceClient* c : {&ben, &cal}) {
        EXPECT_EQ(c->WaitFor<PlayerSwitchedChannel>().new_channel, 1);
      }
      EXPECT_TRUE(ben.NoneWithin<PlayerLeftScope>(kQuiet));
      EXPECT_TRUE(cal.TakeAll<PlayerEnteredScope>().empty());
      EXPECT_TRUE(anna.TakeAll<PlayersInSwitchedChannel>().empty());
    }
    // The flags follow, to everybody who sees Anna now.
    EXPECT_EQ(cal.WaitFor<PlayerFlagsNotice>().changed_player_id, anna.player_id());
  }
}

TEST(PlayerCommandsTest, ASwitchNeedsTheRightPasswordAndRoomExceptForAdministrators) {
  SessionServerSetup setup = TwoChannels();
  setup.channels[1].password = "secret";
  setup.channels[1].max_users = 1;
  CommandsServer server(setup);
  server.Join("Dan", "Lobby", "", "", "secret");
  VoiceClient& pat = server.Join("Pat");
  VoiceClient& boss = server.JoinAdmin();
  server.ForgetAll();

  const std::uint32_t wrong = pat.Send(PlayerChannelSwitch(1, "wrong"));
  const ErrorPacket answer = pat.WaitFor<ErrorPacket>();
  EXPECT_EQ(answer.code, -111);
  EXPECT_EQ(answer.refused_type, 303);
  EXPECT_EQ(answer.refused_sequence, wrong);
  EXPECT_EQ(answer.raw.size(), 34u);
  EXPECT_EQ(answer.channel_id, 1);

  struct Case {
    const char* name;
    Command request;
    std::int16_t code;
  };
  for (const Case& c : std::vector<Case>{{"no password", PlayerChannelSwitch(1, ""), -110},
                                         {"full", PlayerChannelSwitch(1, "secret"), -113},
                                         {"no such channel", PlayerChannelSwitch(99, ""), -102}}) {
    SCOPED_TRACE(c.name);
    const std::uint32_t seq = pat.Send(c.request);
    const ErrorPacket error = pat.WaitFor<ErrorPacket>();
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.refused_sequence, seq);
    EXPECT_EQ(error.raw.size(), 30u);
  }
  EXPECT_TRUE(pat.NoneWithin<PlayerSwitchedChannel>(kQuiet));

  boss.Send(PlayerChannelSwitch(1, ""));
  const PlayerSwitchedChannel moved = pat.WaitFor<PlayerSwitchedChannel>();
  EXPECT_EQ(moved.switched_player_id, boss.player_id());
  EXPECT_EQ(moved.new_channel, 1);
}

TEST(PlayerCommandsTest, VoiceIsRequestedInModeratedChannelsAndGrantingItAnswersTheRequest) {
  SessionServerSetup setup = TwoChannels();
  setup.channels[1].flags = 2;  // Lobby is moderated
  CommandsServer server(setup);
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& anna = server.Join("Anna");
  server.ForgetAll();

  std::uint32_t seq = anna.Send(PlayerRequestVoice("please"));
  ErrorPacket error = anna.WaitFor<ErrorPacket>();
  EXPECT_EQ(error.code, -130);
  EXPECT_EQ(error.refused_sequence, seq);

  anna.Send(PlayerChannelSwitch(1));
  anna.WaitFor<PlayerSwitchedChannel>();
  anna.Send(PlayerRequestVoice("please"));
  const PlayerRequestedVoice request = boss.WaitFor<PlayerRequestedVoice>();
  EXPECT_EQ(request.requesting_player_id, anna.player_id());
  EXPECT_EQ(request.text, "please");
  EXPECT_EQ(request.raw.size(), 58u);
  seq = anna.Send(PlayerRequestVoice("please!"));
  error = anna.WaitFor<ErrorPacket>();
  EXPECT_EQ(error.code, -131);
  EXPECT_EQ(error.refused_sequence, seq);

  boss.Forget();
  boss.Send(PlayerChangeChannelPrivilege(anna.player_id(), 0, 2));
  const PlayerFlagsNotice flags = boss.WaitFor<PlayerFlagsNotice>();
  EXPECT_EQ(flags.changed_player_id, anna.player_id());
  EXPECT_EQ(flags.player_flags & 2u, 0u);
  const PlayerChannelPrivilegeChanged voice = boss.WaitFor<PlayerChannelPrivilegeChanged>();
  EXPECT_LT(flags.sequence, voice.sequence);
  EXPECT_EQ(voice.bit, 2);
  EXPECT_EQ(voice.action, 0);
  EXPECT_EQ(voice.acting_player, static_cast<std::int32_t>(boss.player_id()));

  // Kicked from the channel: back to the default channel without privileges.
  boss.Send(PlayerKickFromChannel(anna.player_id(), "out"));
  const PlayerKickedFromChannel kicked = anna.WaitFor<PlayerKickedFromChannel>();
  EXPECT_EQ(kicked.raw.size(), 68u);
  EXPECT_EQ(kicked.kicked_player_id, anna.player_id());
  EXPECT_EQ(kicked.old_channel, 1);
  EXPECT_EQ(kicked.new_channel, 0);
  EXPECT_EQ(kicked.channel_privileges, 0);
  EXPECT_EQ(kicked.reason, "out");
}

TEST(PlayerCommandsTest, AutomaticVoiceIsStoredAloneAndSurvivesARestart) {
  CommandsServer server(TwoChannels());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& vic = server.Join("Vic", "", "vic", "v");
  server.ForgetAll();

  boss.Send(PlayerChangeChannelPrivilege(vic.player_id(), 0, 4));
  const PlayerChannelPrivilegeChanged automatic = vic.WaitFor<PlayerChannelPrivilegeChanged>();
  const PlayerChannelPrivilegeChanged voice = vic.WaitFor<PlayerChannelPrivilegeChanged>();
  EXPECT_EQ(automatic.bit, 4);
  EXPECT_EQ(automatic.action, 0);
  EXPECT_EQ(automatic.acting_player, static_cast<std::int32_t>(boss.player_id()));
  EXPECT_EQ(voice.bit, 2);
  EXPECT_EQ(voice.action, 1);
  EXPECT_EQ(voice.acting_player, 0);

  server.server().Restart();
  storage::FreeBase db;
  db.SetFileName(server.server().DatabasePath());
  db.SetActive(true);
  const auto stored = storage::LoadChannel(db, 0, kSessionServerKey);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->user_attributes, std::vector<std::string>{"vic=16"});
  db.SetActive(false);

  VoiceClient again(server.server().port());
  LoginRequest r;
  r.nickname = "Vic";
  r.login_name = "vic";
  r.password = "v";
  const LoginResult login = again.Login(r);
  const PlayerEntry* entry = EntryOf(login, "Vic");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->channel_privileges, 16 | 4);
}

TEST(PlayerCommandsTest, RegistrationRules) {
  {
    CommandsServer closed(TwoChannels());  // ServerFlags 2: no open registration
    VoiceClient& pat = closed.Join("Pat");
    VoiceClient& vic = closed.Join("Vic", "", "vic", "v");
    std::uint32_t seq = pat.Send(PlayerRegister("pat", "p"));
    EXPECT_EQ(pat.WaitFor<ErrorPacket>().code, -140);
    seq = vic.Send(PlayerRegister("vic2", "v"));
    const ErrorPacket error = vic.WaitFor<ErrorPacket>();
    EXPECT_EQ(error.code, -143);
    EXPECT_EQ(error.refused_sequence, seq);
    EXPECT_FALSE(closed.CanLogIn("pat", "p"));
  }

  CommandsServer open(TwoChannels("ServerFlags=3"));
  VoiceClient& boss = open.JoinAdmin();
  VoiceClient& pat = open.Join("Pat");
  open.ForgetAll();
  // Names that are taken or cannot be stored; the player keeps none of them.
  for (const std::string name : {"admin", "VIC", "", "vic\\LogInName"}) {
    SCOPED_TRACE(name);
    pat.Send(PlayerRegister(name, "stolen"));
    EXPECT_EQ(pat.WaitFor<ErrorPacket>().code, -141);
  }
  // A later save of Pat's privileges therefore overwrites no account.
  boss.Send(PlayerChangePrivilege(pat.player_id(), 0, 5));
  boss.WaitFor<PlayerPrivilegesChanged>();
  EXPECT_TRUE(open.CanLogIn("admin", kAdminPassword));
  EXPECT_TRUE(open.CanLogIn("vic", "v"));
  EXPECT_FALSE(open.CanLogIn("admin", "stolen"));

  pat.Send(PlayerRegister("pat", "p"));
  for (VoiceClient* c : {&boss, &pat}) {
    const PlayerPrivilegesChanged registered = c->WaitFor<PlayerPrivilegesChanged>(
        [](const PlayerPrivilegesChanged& n) { return n.bit == 2; });
    EXPECT_EQ(registered.changed_player_id, pat.player_id());
    EXPECT_EQ(registered.action, 1);
    EXPECT_EQ(registered.acting_player, 0);
  }
  EXPECT_TRUE(open.CanLogIn("pat", "p"));
  pat.Send(PlayerRegister("pat2", "p"));
  EXPECT_EQ(pat.WaitFor<ErrorPacket>().code, -143);

  // An administrator registers others, as administrators if it likes.
  boss.Send(PlayerAdminRegister("newbie", "n", true));
  EXPECT_EQ(boss.WaitFor<PlayerAdminRegisteredOK>().raw.size(), 24u);
  boss.Send(PlayerAdminRegister("newbie", "n", false));
  EXPECT_EQ(boss.WaitFor<ErrorPacket>().code, -141);
  VoiceClient newbie(open.server().port());
  LoginRequest r;
  r.nickname = "Newbie";
  r.login_name = "newbie";
  r.password = "n";
  const LoginResult login = newbie.Login(r);
  const PlayerEntry* entry = EntryOf(login, "Newbie");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->privileges, 1 | 4);
}

}  // namespace
}  // namespace voxhall::testing
