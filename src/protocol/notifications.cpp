#include "protocol/notifications.h"

#include <stdexcept>

#include "protocol/access_rules.h"
#include "protocol/command_packet.h"
#include "protocol/text_message.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

using transport::kCommandHeaderLength;
using transport::Packet;

namespace {
constexpr std::size_t kErrorPacketSize = 30;
constexpr std::size_t kEnteredScopeSize = kCommandHeaderLength + kPlayerEntrySize;
constexpr std::size_t kLeftScopeSize = 64;
constexpr std::size_t kChannelDestroyedSize = 30;
}  // namespace

std::unique_ptr<Packet> ErrorPacket(const ClientObject& receiver, std::int16_t code,
                                    std::int16_t refused_type, std::uint32_t refused_sequence) {
  auto packet = NewCommandPacket(static_cast<std::uint16_t>(code), kErrorPacketSize, receiver);
  WireWriter(packet->Buffer(), kCommandHeaderLength).PutI16(refused_type).PutU32(refused_sequence);
  return packet;
}

void CMD_sc_ErrorPacket(HandlerContext& ctx, std::int32_t code, std::int16_t refused_type,
                        std::uint32_t refused_sequence) {
  if (!ctx.sender) return;
  Guarded(ctx, "CMD_sc_ErrorPacket", [&] {
    ctx.Send(ErrorPacket(*ctx.sender, static_cast<std::int16_t>(code), refused_type,
                         refused_sequence));
  });
}

void RefuseRequest(HandlerContext& ctx, std::int32_t code) {
  CMD_sc_ErrorPacket(ctx, code, static_cast<std::int16_t>(ctx.packet->PacketType()),
                     ctx.packet->Sequence());
}

std::unique_ptr<Packet> EnteredScopePacket(const ClientObject& receiver,
                                           const ClientObject& player) {
  auto packet = NewCommandPacket(kNotifyPlayerEnteredScope, kEnteredScopeSize, receiver);
  WireWriter out(packet->Buffer(), kCommandHeaderLength);
  WritePlayerEntry(out, player);
  return packet;
}

void CMD_sc_NotifyPlayerEnteredScope(HandlerContext& ctx, std::int32_t player_id) {
  const ClientObject* player = ctx.clients.GetClientObject(player_id);
  if (!player) return;
  Broadcast(ctx, "CMD_sc_NotifyPlayerEnteredScope", [&](const ClientObject& p) {
    if (&p == player || !CheckClientInView(ctx.server.ServerType, ctx.channels, player, &p)) return;
    ctx.Send(EnteredScopePacket(p, *player));
  });
}

std::unique_ptr<Packet> LeftScopePacket(const ClientObject& receiver, std::int32_t player_id,
                                        std::uint16_t reason, std::int32_t acting_player,
                                        std::string_view message) {
  auto packet = NewCommandPacket(kNotifyPlayerLeftScope, kLeftScopeSize, receiver);
  WireWriter(packet->Buffer(), kCommandHeaderLength)
      .PutI32(player_id)
      .PutU16(reason)
      .PutI32(acting_player)
      .PutText(message, 29);
  return packet;
}

void CMD_sc_NotifyPlayerLeftScope(HandlerContext& ctx, std::int32_t player_id,
                                  std::uint16_t reason, std::int32_t acting_player,
                                  std::string_view message) {
  ClientObject* leaving = ctx.clients.GetClientObject(player_id);
  if (!leaving || leaving->LeftAnnounced) return;
  Broadcast(ctx, "CMD_sc_NotifyPlayerLeftScope", [&](ClientObject& p) {
    if (!CheckClientInView(ctx.server.ServerType, ctx.channels, leaving, &p)) return;
    const bool is_leaving = &p == leaving;
    if (is_leaving) p.LeftAnnounced = true;
    ctx.Send(LeftScopePacket(p, player_id, reason, acting_player, message), is_leaving);
  });
}

void CMD_sc_NotifyChannelDestroyed(HandlerContext& ctx, std::int32_t channel_id,
                                   std::int32_t acting_player) {
  if (channel_id < 0) return;
  if (channel_id > 32767) {
    ctx.LogListenerError("CMD_sc_NotifyChannelDestroyed",
                         std::range_error("channel id does not fit 16 bits"));
    return;
  }
  Broadcast(ctx, "CMD_sc_NotifyChannelDestroyed", [&](const ClientObject& p) {
    auto packet = NewCommandPacket(kNotifyChannelDestroyed, kChannelDestroyedSize, p);
    WireWriter(packet->Buffer(), kCommandHeaderLength)
        .PutI16(static_cast<std::int16_t>(channel_id))
        .PutI32(acting_player);
    ctx.Send(std::move(packet));
  });
}

void CMD_sc_NotifyTextMessage(HandlerContext& ctx, std::string_view message, std::int32_t kind,
                              std::string_view sender_name, std::int32_t channel_id) {
  if (channel_id >= 0 && !ctx.channels.FindChannel(channel_id)) return;
  Broadcast(ctx, "CMD_sc_NotifyTextMessage", [&](const ClientObject& p) {
    if (channel_id >= 0 && p.ChannelId != channel_id) return;
    ctx.Send(NewNotifyTextMessage(p, message, kind, sender_name));
  });
}

}  // namespace voxhall::protocol
