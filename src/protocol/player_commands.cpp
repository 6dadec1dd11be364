#include "protocol/player_commands.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/access_rules.h"
#include "protocol/command_packet.h"
#include "protocol/error_codes.h"
#include "protocol/login.h"
#include "protocol/notifications.h"
#include "protocol/privileges.h"
#include "protocol/udp_listener.h"
#include "protocol/wire.h"
#include "storage/user_store.h"

namespace voxhall::protocol {

using transport::kCommandHeaderLength;

namespace {

constexpr std::size_t kPlayerTargetRequestSize = 58;  // 301, 302
constexpr std::size_t kPlayerChannelSwitchSize = 58;
constexpr std::size_t kPlayerFlagsChangedSize = 28;
constexpr std::size_t kPlayerRequestVoiceSize = 54;
constexpr std::size_t kPlayerPrivilegeRequestSize = 30;  // 306, 307
constexpr std::size_t kPlayerRegisterSize = 84;
constexpr std::size_t kPlayerAdminRegisterSize = 85;

constexpr std::size_t kKickedFromChannelSize = 68;
constexpr std::size_t kSwitchedChannelSize = 38;
constexpr std::size_t kPlayerFlagsNoticeSize = 32;
constexpr std::size_t kRequestedVoiceSize = 58;
constexpr std::size_t kPrivilegeNoticeSize = 34;  // 106, 107
constexpr std::size_t kWrongChannelPasswordSize = 34;
constexpr std::size_t kHighestPrivilegeBit = 15;

// The player a request names, refusing the request (-100) when it is not online.
ClientObject* TargetPlayer(HandlerContext& ctx, std::int32_t player_id) {
  ClientObject* target = ctx.clients.GetClientObject(player_id);
  if (!target) RefuseRequest(ctx, kErrorNoSuchPlayer);
  return target;
}

// Sets (grant) or clears (revoke) bit `bit` of `word`; other actions change
// nothing. A bit number beyond the word fails the handler.
void ApplyAction(std::uint16_t& word, std::uint8_t action, std::uint8_t bit) {
  if (bit > kHighestPrivilegeBit) throw std::out_of_range("privilege bit number above 15");
  const auto mask = static_cast<std::uint16_t>(1u << bit);
  if (action == kActionGrant) word |= mask;
  if (action == kActionRevoke) word &= static_cast<std::uint16_t>(~mask);
}

// The player's stored account as the user store keeps it.
storage::StoredUser StoredUserOf(const ClientObject& player) {
  storage::StoredUser user;
  user.login_name = player.LoginName.str();
  user.password = player.Password.str();
  user.nick_name = player.NickName.str();
  user.privileges = player.Privileges;
  user.registered_by = player.RegisteredBy.str();
  return user;
}

// Two channels between which a player keeps flag bit 0: one is the other's
// parent, or both have the same parent (two top-level channels do).
bool Related(const ChannelRec& from, const ChannelRec& to) {
  return from.Parent == to.ID || from.Parent == to.Parent || to.Parent == from.ID;
}

// A notice about player `player_id` to every player who sees it; `fill`
// writes the payload after the header.
template <typename Fill>
void NotifyAboutPlayer(HandlerContext& ctx, const char* name, std::uint16_t type,
                       std::size_t size, std::int32_t player_id, Fill&& fill) {
  const ClientObject* player = ctx.clients.GetClientObject(player_id);
  if (!player) return;
  Broadcast(ctx, name, [&](const ClientObject& p) {
    if (!CheckClientInView(ctx.server.ServerType, ctx.channels, player, &p)) return;
    auto packet = NewCommandPacket(type, size, p);
    WireWriter out(packet->Buffer(), kCommandHeaderLength);
    out.PutI32(player_id);
    fill(out, *player);
    ctx.Send(std::move(packet));
  });
}

std::unique_ptr<transport::Packet> SwitchedChannelPacket(const ClientObject& receiver,
                                                         const ClientObject& player,
                                                         std::int32_t old_channel,
                                                         std::int32_t new_channel) {
  auto packet = NewCommandPacket(kNotifyPlayerSwitchedChannel, kSwitchedChannelSize, receiver);
  WireWriter(packet->Buffer(), kCommandHeaderLength)
      .PutI32(player.PlayerId)
      .PutI32(old_channel)
      .PutI32(new_channel)
      .PutU16(player.ChannelPrivileges);
  return packet;
}

// The 34-byte answer to a wrong channel password: the error answer with the
// channel id behind it.
void RefuseWrongChannelPassword(HandlerContext& ctx, std::int32_t channel_id) {
  auto packet = ErrorPacket(*ctx.sender, static_cast<std::int16_t>(kErrorWrongChannelPassword),
                            static_cast<std::int16_t>(ctx.packet->PacketType()),
                            ctx.packet->Sequence());
  packet->Resize(kWrongChannelPasswordSize);
  WireWriter(packet->Buffer(), 30).PutI32(channel_id);
  ctx.Send(std::move(packet));
}

}  // namespace

void CMD_cs_PlayerQuit(HandlerContext& ctx) {
  CMD_sc_NotifyPlayerLeftScope(ctx, ctx.sender->PlayerId, kLeftQuit, 0, "");
}

void CMD_cs_PlayerKick(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerTargetRequestSize);
  const std::int32_t target_id = in.GetI32();
  const std::string reason = in.GetText(29);
  if (!TargetPlayer(ctx, target_id) || RefuseWithoutRights(ctx)) return;
  CMD_sc_NotifyPlayerLeftScope(ctx, target_id, kLeftKicked, ctx.sender->PlayerId, reason);
}

