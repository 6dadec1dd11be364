#include "protocol/channel_commands.h"

#include <string>
#include <vector>

#include "protocol/access_rules.h"
#include "protocol/channel_rec.h"
#include "protocol/command_packet.h"
#include "protocol/error_codes.h"
#include "protocol/notifications.h"
#include "protocol/player_commands.h"
#include "protocol/privileges.h"
#include "protocol/udp_listener.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

using transport::kCommandHeaderLength;

namespace {

constexpr std::size_t kChannelCreateSize = 226;
constexpr std::size_t kChannelTextRequestSize = 58;  // 203, 206, 207
constexpr std::size_t kChannelChangePropertiesSize = 32;
constexpr std::size_t kChannelChangeDescriptionSize = 128;
constexpr std::size_t kChannelDestroySize = 28;
constexpr std::size_t kChannelNumberRequestSize = 30;  // 210, 212
constexpr std::size_t kChannelChangeAllSize = 230;

constexpr std::size_t kChannelCreatedSize = 204;
constexpr std::size_t kChannelTextNoticeSize = 62;  // 111, 112
constexpr std::size_t kChannelPropertiesSize = 36;
constexpr std::size_t kChannelDescriptionNoticeSize = 132;
constexpr std::size_t kChannelNumberNoticeSize = 34;  // 116, 117
constexpr std::size_t kChannelPasswordChangedSize = 28;

void SetPassword(ChannelRec& channel, const std::string& password) {
  channel.Password = password;
  if (channel.Password.empty()) {
    channel.Flags &= static_cast<std::uint16_t>(~kChannelFlagPassword);
  } else {
    channel.Flags |= kChannelFlagPassword;
  }
}

// The channel a request names, refusing the request (-102) when it does
// not exist.
ChannelRec* NamedChannel(HandlerContext& ctx, std::int32_t channel_id) {
  ChannelRec* channel = ctx.channels.FindChannel(channel_id);
  if (!channel) RefuseRequest(ctx, kErrorNoSuchChannel);
  return channel;
}

// The common shape of the single-value changes: the channel must exist and
// the sender needs channel operator rights; then `store` changes the record
// and `notify` tells the players.
template <typename Store>
void ChangeOneValue(HandlerContext& ctx, std::int32_t channel_id, Store&& store,
                    void (*notify)(HandlerContext&, std::int32_t, std::int32_t)) {
  ChannelRec* channel = NamedChannel(ctx, channel_id);
  if (!channel || RefuseWithoutRights(ctx, {.top_level = channel->IsTopLevel()})) return;
  store(*channel);
  notify(ctx, channel_id, ctx.sender->PlayerId);
}

// A notice that goes to every player (`everybody`) or to the players who
// see the acting player; `fill` writes the payload after the header.
template <typename Fill>
void NotifyChannelChange(HandlerContext& ctx, const char* name, std::uint16_t type,
                         std::size_t size, std::int32_t channel_id, std::int32_t acting_player,
                         bool everybody, Fill&& fill) {
  const ChannelRec* channel = ctx.channels.FindChannel(channel_id);
  if (!channel) return;
  const ClientObject* acting = ctx.clients.GetClientObject(acting_player);
  Broadcast(ctx, name, [&](const ClientObject& p) {
    if (!everybody && !CheckClientInView(ctx.server.ServerType, ctx.channels, acting, &p)) return;
    auto packet = NewCommandPacket(type, size, p);
    WireWriter out(packet->Buffer(), kCommandHeaderLength);
    fill(out, *channel);
    ctx.Send(std::move(packet));
  });
}

// Moves the default flag to `channel`: the channel that carries it now (it
// may be this one) loses it and its properties are announced.
void TakeDefaultFlag(HandlerContext& ctx, const ChannelRec& channel, bool even_from_itself) {
  const std::int32_t old_default = ctx.channels.DefaultChannelId();
  ChannelRec* old = ctx.channels.FindChannel(old_default);
  if (!old || (old == &channel && !even_from_itself)) return;
  old->Flags &= static_cast<std::uint16_t>(~kChannelFlagDefault);
  CMD_sc_NotifyChannelPropertiesChanged(ctx, old_default, ctx.sender->PlayerId);
}

}  // namespace

