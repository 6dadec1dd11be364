// The rights table on its own: for each kind of sender and request, the
// refusal code or 0. The integration tests show the same rules through the
// real server; this table shows the rows that decide between them.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/channel_commands.h"
#include "protocol/player_commands.h"
#include "protocol/privileges.h"

namespace voxhall::protocol {
namespace {

ClientObject Player(std::uint16_t privileges, std::uint16_t channel_privileges) {
  ClientObject p;
  p.Privileges = privileges;
  p.ChannelPrivileges = channel_privileges;
  return p;
}

TEST(PrivilegesTableTest, EachRowDecides) {
  const ClientObject nobody = Player(0, 0);
  const ClientObject voice = Player(0, kChannelPrivilegeVoice);
  const ClientObject op = Player(0, kChannelPrivilegeOperator);
  const ClientObject channel_admin = Player(0, kChannelPrivilegeAdmin);
  const ClientObject server_admin = Player(kPrivilegeServerAdmin, 0);
  const ClientObject registered = Player(kPrivilegeRegistered, 0);
  const ClientObject may_register = Player(kPrivilegeMayRegister, 0);

  struct Case {
    const char* name;
    const ClientObject* sender;
    std::uint16_t command;
    RequestFacts facts;
    std::uint16_t server_flags;
    std::int32_t expected;
  };
  const RequestFacts top{.top_level = true};
  const RequestFacts sub{.top_level = false};
  const RequestFacts unregistered_top{.top_level = true, .registered_channel = false};
  const std::vector<Case> cases = {
      {"voice is no operator", &voice, kChannelChangeName, top, 2, -1007},
      {"operator renames", &op, kChannelChangeName, top, 2, 0},
      {"operator cannot destroy a sub-channel", &op, kChannelDestroy, sub, 2, -1008},
      {"channel admin destroys a sub-channel", &channel_admin, kChannelDestroy, sub, 2, 0},
      {"channel admin cannot destroy a top-level channel", &channel_admin, kChannelDestroy, top, 2,
       -1000},
      {"anybody creates top-level on an open server", &nobody, kChannelCreate, unregistered_top,
       2, 0},
      {"nobody creates top-level on a closed server", &channel_admin, kChannelCreate,
       unregistered_top, 0, -1000},
      {"registered channel", &channel_admin, kChannelCreate,
       {.top_level = true, .registered_channel = true}, 2, -1000},
      {"default channel", &nobody, kChannelCreate, {.top_level = true, .default_flag = true}, 2,
       -1000},
      {"sub-channel needs channel admin", &op, kChannelCreate, sub, 2, -1008},
      {"server admin creates anything", &server_admin, kChannelCreate,
       {.top_level = true, .registered_channel = true, .default_flag = true}, 0, 0},
      {"change all to default", &op, kChannelChangeAll, {.default_flag = true}, 2, -1000},
      {"change all", &op, kChannelChangeAll, {}, 2, 0},
      {"kick", &voice, kPlayerKick, {}, 2, -1007},
      {"quit is open", &nobody, kPlayerQuit, {}, 2, 0},
      {"server privilege needs operator first", &nobody, kPlayerChangePrivilege,
       {.privilege_bit = 0}, 2, -1007},
      {"channel admin: bit 0", &channel_admin, kPlayerChangePrivilege, {.privilege_bit = 0}, 2,
       -1000},
      {"channel admin: bit 2", &channel_admin, kPlayerChangePrivilege, {.privilege_bit = 2}, 2,
       -1000},
      {"channel admin: bit 3", &channel_admin, kPlayerChangePrivilege, {.privilege_bit = 3}, 2,
       -1000},
      {"channel admin: bit 1", &channel_admin, kPlayerChangePrivilege, {.privilege_bit = 1}, 2, 0},
      {"server admin: bit 0", &server_admin, kPlayerChangePrivilege, {.privilege_bit = 0}, 2, 0},
      {"server admin: bit 2", &server_admin, kPlayerChangePrivilege, {.privilege_bit = 2}, 2, 0},
      {"server admin: bit 3", &server_admin, kPlayerChangePrivilege, {.privilege_bit = 3}, 2,
       -1000},
      {"registered registers", &registered, kPlayerRegister, {}, 3, -143},
      {"closed registration", &nobody, kPlayerRegister, {}, 2, -140},
      {"open registration", &nobody, kPlayerRegister, {}, 1, 0},
      {"may register", &may_register, kPlayerRegister, {}, 0, 0},
      {"register another", &channel_admin, kPlayerAdminRegister, {}, 3, -1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckCommandRights(*c.sender, c.command, c.facts, c.server_flags), c.expected);
  }
}

}  // namespace
}  // namespace voxhall::protocol