void CMD_cs_PlayerKickFromChannel(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerTargetRequestSize);
  const std::int32_t target_id = in.GetI32();
  const std::string reason = in.GetText(29);
  ClientObject* target = TargetPlayer(ctx, target_id);
  if (!target || RefuseWithoutRights(ctx)) return;
  const std::int32_t old_channel = target->ChannelId;
  const std::int32_t default_channel = ctx.channels.DefaultChannelId();
  target->ChannelPrivileges =
      IsRegistered(*target)
          ? ctx.channels.GetChannelPrivilege(default_channel, target->LoginName.str())
          : 0;
  CMD_sc_NotifyPlayerKickedFromChannel(ctx, target_id, old_channel, reason,
                                       target->ChannelPrivileges, default_channel);
  target->ChannelId = default_channel;
}

void CMD_cs_PlayerChannelSwitch(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerChannelSwitchSize);
  const std::int32_t channel_id = in.GetI32();
  const std::string password = in.GetText(29);
  const ChannelRec* target = ctx.channels.FindChannel(channel_id);
  if (!target) {
    RefuseRequest(ctx, kErrorNoSuchChannel);
    return;
  }
  ClientObject& sender = *ctx.sender;
  if (!IsServerAdmin(sender)) {
    std::int32_t join = 0;
    if (!Guarded(ctx, "CheckChannelJoin", [&] {
          join = CheckChannelJoin(ctx.channels, ctx.clients, channel_id, password);
        })) {
      return;
    }
    if (join < 0) {
      RefuseRequest(ctx, join);
      return;
    }
    if (join == kJoinWrongPassword) {
      RefuseWrongChannelPassword(ctx, channel_id);
      return;
    }
  }

  const std::int32_t old_channel = sender.ChannelId;
  const ChannelRec* old = ctx.channels.FindChannel(old_channel);
  sender.ChannelId = channel_id;
  sender.PlayerFlags &= ~kPlayerFlagVoiceRequested;
  if (!old || !Related(*old, *target)) sender.PlayerFlags &= ~kPlayerFlagRelatedChannelsOnly;
  sender.ChannelPrivileges =
      IsRegistered(sender)
          ? ExpandChannelPrivileges(ctx.channels.GetChannelPrivilege(channel_id,
                                                                     sender.LoginName.str()))
          : 0;
  CMD_sc_NotifyPlayerSwitchedChannel(ctx, sender.PlayerId, old_channel, channel_id);
  CMD_sc_NotifyPlayerFlagsChanged(ctx, sender.PlayerId);
  ClearChannelUp(ctx, old_channel);
}

void CMD_cs_PlayerFlagsChanged(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerFlagsChangedSize);
  ctx.sender->PlayerFlags = in.GetU32();
  CMD_sc_NotifyPlayerFlagsChanged(ctx, ctx.sender->PlayerId);
}

void CMD_cs_PlayerRequestVoice(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerRequestVoiceSize);
  const std::string text = in.GetText(29);
  ClientObject& sender = *ctx.sender;
  const ChannelRec* channel = ctx.channels.FindChannel(sender.ChannelId);
  if (channel && (channel->Flags & kChannelFlagModerated) == 0) {
    RefuseRequest(ctx, kErrorNotModerated);
    return;
  }
  if (sender.PlayerFlags & kPlayerFlagVoiceRequested) {
    RefuseRequest(ctx, kErrorVoiceAlreadyRequested);
    return;
  }
  sender.PlayerFlags |= kPlayerFlagVoiceRequested;
  CMD_sc_NotifyPlayerRequestedVoice(ctx, sender.PlayerId, text);
}

