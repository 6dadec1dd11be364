#include "protocol/privileges.h"

#include "protocol/channel_commands.h"
#include "protocol/error_codes.h"
#include "protocol/notifications.h"
#include "protocol/player_commands.h"

namespace voxhall::protocol {

namespace {

// Quit (300), channel switch (303, which has its own join test), flags
// (304) and the voice request (305, which only needs a moderated channel)
// are open to every player and have no rows.
constexpr RightRule kRules[] = {
    // Creating a channel: registered channels and the default channel are
    // for server administrators; a top-level channel too unless the server
    // lets anybody create them; a sub-channel needs channel administrator.
    {kChannelCreate, When::kRegisteredChannel, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kChannelCreate, When::kDefaultFlag, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kChannelCreate, When::kTopLevelClosed, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kChannelCreate, When::kSubChannel, Right::kChannelAdmin, kErrorChannelAdminNeeded},
    {kChannelChangePassword, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeProperties, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeName, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeTopic, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeDescription, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelDestroy, When::kTopLevel, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kChannelDestroy, When::kAlways, Right::kChannelAdmin, kErrorChannelAdminNeeded},
    {kChannelChangeMaxUsers, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeAll, When::kDefaultFlag, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kChannelChangeAll, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kChannelChangeOrder, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kPlayerKick, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kPlayerKickFromChannel, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kPlayerChangeChannelPrivilege, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    // Server privileges: channel operators may change the bits without a
    // meaning of their own; server administrator and registration (whose
    // revocation deletes the account) are for server administrators, and
    // super server administrator is set only by the administration
    // interfaces.
    {kPlayerChangePrivilege, When::kAlways, Right::kChannelOperator, kErrorOperatorNeeded},
    {kPlayerChangePrivilege, When::kSuperAdminBit, Right::kNobody, kErrorServerAdminNeeded},
    {kPlayerChangePrivilege, When::kAdminOrRegisteredBit, Right::kServerAdmin, kErrorServerAdminNeeded},
    {kPlayerRegister, When::kAlways, Right::kUnregistered, kErrorAlreadyRegistered},
    {kPlayerRegister, When::kAlways, Right::kMayRegister, kErrorRegistrationNotAllowed},
    {kPlayerAdminRegister, When::kAlways, Right::kServerAdmin, kErrorServerAdminNeeded},
};

bool Applies(When when, const RequestFacts& facts, std::uint16_t server_flags) {
  switch (when) {
    case When::kAlways:
      return true;
    case When::kRegisteredChannel:
      return facts.registered_channel;
    case When::kDefaultFlag:
      return facts.default_flag;
    case When::kTopLevel:
      return facts.top_level;
    case When::kTopLevelClosed:
      return facts.top_level && (server_flags & kServerFlagOpenChannelCreation) == 0;
    case When::kSubChannel:
      return !facts.top_level;
    case When::kAdminOrRegisteredBit:
      return facts.privilege_bit == 0 || facts.privilege_bit == 2;
    case When::kSuperAdminBit:
      return facts.privilege_bit == 3;
  }
  return true;
}

}  // namespace

std::span<const RightRule> RightRules() { return kRules; }

bool IsServerAdmin(const ClientObject& player) {
  return (player.Privileges & kPrivilegeServerAdmin) != 0;
}

bool IsRegistered(const ClientObject& player) {
  return (player.Privileges & kPrivilegeRegistered) != 0;
}

bool HasRight(const ClientObject& sender, Right right, std::uint16_t server_flags) {
  const std::uint16_t channel = sender.ChannelPrivileges;
  switch (right) {
    case Right::kChannelOperator:
      return IsServerAdmin(sender) ||
             (channel & (kChannelPrivilegeAdmin | kChannelPrivilegeOperator)) != 0;
    case Right::kChannelAdmin:
      return IsServerAdmin(sender) || (channel & kChannelPrivilegeAdmin) != 0;
    case Right::kServerAdmin:
      return IsServerAdmin(sender);
    case Right::kNobody:
      return false;
    case Right::kUnregistered:
      return !IsRegistered(sender);
    case Right::kMayRegister:
      return (server_flags & kServerFlagOpenRegistration) != 0 ||
             (sender.Privileges & kPrivilegeMayRegister) != 0;
  }
  return false;
}

std::int32_t CheckCommandRights(const ClientObject& sender, std::uint16_t command,
                                const RequestFacts& facts, std::uint16_t server_flags) {
  for (const RightRule& rule : kRules) {
    if (rule.command == command && Applies(rule.when, facts, server_flags) &&
        !HasRight(sender, rule.needed, server_flags)) {
      return rule.refusal;
    }
  }
  return 0;
}

bool RefuseWithoutRights(HandlerContext& ctx, const RequestFacts& facts) {
  const std::int32_t code = CheckCommandRights(*ctx.sender, ctx.packet->PacketType(), facts,
                                               ctx.server.ServerFlags);
  if (code != 0) RefuseRequest(ctx, code);
  return code != 0;
}

}  // namespace voxhall::protocol