void CMD_cs_ChannelCreate(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelCreateSize);
  ChannelRec record;
  record.Flags = in.GetU16();
  record.Codec = in.GetU16();
  record.Parent = in.GetI32();
  record.Name = in.GetText(29);
  record.Topic = in.GetText(29);
  record.Description = in.GetText(99);
  record.Password = in.GetText(29);
  record.Order = in.GetI16();
  record.MaxUsers = in.GetU16();

  if (record.Codec <= kCodecWindowsCelp52 && !CodecAllowed(ctx.server, record.Codec)) {
    RefuseRequest(ctx, kErrorCodecNotAllowed);
    return;
  }
  const RequestFacts facts{.top_level = record.IsTopLevel(),
                           .registered_channel = record.IsRegistered(),
                           .default_flag = (record.Flags & kChannelFlagDefault) != 0};
  if (RefuseWithoutRights(ctx, facts)) return;

  const std::int32_t id = ctx.channels.AddChannel(std::move(record));
  if (id < 0) {
    RefuseRequest(ctx, id);
    return;
  }
  ClientObject& sender = *ctx.sender;
  const std::vector<std::int32_t> lost_default = ctx.channels.changed();
  for (std::int32_t changed : lost_default) {
    CMD_sc_NotifyChannelPropertiesChanged(ctx, changed, sender.PlayerId);
  }
  CMD_sc_NotifyChannelCreated(ctx, id, sender.PlayerId);

  const ChannelRec& created = *ctx.channels.FindChannel(id);
  const std::int32_t old_channel = sender.ChannelId;
  if (!created.IsRegistered() && created.IsTopLevel()) {
    sender.ChannelId = id;
    CMD_sc_NotifyPlayerSwitchedChannel(ctx, sender.PlayerId, old_channel, id);
  }
  if (!HasRight(sender, Right::kChannelAdmin, ctx.server.ServerFlags) && created.IsTopLevel()) {
    sender.ChannelPrivileges |= kChannelPrivilegeAdmin;
    CMD_sc_NotifyPlayerChannelPrivilegeChanged(ctx, sender.PlayerId, 0, 0,
                                               kActionGrantedByServer);
  }
  std::uint16_t stored = sender.ChannelPrivileges;
  if (IsRegistered(sender)) stored |= kChannelPrivilegeCreatorEntry;
  ctx.channels.SetChannelPrivilege(sender.ChannelId, sender.LoginName.str(), stored);
  ClearChannelUp(ctx, old_channel);
}

void CMD_cs_ChannelChangePassword(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelTextRequestSize);
  const std::int32_t channel_id = in.GetI32();
  const std::string password = in.GetText(29);
  ChannelRec* channel = NamedChannel(ctx, channel_id);
  if (!channel || RefuseWithoutRights(ctx, {.top_level = channel->IsTopLevel()})) return;
  if (!channel->IsTopLevel() && !password.empty()) {
    RefuseRequest(ctx, kErrorSubChannelPassword);
    return;
  }
  SetPassword(*channel, password);
  auto confirmation = NewCommandPacket(kChannelPasswordChanged, kChannelPasswordChangedSize,
                                       *ctx.sender);
  WireWriter(confirmation->Buffer(), kCommandHeaderLength).PutI32(channel_id);
  ctx.Send(std::move(confirmation));
  CMD_sc_NotifyChannelPropertiesChanged(ctx, channel_id, ctx.sender->PlayerId);
}

void CMD_cs_ChannelChangeProperties(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelChangePropertiesSize);
  const std::int32_t channel_id = in.GetI32();
  const std::uint16_t flags = in.GetU16();
  const std::uint16_t codec = in.GetU16();
  ChannelRec* channel = NamedChannel(ctx, channel_id);
  if (!channel) return;
  if (!channel->IsTopLevel()) {
    RefuseRequest(ctx, kErrorTopLevelOnly);
    return;
  }
  if (RefuseWithoutRights(ctx, {.top_level = true})) return;
  // Taking the flag off the default channel would leave later logins
  // without a channel; the flag only moves by being given to another one.
  const bool wants_default = (flags & kChannelFlagDefault) != 0;
  if ((channel->Flags & kChannelFlagDefault) && !wants_default) {
    RefuseRequest(ctx, kErrorDefaultChannel);
    return;
  }
  if (wants_default) TakeDefaultFlag(ctx, *channel, false);
  channel->Flags = flags;
  channel->Codec = codec;
  CMD_sc_NotifyChannelPropertiesChanged(ctx, channel_id, ctx.sender->PlayerId);
}

void CMD_cs_ChannelChangeName(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelTextRequestSize);
  const std::int32_t channel_id = in.GetI32();
  const std::string name = in.GetText(29);
  ChangeOneValue(ctx, channel_id, [&](ChannelRec& c) { c.Name = name; },
                 CMD_sc_NotifyChannelNameChanged);
}

void CMD_cs_ChannelChangeTopic(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelTextRequestSize);
  const std::int32_t channel_id = in.GetI32();
  const std::string topic = in.GetText(29);
  ChangeOneValue(ctx, channel_id, [&](ChannelRec& c) { c.Topic = topic; },
                 CMD_sc_NotifyChannelTopicChanged);
}