void CMD_cs_PlayerChangeChannelPrivilege(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerPrivilegeRequestSize);
  const std::int32_t target_id = in.GetI32();
  const std::uint8_t action = in.GetU8();
  const std::uint8_t bit = in.GetU8();
  ClientObject* target = TargetPlayer(ctx, target_id);
  if (!target || RefuseWithoutRights(ctx)) return;
  if (action == kActionGrant && bit <= 2 && (target->ChannelPrivileges & (1u << bit))) {
    static constexpr std::int32_t kAlreadyHeld[] = {kErrorAlreadyChannelAdmin,
                                                    kErrorAlreadyOperator, kErrorAlreadyVoice};
    RefuseRequest(ctx, kAlreadyHeld[bit]);
    return;
  }
  const bool automatic = bit == 3 || bit == 4;
  if (automatic && !IsRegistered(*target)) {
    RefuseRequest(ctx, kErrorAutoPrivilegeNeedsRegistration);
    return;
  }
  ApplyAction(target->ChannelPrivileges, action, bit);
  if (bit == 2 && action == kActionGrant && (target->PlayerFlags & kPlayerFlagVoiceRequested)) {
    target->PlayerFlags &= ~kPlayerFlagVoiceRequested;
    CMD_sc_NotifyPlayerFlagsChanged(ctx, target_id);
  }
  CMD_sc_NotifyPlayerChannelPrivilegeChanged(ctx, target_id, ctx.sender->PlayerId, bit, action);
  if (IsRegistered(*target)) {
    ctx.channels.SetChannelPrivilege(target->ChannelId, target->LoginName.str(),
                                     target->ChannelPrivileges);
  }
  // Automatic operator and voice take effect at once; only the automatic
  // bit itself is stored.
  if (action == kActionGrant && automatic) {
    const std::uint8_t implied = bit == 3 ? 1 : 2;
    target->ChannelPrivileges |= static_cast<std::uint16_t>(1u << implied);
    CMD_sc_NotifyPlayerChannelPrivilegeChanged(ctx, target_id, 0, implied,
                                               kActionGrantedByServer);
  }
}

void CMD_cs_PlayerChangePrivilege(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerPrivilegeRequestSize);
  const std::int32_t target_id = in.GetI32();
  const std::uint8_t action = in.GetU8();
  const std::uint8_t bit = in.GetU8();
  ClientObject* target = TargetPlayer(ctx, target_id);
  if (!target || RefuseWithoutRights(ctx, {.privilege_bit = bit})) return;
  const std::int32_t acting = ctx.sender->PlayerId;
  ApplyAction(target->Privileges, action, bit);
  if (bit == 2 && action == kActionRevoke) {
    target->Privileges &= static_cast<std::uint16_t>(~kPrivilegeServerAdmin);
    CMD_sc_NotifyPlayerPrivilegesChanged(ctx, target_id, acting, 0, kActionRevokedByServer);
    if (ctx.database) storage::DeleteUser(*ctx.database, target->LoginName.str(),
                                          ctx.server.SectionName.str());
  } else if (ctx.database && IsRegistered(*target)) {
    storage::SaveUser(*ctx.database, StoredUserOf(*target), ctx.server.SectionName.str());
  }
  CMD_sc_NotifyPlayerPrivilegesChanged(ctx, target_id, acting, bit, action);
}

void CMD_cs_PlayerRegister(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerRegisterSize);
  const std::string login_name = in.GetText(29);
  const std::string password = in.GetText(29);
  if (RefuseWithoutRights(ctx)) return;
  ClientObject& sender = *ctx.sender;
  // The player takes the account's name and password only once the account
  // exists: a refused name must not become the player's, or a later save of
  // its privileges would overwrite the account that already has it.
  storage::StoredUser user = StoredUserOf(sender);
  user.login_name = login_name;
  user.password = password;
  user.registered_by = login_name;
  if (!ctx.database || !storage::AddUser(*ctx.database, user, ctx.server.SectionName.str())) {
    RefuseRequest(ctx, kErrorStoringUserFailed);
    return;
  }
  sender.LoginName = login_name;
  sender.Password = password;
  sender.RegisteredBy = login_name;
  sender.Privileges = static_cast<std::uint16_t>((sender.Privileges | kPrivilegeRegistered) &
                                                 ~kPrivilegeMayRegister);
  CMD_sc_NotifyPlayerPrivilegesChanged(ctx, sender.PlayerId, 0, 2, kActionGrantedByServer);
}

void CMD_cs_PlayerAdminRegister(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kPlayerAdminRegisterSize);
  storage::StoredUser user;
  user.login_name = in.GetText(29);
  user.password = in.GetText(29);
  user.privileges = in.GetU8() != 0 ? kPrivilegeServerAdmin : 0;
  if (RefuseWithoutRights(ctx)) return;
  user.registered_by = ctx.sender->LoginName.str();
  if (!ctx.database || !storage::AddUser(*ctx.database, user, ctx.server.SectionName.str())) {
    RefuseRequest(ctx, kErrorStoringUserFailed);
    return;
  }
  ctx.Send(NewCommandPacket(kPlayerAdminRegisteredOK, kCommandHeaderLength, *ctx.sender));
}

