// Who may use which channel and player command, against the real server:
// every refusal code of the rights table echoing the refused request, and
// the server privileges a channel administrator cannot give itself or take
// from others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands_fixture.h"

namespace voxhall::testing {
namespace {

// Default (0, sub-channels allowed; chad is its channel administrator, opal
// operator with voice), Lobby (1) and its sub-channel Sub (2). Nobody but a
// server administrator may create top-level channels.
SessionServerSetup RightsSetup(std::uint16_t server_flags) {
  SessionServerSetup setup;
  setup.settings = {"ServerFlags=" + std::to_string(server_flags)};
  storage::StoredChannel home = StoredChannelNamed("Default", 16 | 8);
  home.user_attributes = {"chad=1", "opal=6"};
  storage::StoredChannel lobby = StoredChannelNamed("Lobby", 8);
  setup.channels = {home, lobby, StoredSubChannel("Sub", 1)};
  setup.users = {StoredUserNamed("chad", "c"), StoredUserNamed("opal", "o")};
  return setup;
}

ChannelFields NewChannel(const std::string& name, std::uint16_t flags, std::int32_t parent = -1) {
  return {.flags = flags, .parent = parent, .name = name, .max_users = 10};
}

TEST(PrivilegesTest, RefusalsEchoTheRefusedRequest) {
  CommandsServer server(RightsSetup(0));
  VoiceClient& pat = server.Join("Pat");
  VoiceClient& chad = server.Join("Chad", "", "chad", "c");
  VoiceClient& opal = server.Join("Opal", "", "opal", "o");
  server.ForgetAll();

  struct Case {
    const char* name;
    VoiceClient* sender;
    Command request;
    std::int16_t code;
  };
  const std::uint32_t admin_id = chad.player_id();  // any other player will do as a target
  const std::vector<Case> cases = {
      {"password", &pat, ChannelChangePassword(1, "x"), -1007},
      {"properties", &pat, ChannelChangeProperties(1, 8, 0), -1007},
      {"name", &pat, ChannelChangeName(1, "x"), -1007},
      {"topic", &pat, ChannelChangeTopic(1, "x"), -1007},
      {"description", &pat, ChannelChangeDescription(1, "x"), -1007},
      {"max users", &pat, ChannelChangeMaxUsers(1, 3), -1007},
      {"order", &pat, ChannelChangeOrder(1, 3), -1007},
      {"change all", &pat, ChannelChangeAll(1, NewChannel("Lobby", 8)), -1007},
      {"change all to default", &opal, ChannelChangeAll(1, NewChannel("Lobby", 8 | 16)), -1000},
      {"destroy top-level", &chad, ChannelDestroy(1), -1000},
      {"destroy sub-channel", &opal, ChannelDestroy(2), -1008},
      {"create registered", &chad, ChannelCreate(NewChannel("Reg", 0)), -1000},
      {"create default", &chad, ChannelCreate(NewChannel("Def", 1 | 16)), -1000},
      {"create top-level", &chad, ChannelCreate(NewChannel("Top", 1)), -1000},
      {"create sub-channel", &opal, ChannelCreate(NewChannel("Low", 1, 0)), -1008},
      {"kick", &pat, PlayerKick(admin_id, "x"), -1007},
      {"kick from channel", &pat, PlayerKickFromChannel(admin_id, "x"), -1007},
      {"channel privilege", &pat, PlayerChangeChannelPrivilege(pat.player_id(), 0, 1), -1007},
      {"server privilege", &pat, PlayerChangePrivilege(pat.player_id(), 0, 5), -1007},
      {"register another", &chad, PlayerAdminRegister("new", "pw", false), -1000},
      {"already channel admin", &opal, PlayerChangeChannelPrivilege(chad.player_id(), 0, 0), -1021},
      {"already operator", &opal, PlayerChangeChannelPrivilege(opal.player_id(), 0, 1), -1022},
      {"already voice", &opal, PlayerChangeChannelPrivilege(opal.player_id(), 0, 2), -1023},
      {"automatic operator", &opal, PlayerChangeChannelPrivilege(pat.player_id(), 0, 3), -1035},
      {"automatic voice", &opal, PlayerChangeChannelPrivilege(pat.player_id(), 0, 4), -1035},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint16_t type = c.request.type;
    const std::uint32_t seq = c.sender->Send(c.request);
    const ErrorPacket error = c.sender->WaitFor<ErrorPacket>();
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.refused_type, static_cast<std::int16_t>(type));
    EXPECT_EQ(error.refused_sequence, seq);
    EXPECT_EQ(error.raw.size(), 30u);
  }
  // Nothing was changed, so nobody was told of anything.
  for (VoiceClient* c : {&pat, &chad, &opal}) {
    EXPECT_TRUE(c->NoneWithin<ChannelPropertiesChanged>(kQuiet));
    EXPECT_TRUE(c->TakeAll<ChannelCreated>().empty());
    EXPECT_TRUE(c->TakeAll<PlayerChannelPrivilegeChanged>().empty());
    EXPECT_TRUE(c->TakeAll<PlayerLeftScope>().empty());
    EXPECT_TRUE(c->TakeAll<PlayerPrivilegesChanged>().empty());
  }
}

// A player who created its own channel is that channel's administrator, and
// channel administrators may change server privileges; but not the ones
// that make a server administrator, open the administration interfaces or
// delete accounts.
TEST(PrivilegesTest, AChannelAdministratorCannotEscalate) {
  CommandsServer server(RightsSetup(2));
  VoiceClient& opal = server.Join("Opal", "", "opal", "o");
  VoiceClient& pat = server.Join("Pat");
  pat.Send(ChannelCreate(NewChannel("Pats Place", 1)));
  const PlayerChannelPrivilegeChanged became = pat.WaitFor<PlayerChannelPrivilegeChanged>();
  ASSERT_EQ(became.bit, 0);
  ASSERT_EQ(became.action, 1);

  struct Case {
    const char* name;
    Command request;
  };
  const std::vector<Case> refused = {
      {"grant itself server administrator", PlayerChangePrivilege(pat.player_id(), 0, 0)},
      {"grant itself super server administrator", PlayerChangePrivilege(pat.player_id(), 0, 3)},
      {"grant itself registration", PlayerChangePrivilege(pat.player_id(), 0, 2)},
      {"revoke another's registration", PlayerChangePrivilege(opal.player_id(), 2, 2)},
      {"revoke another's server administrator", PlayerChangePrivilege(opal.player_id(), 2, 0)},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    const std::uint32_t seq = pat.Send(c.request);
    const ErrorPacket error = pat.WaitFor<ErrorPacket>();
    EXPECT_EQ(error.code, -1000);
    EXPECT_EQ(error.refused_type, 307);
    EXPECT_EQ(error.refused_sequence, seq);
  }
  EXPECT_TRUE(opal.NoneWithin<PlayerPrivilegesChanged>(kQuiet));
  EXPECT_TRUE(server.CanLogIn("opal", "o"));

  // The bits without a meaning of their own stay open to channel operators.
  pat.Send(PlayerChangePrivilege(opal.player_id(), 0, 5));
  const PlayerPrivilegesChanged bit5 = opal.WaitFor<PlayerPrivilegesChanged>();
  EXPECT_EQ(bit5.changed_player_id, opal.player_id());
  EXPECT_EQ(bit5.bit, 5);
  EXPECT_EQ(bit5.action, 0);
  EXPECT_EQ(bit5.acting_player, static_cast<std::int32_t>(pat.player_id()));
}

TEST(PrivilegesTest, AServerAdministratorGrantsAdministrationAndRevokesRegistration) {
  CommandsServer server(RightsSetup(2));
  VoiceClient& boss = server.JoinAdmin();
  VoiceClient& opal = server.Join("Opal", "", "opal", "o");
  VoiceClient& pat = server.Join("Pat");
  server.ForgetAll();

  boss.Send(PlayerChangePrivilege(pat.player_id(), 0, 0));
  const PlayerPrivilegesChanged granted = opal.WaitFor<PlayerPrivilegesChanged>();
  EXPECT_EQ(granted.changed_player_id, pat.player_id());
  EXPECT_EQ(granted.bit, 0);
  EXPECT_EQ(granted.action, 0);
  // Pat now passes every check: it may destroy a top-level channel.
  pat.Send(ChannelDestroy(1));
  EXPECT_EQ(boss.WaitFor<ChannelDestroyed>().channel_id, 2);  // the sub-channel first
  EXPECT_EQ(boss.WaitFor<ChannelDestroyed>().channel_id, 1);

  // Revoking registration takes server administrator with it, in two
  // notices to everybody who sees the player, and deletes the account.
  boss.Send(PlayerChangePrivilege(opal.player_id(), 2, 2));
  const std::uint32_t opal_id = opal.player_id();  // not inside a wait: it locks the client
  const auto about_opal = [opal_id](const PlayerPrivilegesChanged& n) {
    return n.changed_player_id == opal_id;
  };
  for (VoiceClient* c : {&boss, &opal, &pat}) {
    SCOPED_TRACE(c->nickname());
    const PlayerPrivilegesChanged first = c->WaitFor<PlayerPrivilegesChanged>(about_opal);
    const PlayerPrivilegesChanged second = c->WaitFor<PlayerPrivilegesChanged>(about_opal);
    EXPECT_EQ(first.bit, 0);
    EXPECT_EQ(first.action, 3);
    EXPECT_EQ(first.acting_player, static_cast<std::int32_t>(boss.player_id()));
    EXPECT_EQ(second.bit, 2);
    EXPECT_EQ(second.action, 2);
    EXPECT_EQ(second.raw.size(), 34u);
  }
  EXPECT_FALSE(server.CanLogIn("opal", "o"));
}

}  // namespace
}  // namespace voxhall::testing