void CMD_cs_ChannelChangeDescription(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelChangeDescriptionSize);
  const std::int32_t channel_id = in.GetI32();
  const std::string description = in.GetText(99);
  ChangeOneValue(ctx, channel_id, [&](ChannelRec& c) { c.Description = description; },
                 CMD_sc_NotifyChannelDescriptionChanged);
}

void CMD_cs_ChannelChangeMaxUsers(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelNumberRequestSize);
  const std::int32_t channel_id = in.GetI32();
  const std::uint16_t max_users = in.GetU16();
  ChangeOneValue(ctx, channel_id, [&](ChannelRec& c) { c.MaxUsers = max_users; },
                 CMD_sc_NotifyChannelMaxUsersChanged);
}

void CMD_cs_ChannelChangeOrder(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelNumberRequestSize);
  const std::int32_t channel_id = in.GetI32();
  const std::int16_t order = in.GetI16();
  ChangeOneValue(ctx, channel_id, [&](ChannelRec& c) { c.Order = order; },
                 CMD_sc_NotifyChannelOrderChanged);
}

void CMD_cs_ChannelDestroy(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelDestroySize);
  const std::int32_t channel_id = in.GetI32();
  const ChannelRec* channel = NamedChannel(ctx, channel_id);
  if (!channel || RefuseWithoutRights(ctx, {.top_level = channel->IsTopLevel()})) return;
  // The sub-channels go with their parent: players in any of them would be
  // left in a channel that no longer exists.
  if (CheckChannelTreeForPlayers(ctx, channel_id) != 0) {
    RefuseRequest(ctx, kErrorChannelHasPlayers);
    return;
  }
  if (channel->Flags & kChannelFlagDefault) {
    RefuseRequest(ctx, kErrorDefaultChannel);
    return;
  }
  const std::int32_t result = ctx.channels.DeleteChannel(channel_id);
  if (result < 0) {
    RefuseRequest(ctx, result);
    return;
  }
  const std::vector<std::int32_t> removed = ctx.channels.changed();
  for (std::int32_t id : removed) CMD_sc_NotifyChannelDestroyed(ctx, id, ctx.sender->PlayerId);
}

void CMD_cs_ChannelChangeAll(HandlerContext& ctx) {
  WireReader in = RequestPayload(*ctx.packet, kChannelChangeAllSize);
  const std::int32_t channel_id = in.GetI32();
  const std::uint16_t flags = in.GetU16();
  const std::uint16_t codec = in.GetU16();
  in.Skip(4);
  const std::string name = in.GetText(29);
  const std::string topic = in.GetText(29);
  const std::string description = in.GetText(99);
  const std::int16_t order = in.GetI16();
  const std::uint16_t max_users = in.GetU16();
  const std::string password = in.GetText(29);

  ChannelRec* channel = NamedChannel(ctx, channel_id);
  if (!channel) return;
  const bool wants_default = (flags & kChannelFlagDefault) != 0;
  if ((channel->Flags & kChannelFlagDefault) && !wants_default) {
    RefuseRequest(ctx, kErrorDefaultChannel);
    return;
  }
  if (RefuseWithoutRights(ctx, {.top_level = channel->IsTopLevel(), .default_flag = wants_default})) {
    return;
  }
  const std::int32_t acting = ctx.sender->PlayerId;
  bool properties_changed = false;
  if (flags != channel->Flags || codec != channel->Codec) {
    if (wants_default) TakeDefaultFlag(ctx, *channel, true);
    channel->Flags = flags;
    channel->Codec = codec;
    properties_changed = true;
  }
  if (name != channel->Name.str()) {
    channel->Name = name;
    CMD_sc_NotifyChannelNameChanged(ctx, channel_id, acting);
  }
  if (description != channel->Description.str()) {
    channel->Description = description;
    CMD_sc_NotifyChannelDescriptionChanged(ctx, channel_id, acting);
  }
  if (max_users != channel->MaxUsers) {
    channel->MaxUsers = max_users;
    CMD_sc_NotifyChannelMaxUsersChanged(ctx, channel_id, acting);
  }
  if (order != channel->Order) {
    channel->Order = order;
    CMD_sc_NotifyChannelOrderChanged(ctx, channel_id, acting);
  }
  if (topic != channel->Topic.str()) {
    channel->Topic = topic;
    CMD_sc_NotifyChannelTopicChanged(ctx, channel_id, acting);
  }
  // Flag 4 with an empty password means "keep the password it has".
  const bool keeps_password = (flags & kChannelFlagPassword) && password.empty();
  if (password != channel->Password.str() && !keeps_password) {
    SetPassword(*channel, password);
    properties_changed = true;
  }
  if (properties_changed) CMD_sc_NotifyChannelPropertiesChanged(ctx, channel_id, acting);
}