void CMD_sc_NotifyPlayerSwitchedChannel(HandlerContext& ctx, std::int32_t player_id,
                                        std::int32_t old_channel, std::int32_t new_channel) {
  const ClientObject* player = ctx.clients.GetClientObject(player_id);
  if (!player) return;
  if ((ctx.server.ServerType & kServerTypePublic) == 0) {
    Broadcast(ctx, "CMD_sc_NotifyPlayerSwitchedChannel", [&](const ClientObject& p) {
      ctx.Send(SwitchedChannelPacket(p, *player, old_channel, new_channel));
    });
    return;
  }
  // On a public server the players of the old channel lose sight of the
  // switcher, and those of the new channel's tree gain it.
  Broadcast(ctx, "CMD_sc_NotifyPlayerSwitchedChannel", [&](const ClientObject& p) {
    if (&p == player) {
      ctx.Send(SwitchedChannelPacket(p, *player, old_channel, new_channel));
    } else if (p.ChannelId == old_channel) {
      ctx.Send(LeftScopePacket(p, player_id, kLeftSwitchedOutOfView, 0, ""));
    }
  });
  CMD_sc_NotifyPlayerEnteredScope(ctx, player_id);
  CMD_sc_NotifyPlayersInSwitchedChannel(ctx, player_id);
}

void CMD_sc_NotifyPlayersInSwitchedChannel(HandlerContext& ctx, std::int32_t player_id) {
  Guarded(ctx, "CMD_sc_NotifyPlayersInSwitchedChannel", [&] {
    const ClientObject* player = ctx.clients.GetClientObject(player_id);
    if (!player) return;
    std::vector<const ClientObject*> visible;
    for (const auto& p : ctx.clients.items()) {
      if (p.get() != player &&
          CheckClientInView(ctx.server.ServerType, ctx.channels, player, p.get())) {
        visible.push_back(p.get());
      }
    }
    for (auto& packet : PlayerListPackets(*player, visible, kNotifyPlayersInSwitchedChannel)) {
      ctx.Send(std::move(packet));
    }
  });
}

void CMD_sc_NotifyPlayerKickedFromChannel(HandlerContext& ctx, std::int32_t player_id,
                                          std::int32_t old_channel, std::string_view reason,
                                          std::uint16_t channel_privileges,
                                          std::int32_t new_channel) {
  NotifyAboutPlayer(ctx, "CMD_sc_NotifyPlayerKickedFromChannel", kNotifyPlayerKickedFromChannel,
                    kKickedFromChannelSize, player_id, [&](WireWriter& out, const ClientObject&) {
                      out.PutI32(old_channel)
                          .PutI32(new_channel)
                          .PutU16(channel_privileges)
                          .PutText(reason, 29);
                    });
}

void CMD_sc_NotifyPlayerFlagsChanged(HandlerContext& ctx, std::int32_t player_id) {
  NotifyAboutPlayer(ctx, "CMD_sc_NotifyPlayerFlagsChanged", kNotifyPlayerFlagsChanged,
                    kPlayerFlagsNoticeSize, player_id,
                    [](WireWriter& out, const ClientObject& x) { out.PutU32(x.PlayerFlags); });
}

void CMD_sc_NotifyPlayerRequestedVoice(HandlerContext& ctx, std::int32_t player_id,
                                       std::string_view text) {
  NotifyAboutPlayer(ctx, "CMD_sc_NotifyPlayerRequestedVoice", kNotifyPlayerRequestedVoice,
                    kRequestedVoiceSize, player_id,
                    [&](WireWriter& out, const ClientObject&) { out.PutText(text, 29); });
}

void CMD_sc_NotifyPlayerChannelPrivilegeChanged(HandlerContext& ctx, std::int32_t player_id,
                                                std::int32_t acting_player, std::uint8_t bit,
                                                std::uint8_t action) {
  NotifyAboutPlayer(ctx, "CMD_sc_NotifyPlayerChannelPrivilegeChanged",
                    kNotifyPlayerChannelPrivilegeChanged, kPrivilegeNoticeSize, player_id,
                    [&](WireWriter& out, const ClientObject&) {
                      out.PutU8(action).PutU8(bit).PutI32(acting_player);
                    });
}

void CMD_sc_NotifyPlayerPrivilegesChanged(HandlerContext& ctx, std::int32_t player_id,
                                          std::int32_t acting_player, std::uint8_t bit,
                                          std::uint8_t action) {
  NotifyAboutPlayer(ctx, "CMD_sc_NotifyPlayerPrivilegesChanged", kNotifyPlayerPrivilegesChanged,
                    kPrivilegeNoticeSize, player_id, [&](WireWriter& out, const ClientObject&) {
                      out.PutU8(action).PutU8(bit).PutI32(acting_player);
                    });
}

}  // namespace voxhall::protocol
