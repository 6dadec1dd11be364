// The channel commands against the real server: creating a channel as a
// player and as an administrator, destroying a tree, protecting the default
// channel and occupied trees, the side effects of a properties change in a
// channel that is not moderated, and ChangeAll's rules for the password.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands_fixture.h"

namespace voxhall::testing {
namespace {

// Default (0, sub-channels allowed; opal is operator with voice there),
// Lobby (1, sub-channels allowed) and its sub-channel Sub (2).
SessionServerSetup ChannelSetup() {
  SessionServerSetup setup;
  storage::StoredChannel home = StoredChannelNamed("Default", 16 | 8);
  home.user_attributes = {"opal=6"};
  setup.channels = {home, StoredChannelNamed("Lobby", 8), StoredSubChannel("Sub", 1)};
  setup.users = {StoredUserNamed("opal", "o")};
  return setup;
}

ChannelFields NewChannel(const std::string& name, std::uint16_t flags, std::int32_t parent = -1) {
  return {.flags = flags,
          .parent = parent,
          .name = name,
          .topic = name + " topic",
          .description = name + " description",
          .order = 7,
          .max_users = 10};
}

TEST(ChannelCommandsTest, APlayerCreatesItsOwnChannelAndMovesIn) {
  CommandsServer server(ChannelSetup());  // ServerFlags 2: anybody creates top-level channels
  VoiceClient& anna = server.Join("Anna");
  VoiceClient& ben = server.Join("Ben");
  server.ForgetAll();

  anna.Send(ChannelCreate(NewChannel("Camp", 1)));
  for (VoiceClient* c : {&anna, &ben}) {
    SCOPED_TRACE(c->nickname());
    const ChannelCreated created = c->WaitFor<ChannelCreated>();
    EXPECT_EQ(created.raw.size(), 204u);
    EXPECT_EQ(created.channel.id, 3);
    EXPECT_EQ(created.channel.name, "Camp");
    EXPECT_EQ(created.channel.topic, "Camp topic");
    EXPECT_EQ(created.channel.flags, 1);
    EXPECT_EQ(created.channel.parent, -1);
    EXPECT_EQ(created.channel.order, 7);
    EXPECT_EQ(created.channel.max_users, 10);
    EXPECT_EQ(created.acting_player, static_cast<std::int32_t>(anna.player_id()));
    const PlayerSwitchedChannel moved = c->WaitFor<PlayerSwitchedChannel>();
    EXPECT_EQ(moved.switched_player_id, anna.player_id());
    EXPECT_EQ(moved.old_channel, 0);
    EXPECT_EQ(moved.new_channel, 3);
    const PlayerChannelPrivilegeChanged admin = c->WaitFor<PlayerChannelPrivilegeChanged>();
    EXPECT_EQ(admin.changed_player_id, anna.player_id());
    EXPECT_EQ(admin.bit, 0);
    EXPECT_EQ(admin.action, 1);
    EXPECT_EQ(admin.acting_player, 0);
  }

  // A registered channel is for server administrators.
  const std::uint32_t seq = anna.Send(ChannelCreate(NewChannel("Registered", 0)));
  const ErrorPacket refused = anna.WaitFor<ErrorPacket>();
  EXPECT_EQ(refused.code, -1000);
  EXPECT_EQ(refused.refused_sequence, seq);

  // Anna, now a channel administrator, moves on to a second channel; the
  // first, empty and unregistered, disappears.
  anna.Send(ChannelCreate(NewChannel("Camp2", 1)));
  EXPECT_EQ(ben.WaitFor<ChannelCreated>().channel.id, 4);
  EXPECT_EQ(ben.WaitFor<PlayerSwitchedChannel>().new_channel, 4);
  const ChannelDestroyed gone = ben.WaitFor<ChannelDestroyed>();
  EXPECT_EQ(gone.channel_id, 3);
  EXPECT_EQ(gone.acting_player, static_cast<std::int32_t>(anna.player_id()));
  EXPECT_TRUE(ben.NoneWithin<PlayerChannelPrivilegeChanged>(kQuiet));
}

TEST(ChannelCommandsTest, ANewDefaultChannelIsAnnouncedAfterTheOldLosesTheFlag) {
  CommandsServer server(ChannelSetup());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& anna = server.Join("Anna");
  server.ForgetAll();

  boss.Send(ChannelCreate(NewChannel("Home", 16)));
  const ChannelPropertiesChanged old_default = anna.WaitFor<ChannelPropertiesChanged>();
  const ChannelCreated created = anna.WaitFor<ChannelCreated>();
  EXPECT_LT(old_default.sequence, created.sequence);
  EXPECT_EQ(old_default.channel_id, 0);
  EXPECT_EQ(old_default.flags, 8);
  EXPECT_EQ(old_default.acting_player, static_cast<std::int32_t>(boss.player_id()));
  EXPECT_EQ(created.channel.flags, 16);
  // A registered channel takes nobody in.
  EXPECT_TRUE(anna.NoneWithin<PlayerSwitchedChannel>(kQuiet));
  // New players start there.
  server.Join("Carl");
  EXPECT_EQ(anna.WaitFor<PlayerEnteredScope>().player.channel_id, 3);
}

TEST(ChannelCommandsTest, DestroyingATreeAnnouncesTheSubChannelFirst) {
  CommandsServer server(ChannelSetup());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& anna = server.Join("Anna");
  server.ForgetAll();

  boss.Send(ChannelDestroy(1));
  const ChannelDestroyed sub = anna.WaitFor<ChannelDestroyed>();
  const ChannelDestroyed lobby = anna.WaitFor<ChannelDestroyed>();
  EXPECT_EQ(sub.channel_id, 2);
  EXPECT_EQ(lobby.channel_id, 1);
  EXPECT_EQ(lobby.acting_player, static_cast<std::int32_t>(boss.player_id()));
  EXPECT_EQ(lobby.raw.size(), 30u);
  const std::uint32_t seq = boss.Send(ChannelChangeName(1, "Gone"));
  EXPECT_EQ(boss.WaitFor<ErrorPacket>().refused_sequence, seq);
}

// Players in any channel of a tree keep the whole tree, and the default
// channel keeps its flag, whoever asks.
TEST(ChannelCommandsTest, OccupiedTreesAndTheDefaultChannelAreProtected) {
  struct Case {
    const char* name;
    std::string admin_channel;     // where the administrator asking is
    std::int32_t occupied = -1;    // a channel another player moves to first
    Command request;
    std::int16_t code;
  };
  const std::vector<Case> cases = {
      {"player in the channel", "Lobby", -1, ChannelDestroy(1), -109},
      {"player in a sub-channel", "", 2, ChannelDestroy(1), -109},
      {"default channel", "Lobby", -1, ChannelDestroy(0), -117},
      {"default flag taken off by properties", "Lobby", -1, ChannelChangeProperties(0, 8, 0),
       -117},
      {"default flag taken off by change all", "Lobby", -1,
       ChannelChangeAll(0, NewChannel("Default", 8)), -117},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandsServer server(ChannelSetup());
    VoiceClient& boss = server.JoinAdmin(c.admin_channel);
    if (c.occupied >= 0) {
      server.Join("Occupant").Send(PlayerChannelSwitch(c.occupied));
      EXPECT_EQ(boss.WaitFor<PlayerSwitchedChannel>().new_channel, c.occupied);
    }
    server.ForgetAll();
    const std::uint32_t seq = boss.Send(c.request);
    const ErrorPacket error = boss.WaitFor<ErrorPacket>();
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.refused_type, static_cast<std::int16_t>(c.request.type));
    EXPECT_EQ(error.refused_sequence, seq);
    EXPECT_TRUE(boss.NoneWithin<ChannelDestroyed>(kQuiet));
    EXPECT_TRUE(boss.TakeAll<ChannelPropertiesChanged>().empty());
    // The default channel still takes the next player.
    const LoginResult login = [&] {
      VoiceClient late(server.server().port());
      return late.Login("Late");
    }();
    ASSERT_FALSE(login.players.empty());
    for (const PlayerEntry& p : login.players) {
      if (p.nickname == "Late") {
        EXPECT_EQ(p.channel_id, 0);
      }
    }
  }
}

TEST(ChannelCommandsTest, APasswordInAnUnmoderatedChannelTakesOperatorAndVoice) {
  CommandsServer server(ChannelSetup());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& opal = server.Join("Opal", "", "opal", "o");
  server.ForgetAll();

  boss.Send(ChannelChangePassword(0, "secret"));
  const ChannelPasswordChanged confirmed = boss.WaitFor<ChannelPasswordChanged>();
  EXPECT_EQ(confirmed.channel_id, 0);
  EXPECT_EQ(confirmed.raw.size(), 28u);
  EXPECT_TRUE(opal.NoneWithin<ChannelPasswordChanged>(kQuiet));

  const ChannelPropertiesChanged properties = opal.WaitFor<ChannelPropertiesChanged>();
  EXPECT_EQ(properties.flags, 16 | 8 | 4);
  for (VoiceClient* c : {&boss, &opal}) {
    SCOPED_TRACE(c->nickname());
    const std::uint32_t opal_id = opal.player_id();  // not inside a wait: it locks the client
    const auto about_opal = [opal_id](const PlayerChannelPrivilegeChanged& n) {
      return n.changed_player_id == opal_id;
    };
    const PlayerChannelPrivilegeChanged op = c->WaitFor<PlayerChannelPrivilegeChanged>(about_opal);
    const PlayerChannelPrivilegeChanged voice =
        c->WaitFor<PlayerChannelPrivilegeChanged>(about_opal);
    EXPECT_EQ(op.bit, 1);
    EXPECT_EQ(op.action, 3);
    EXPECT_EQ(op.acting_player, 0);
    EXPECT_EQ(voice.bit, 2);
    EXPECT_EQ(voice.action, 3);
  }
  // Without operator rights Opal can change nothing any more.
  opal.Send(ChannelChangeTopic(0, "mine"));
  EXPECT_EQ(opal.WaitFor<ErrorPacket>().code, -1007);
}

TEST(ChannelCommandsTest, ChangeAllAnnouncesWhatChangedAndCanKeepThePassword) {
  CommandsServer server(ChannelSetup());
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& anna = server.Join("Anna");
  boss.Send(ChannelChangePassword(1, "secret"));
  EXPECT_EQ(anna.WaitFor<ChannelPropertiesChanged>().flags, 8 | 4);
  server.ForgetAll();

  ChannelFields all = NewChannel("Lobby", 8 | 4);  // flag 4 and no password: keep it
  all.topic = "new topic";
  all.description = "Lobby";
  all.order = 0;
  all.max_users = 100;
  boss.Send(ChannelChangeAll(1, all));
  const ChannelTopicChanged topic = anna.WaitFor<ChannelTopicChanged>();
  EXPECT_EQ(topic.channel_id, 1);
  EXPECT_EQ(topic.text, "new topic");
  EXPECT_EQ(topic.raw.size(), 62u);
  EXPECT_TRUE(anna.NoneWithin<ChannelPropertiesChanged>(kQuiet));
  EXPECT_TRUE(anna.TakeAll<ChannelNameChanged>().empty());
  EXPECT_TRUE(anna.TakeAll<ChannelDescriptionChanged>().empty());
  EXPECT_TRUE(anna.TakeAll<ChannelMaxUsersChanged>().empty());
  EXPECT_TRUE(anna.TakeAll<ChannelOrderChanged>().empty());

  const std::uint32_t seq = anna.Send(PlayerChannelSwitch(1, ""));
  const ErrorPacket needs = anna.WaitFor<ErrorPacket>();
  EXPECT_EQ(needs.code, -110);
  EXPECT_EQ(needs.refused_sequence, seq);
  anna.Send(PlayerChannelSwitch(1, "secret"));
  EXPECT_EQ(anna.WaitFor<PlayerSwitchedChannel>().new_channel, 1);

  // The single-value commands.
  boss.Send(ChannelChangeOrder(1, -3));
  const ChannelOrderChanged order = anna.WaitFor<ChannelOrderChanged>();
  EXPECT_EQ(order.value, -3);
  EXPECT_EQ(order.raw.size(), 34u);
  boss.Send(ChannelChangeMaxUsers(1, 5));
  EXPECT_EQ(anna.WaitFor<ChannelMaxUsersChanged>().value, 5);
  boss.Send(ChannelChangeDescription(1, "about the lobby"));
  const ChannelDescriptionChanged description = anna.WaitFor<ChannelDescriptionChanged>();
  EXPECT_EQ(description.text, "about the lobby");
  EXPECT_EQ(description.raw.size(), 132u);
}

}  // namespace
}  // namespace voxhall::testing