void CMD_sc_NotifyChannelCreated(HandlerContext& ctx, std::int32_t channel_id,
                                 std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelCreated", kNotifyChannelCreated,
                      kChannelCreatedSize, channel_id, acting_player, true,
                      [&](WireWriter& out, const ChannelRec& c) {
                        WriteChannelEntry(out, c);
                        out.PutI32(acting_player);
                      });
}

void CMD_sc_NotifyChannelPropertiesChanged(HandlerContext& ctx, std::int32_t channel_id,
                                           std::int32_t acting_player) {
  const ChannelRec* channel = ctx.channels.FindChannel(channel_id);
  if (!channel) return;
  Broadcast(ctx, "CMD_sc_NotifyChannelPropertiesChanged", [&](ClientObject& p) {
    auto packet = NewCommandPacket(kNotifyChannelPropertiesChanged, kChannelPropertiesSize, p);
    WireWriter(packet->Buffer(), kCommandHeaderLength)
        .PutI32(channel_id)
        .PutU16(channel->Flags)
        .PutU16(channel->Codec)
        .PutI32(acting_player);
    ctx.Send(std::move(packet));
    // Outside a moderated channel nobody needs voice, an operator's voice
    // rights or a pending request for voice.
    if (p.ChannelId != channel_id || (channel->Flags & kChannelFlagModerated)) return;
    if (p.PlayerFlags & kPlayerFlagVoiceRequested) {
      p.PlayerFlags &= ~kPlayerFlagVoiceRequested;
      CMD_sc_NotifyPlayerFlagsChanged(ctx, p.PlayerId);
    }
    for (std::uint8_t bit : {std::uint8_t{1}, std::uint8_t{2}}) {
      const auto mask = static_cast<std::uint16_t>(1u << bit);
      if ((p.ChannelPrivileges & mask) == 0) continue;
      p.ChannelPrivileges &= static_cast<std::uint16_t>(~mask);
      CMD_sc_NotifyPlayerChannelPrivilegeChanged(ctx, p.PlayerId, 0, bit,
                                                 kActionRevokedByServer);
    }
  });
}

void CMD_sc_NotifyChannelNameChanged(HandlerContext& ctx, std::int32_t channel_id,
                                     std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelNameChanged", kNotifyChannelNameChanged,
                      kChannelTextNoticeSize, channel_id, acting_player, false,
                      [&](WireWriter& out, const ChannelRec& c) {
                        out.PutI32(c.ID).PutText(c.Name.str(), 29).PutI32(acting_player);
                      });
}

void CMD_sc_NotifyChannelTopicChanged(HandlerContext& ctx, std::int32_t channel_id,
                                      std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelTopicChanged", kNotifyChannelTopicChanged,
                      kChannelTextNoticeSize, channel_id, acting_player, false,
                      [&](WireWriter& out, const ChannelRec& c) {
                        out.PutI32(c.ID).PutText(c.Topic.str(), 29).PutI32(acting_player);
                      });
}

void CMD_sc_NotifyChannelDescriptionChanged(HandlerContext& ctx, std::int32_t channel_id,
                                            std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelDescriptionChanged",
                      kNotifyChannelDescriptionChanged, kChannelDescriptionNoticeSize, channel_id,
                      acting_player, false, [&](WireWriter& out, const ChannelRec& c) {
                        out.PutI32(c.ID).PutText(c.Description.str(), 99).PutI32(acting_player);
                      });
}

void CMD_sc_NotifyChannelMaxUsersChanged(HandlerContext& ctx, std::int32_t channel_id,
                                         std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelMaxUsersChanged", kNotifyChannelMaxUsersChanged,
                      kChannelNumberNoticeSize, channel_id, acting_player, false,
                      [&](WireWriter& out, const ChannelRec& c) {
                        out.PutI32(c.ID).PutU16(c.MaxUsers).PutI32(acting_player);
                      });
}

void CMD_sc_NotifyChannelOrderChanged(HandlerContext& ctx, std::int32_t channel_id,
                                      std::int32_t acting_player) {
  NotifyChannelChange(ctx, "CMD_sc_NotifyChannelOrderChanged", kNotifyChannelOrderChanged,
                      kChannelNumberNoticeSize, channel_id, acting_player, false,
                      [&](WireWriter& out, const ChannelRec& c) {
                        out.PutI32(c.ID).PutI16(c.Order).PutI32(acting_player);
                      });
}

}  // namespace voxhall::protocol
