#include "protocol/text_and_info.h"

#include <limits>
#include <stdexcept>

#include "protocol/command_packet.h"
#include "protocol/error_codes.h"
#include "protocol/notifications.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

using transport::kCommandHeaderLength;
using transport::Packet;

namespace {

// Reads a request's payload; a request shorter than its layout fails the
// handler.
WireReader Payload(const Packet& packet, std::size_t size) {
  if (packet.Size() < size) throw std::out_of_range("command packet shorter than its request");
  return WireReader(packet.Bytes(), kCommandHeaderLength);
}

std::uint32_t Low32(std::uint64_t counter) { return static_cast<std::uint32_t>(counter); }

}  // namespace

std::unique_ptr<Packet> PlayerConnectionInfoPacket(
    const ClientObject& receiver, const ClientObject& target,
    const std::optional<transport::ConnectionStats>& stats, bool show_address,
    common::DateTime now) {
  const transport::ConnectionStats s = stats.value_or(transport::ConnectionStats{});
  auto packet = NewCommandPacket(kInfoPlayerConnectionInfo, kPlayerConnectionInfoSize, receiver);
  WireWriter(packet->Buffer(), kCommandHeaderLength)
      .PutI32(target.PlayerId)
      .PutU32(common::SecondsBetween(target.LoginTime, now))
      .PutU16(s.loss)
      .PutU16(s.ping)
      .PutU32(common::SecondsBetween(target.LastPacketTime, now))
      .PutU16(target.VersionMajor)
      .PutU16(target.VersionMinor)
      .PutU16(target.VersionRelease)
      .PutU16(target.VersionBuild)
      .PutU32(s.packets_sent)
      .PutU32(s.bytes_sent)
      .PutU32(s.packets_received)
      .PutU32(s.bytes_received)
      .PutText(show_address ? s.peer_address : std::string(), 29)
      .PutU16(show_address ? s.peer_port : 0)
      .PutText(target.LoginName.str(), 29)
      .PutI32(target.ChannelId)
      .PutU16(target.ChannelPrivileges)
      .PutU16(target.Privileges)
      .PutText(target.ClientPlatform.str(), 29);
  return packet;
}

void CMD_cs_InfoSendText(HandlerContext& ctx) {
  WireReader in = Payload(*ctx.packet, kInfoSendTextSize);
  const std::string message = in.GetText(255);
  const std::int32_t kind = in.GetI32();
  const std::int32_t channel_id = in.GetI32();
  if (channel_id >= 0 && !ctx.channels.FindChannel(channel_id)) {
    RefuseRequest(ctx, kErrorNoSuchChannel);
    return;
  }
  CMD_sc_NotifyTextMessage(ctx, message, kind, ctx.sender->NickName.str(), channel_id);
}

void CMD_cs_InfoRequestPlayerConnectionInfoOnId(HandlerContext& ctx) {
  WireReader in = Payload(*ctx.packet, kInfoRequestPlayerSize);
  const ClientObject* target = ctx.clients.GetClientObject(in.GetI32());
  if (!target) {
    RefuseRequest(ctx, kErrorNoSuchPlayer);
    return;
  }
  const auto stats = ctx.buffer.GetConnectionStats(static_cast<std::uint32_t>(target->PlayerId));
  const bool admin = (ctx.sender->Privileges & kPrivilegeServerAdmin) != 0;
  ctx.Send(PlayerConnectionInfoPacket(*ctx.sender, *target, stats, admin, common::Now()));
}

void CMD_cs_InfoRequestServerInfo(HandlerContext& ctx) {
  const ServerData& s = ctx.server;
  auto packet = NewCommandPacket(kInfoServerInfo, kServerInfoSize, *ctx.sender);
  WireWriter out(packet->Buffer(), kCommandHeaderLength);
  out.PutU32(common::SecondsBetween(s.StartTime, common::Now()))
      .PutU16(s.VersionMajor)
      .PutU16(s.VersionMinor)
      .PutU16(s.VersionRelease)
      .PutU16(s.VersionBuild)
      .PutU16(s.ServerType)
      .PutU16(s.ServerFlags);
  const transport::BufferStats stats = ctx.buffer.GetBufferStats();
  Guarded(ctx, "CMD_cs_InfoRequestServerInfo pSend/pRecv", [&] {
    WireWriter(packet->Buffer(), 40).PutU32(stats.packets_sent);
    WireWriter(packet->Buffer(), 48).PutU32(stats.packets_received);
  });
  // The fields keep the low 32 bits of a counter that outgrew them, so that
  // clients computing rates from differences still get them right.
  WireWriter(packet->Buffer(), 44).PutU32(Low32(stats.bytes_sent));
  WireWriter(packet->Buffer(), 52).PutU32(Low32(stats.bytes_received));
  Guarded(ctx, "CMD_cs_InfoRequestServerInfo bSend/bRecv", [&] {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (stats.bytes_sent > kMax || stats.bytes_received > kMax) {
      throw std::overflow_error("byte counter above 4294967295");
    }
  });
  ctx.Send(std::move(packet));
}

}  // namespace voxhall::protocol
