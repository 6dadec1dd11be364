#include "protocol/login.h"

#include <algorithm>
#include <stdexcept>

#include "common/date_time.h"
#include "common/text.h"
#include "protocol/access_rules.h"
#include "protocol/command_packet.h"
#include "protocol/error_codes.h"
#include "protocol/notifications.h"
#include "protocol/wire.h"
#include "storage/user_store.h"
#include "transport/connection.h"

namespace voxhall::protocol {

using transport::kCommandHeaderLength;
using transport::kConnectionHeaderLength;
using transport::Packet;
using transport::PacketClass;

static_assert(kLoginStep6 == transport::SingleConnection::kLoginStep6Type,
              "the transport marks a connection established when it sends login step 6");

namespace {

constexpr std::size_t kListCountOffset = 24;
constexpr std::size_t kListFirstSlot = 28;
constexpr std::uint32_t kInitialConnectionSequence = 1;

// A text field of the login request of which only the first `present` bytes
// of the datagram arrived: the characters that are there, up to its length.
std::string TextPresent(std::span<const std::uint8_t> image, std::size_t offset,
                        std::size_t capacity, std::size_t present) {
  if (offset >= present) return {};
  const std::size_t length =
      std::min<std::size_t>({image[offset], capacity, present - offset - 1});
  return std::string(reinterpret_cast<const char*>(image.data() + offset + 1), length);
}

std::uint32_t AllowedCodecs(const ServerData& s) {
  return (s.AllowCodecCelp51 ? 1u : 0u) | (s.AllowCodecCelp63 ? 2u : 0u) |
         (s.AllowCodecGSM148 ? 4u : 0u) | (s.AllowCodecGSM164 ? 8u : 0u) |
         (s.AllowCodecWindowsCELP52 ? 16u : 0u);
}

// One list in packets of `per_packet` entries of `entry_size` bytes.
template <typename T, typename WriteEntry>
std::vector<std::unique_ptr<Packet>> ListPackets(const ClientObject& receiver, std::uint16_t type,
                                                 std::size_t size, std::size_t per_packet,
                                                 std::size_t entry_size,
                                                 std::span<const T* const> items,
                                                 WriteEntry write_entry) {
  // Zeroed once: a shorter last packet still carries the previous entries in
  // the slots past its count, as clients have always received it.
  std::vector<std::uint8_t> image(size, 0);
  std::vector<std::unique_ptr<Packet>> packets;
  for (std::size_t first = 0; first < items.size(); first += per_packet) {
    const std::size_t count = std::min(per_packet, items.size() - first);
    WireWriter out(image, kListCountOffset);
    out.PutI32(static_cast<std::int32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
      out.Seek(kListFirstSlot + i * entry_size);
      write_entry(out, *items[first + i]);
    }
    auto packet = NewCommandPacket(type, size, receiver);
    std::copy(image.begin() + kCommandHeaderLength, image.end(),
              packet->Buffer().begin() + kCommandHeaderLength);
    packets.push_back(std::move(packet));
  }
  return packets;
}

void SendAll(HandlerContext& ctx, std::vector<std::unique_ptr<Packet>> packets) {
  for (auto& packet : packets) ctx.Send(std::move(packet));
}

// Takes over what the user store holds for a registered login; false for an
// unknown login name or a wrong password.
bool ApplyRegisteredUser(HandlerContext& ctx, ClientObject& player, const LoginRequest& request) {
  if (!ctx.database) return false;
  const std::string& server_id = ctx.server.SectionName.str();
  const std::optional<storage::StoredUser> user =
      storage::LoadUser(*ctx.database, request.login_name, server_id, false);
  if (!user || user->password.str() != request.password) return false;
  // Only a login that succeeds is counted (and dates the account's last
  // change): a wrong password must not touch the stored account.
  storage::LoadUser(*ctx.database, request.login_name, server_id, true);
  player.Privileges = static_cast<std::uint16_t>(
      (user->privileges | kPrivilegeRegistered) & ~kPrivilegeMayRegister);
  player.RegisteredBy = user->registered_by.str();
  player.Created = user->created;
  player.LastChanged = user->last_changed;
  player.Logins = user->logins;
  player.ChannelPrivileges = ExpandChannelPrivileges(
      ctx.channels.GetChannelPrivilege(player.ChannelId, player.LoginName.str()));
  return true;
}

// The result of an accepted request's second round of checks.
std::int32_t FinalLoginResult(HandlerContext& ctx, const ClientObject& player,
                              const LoginRequest& request) {
  const std::string& server_password = ctx.server.Password;
  std::int32_t result = 0;
  if (ctx.clients.Count() >= ctx.server.MaxUsers) result = kLoginServerFull;
  if (result == 0 && request.server_password_flag == 1 && !server_password.empty() &&
      request.password != server_password) {
    result = kLoginBadPasswordOrNickname;
  }
  if (result == 0) result = kLoginAccepted;
  if (ctx.clients.GetClientObject(player.NickName.str())) result = kLoginNicknameInUse;
  const std::string trimmed = common::Trim(player.NickName.str());
  if (trimmed.empty() || common::LowerCase(trimmed) == "server") {
    result = kLoginBadPasswordOrNickname;
  }
  return result;
}

}  // namespace

std::optional<LoginRequest> ReadLoginRequest(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kLoginRequestMinSize) return std::nullopt;
  const std::size_t present = std::min(datagram.size(), kLoginRequestSize);
  std::vector<std::uint8_t> image(kLoginRequestSize, 0);
  std::copy_n(datagram.begin(), present, image.begin());

  LoginRequest r;
  WireReader in(image, kConnectionHeaderLength);
  r.client_name = in.GetText(29);
  r.client_platform = in.GetText(29);
  r.version_major = in.GetU16();
  r.version_minor = in.GetU16();
  r.version_release = in.GetU16();
  r.version_build = in.GetU16();
  r.unique_nickname = in.GetU8();
  r.server_password_flag = in.GetU8();
  r.login_name = TextPresent(image, 90, 29, present);
  r.password = TextPresent(image, 120, 29, present);
  r.nickname = TextPresent(image, 150, 29, present);
  return r;
}

std::unique_ptr<Packet> LoginReplyPacket(const ServerData* server, std::int32_t result,
                                         std::int32_t connection_id, std::int32_t player_id) {
  auto packet = transport::MakePacket(PacketClass::ConnectionPacket, transport::kLoginReplyType,
                                      0, static_cast<std::uint32_t>(player_id));
  packet->Resize(kLoginReplySize);
  WireWriter out(packet->Buffer(), kConnectionHeaderLength);
  if (server) {
    out.PutText(server->ServerName.str(), 29)
        .PutText(server->Platform.str(), 29)
        .PutU16(server->VersionMajor)
        .PutU16(server->VersionMinor)
        .PutU16(server->VersionRelease)
        .PutU16(server->VersionBuild)
        .PutI32(result)
        .PutU32(AllowedCodecs(*server))
        .PutU32(0)
        .PutU16(server->ServerType)
        .PutU16(server->ServerFlags)
        .PutI32(server->MaxUsers)
        .PutI32(connection_id)
        .PutI32(player_id)
        .PutText(server->WelcomeMessage.str(), 255);
  } else {
    out.Seek(88).PutI32(result).Seek(108).PutI32(connection_id).PutI32(player_id);
  }
  return packet;
}

std::optional<LoginStep3Request> ReadLoginStep3(std::span<const std::uint8_t> packet) {
  WireReader in(packet, 25);
  LoginStep3Request r;
  r.login_option = in.GetU8();
  r.channel_name = in.GetText(29);
  r.sub_channel_name = in.GetText(29);
  r.channel_password = in.GetText(29);
  if (!in.ok()) return std::nullopt;
  return r;
}

std::vector<std::unique_ptr<Packet>> ChannelListPackets(
    const ClientObject& receiver, std::span<const ChannelRec* const> channels) {
  return ListPackets<ChannelRec>(receiver, kLoginStep4, kChannelListSize, kChannelsPerPacket,
                                 kChannelEntrySize, channels, WriteChannelEntry);
}

std::vector<std::unique_ptr<Packet>> PlayerListPackets(
    const ClientObject& receiver, std::span<const ClientObject* const> players) {
  return ListPackets<ClientObject>(receiver, kLoginStep5, kPlayerListSize, kPlayersPerPacket,
                                   kPlayerEntrySize, players, WritePlayerEntry);
}

void CMD_cs_LoginStep1(HandlerContext& ctx) {
  const Packet& packet = *ctx.packet;
  const std::optional<LoginRequest> request = ReadLoginRequest(packet.Bytes());
  if (!request) throw std::runtime_error("login request shorter than 88 bytes");

  auto player = std::make_unique<ClientObject>();
  player->ConnectionId = ctx.clients.GetNewConnectionID();
  player->ClientName = request->client_name;
  player->ClientPlatform = request->client_platform;
  player->VersionMajor = request->version_major;
  player->VersionMinor = request->version_minor;
  player->VersionRelease = request->version_release;
  player->VersionBuild = request->version_build;

  std::int32_t result = 0;
  if (request->version_release <= 12) result = kLoginVersionTooOld;
  if (result == 0) {
    player->LoginName = request->login_name;
    player->Password = request->password;
    player->NickName = request->nickname;
    player->LastPacketTime = player->LoginTime = common::Now();
    player->ChannelId = ctx.channels.DefaultChannelId();
    if (!player->LoginName.empty() && !ApplyRegisteredUser(ctx, *player, *request)) {
      result = kLoginNotRegistered;
    }
    player->PlayerId = ctx.clients.GetNewPlayerID(ctx.server.NextPlayerId);
    if (request->unique_nickname != 0) {
      player->NickName = ctx.clients.GetGuestPlayerName(request->nickname);
    }
  }

  ctx.buffer.AddConnection(static_cast<std::uint32_t>(player->PlayerId),
                           static_cast<std::uint32_t>(player->ConnectionId), packet.PeerAddress(),
                           packet.PeerPort(), kInitialConnectionSequence);

  const bool registered = (player->Privileges & kPrivilegeRegistered) != 0;
  const std::string& server_password = ctx.server.Password;
  if (!registered && !server_password.empty() && request->password != server_password) {
    result = kLoginBadPasswordOrNickname;
  }
  if (result != 0) {
    ctx.Send(LoginReplyPacket(nullptr, result, player->ConnectionId, player->PlayerId));
    return;
  }

  result = FinalLoginResult(ctx, *player, *request);
  ctx.Send(LoginReplyPacket(&ctx.server, result, player->ConnectionId, player->PlayerId));
  if (result > 0) ctx.clients.Add(std::move(player));
}

void CMD_cs_LoginStep3(HandlerContext& ctx) {
  if (!ctx.sender) {
    ctx.drop_sender = true;
    return;
  }
  ClientObject& sender = *ctx.sender;
  const std::optional<LoginStep3Request> request = ReadLoginStep3(ctx.packet->Bytes());
  if (!request) throw std::runtime_error("login step 3 shorter than 116 bytes");
  sender.LoginOption = request->login_option == 1 ? 1 : 0;
  if (sender.LoginOption && !ctx.server.AllowFlaggedLogin) {
    ctx.drop_sender = true;
    return;
  }

  const ChannelRec* preferred = nullptr;
  if (!request->channel_name.empty()) {
    preferred = ctx.channels.FindChannelByName(request->channel_name, kNoParent);
    if (preferred && !request->sub_channel_name.empty()) {
      preferred = ctx.channels.FindChannelByName(request->sub_channel_name, preferred->ID);
    }
  }
  bool may_join = false;
  if (preferred) {
    Guarded(ctx, "CheckChannelJoin", [&] {
      may_join = CheckChannelJoin(ctx.channels, ctx.clients, preferred->ID,
                                  request->channel_password) == 0;
    });
  }
  if (may_join) sender.ChannelId = preferred->ID;

  Guarded(ctx, "CMD_sc_LoginStep4", [&] { CMD_sc_LoginStep4(ctx); });
  Guarded(ctx, "CMD_sc_LoginStep5", [&] { CMD_sc_LoginStep5(ctx); });
  Guarded(ctx, "CMD_sc_LoginStep6", [&] { CMD_sc_LoginStep6(ctx); });
  CMD_sc_NotifyPlayerEnteredScope(ctx, sender.PlayerId);
  sender.LoginComplete = true;
}

void CMD_sc_LoginStep4(HandlerContext& ctx) {
  std::vector<const ChannelRec*> channels;
  for (const auto& c : ctx.channels.items()) channels.push_back(c.get());
  SendAll(ctx, ChannelListPackets(*ctx.sender, channels));
}

void CMD_sc_LoginStep5(HandlerContext& ctx) {
  std::vector<const ClientObject*> visible;
  for (const auto& p : ctx.clients.items()) {
    if (CheckClientInView(ctx.server.ServerType, ctx.channels, ctx.sender, p.get())) {
      visible.push_back(p.get());
    }
  }
  SendAll(ctx, PlayerListPackets(*ctx.sender, visible));
}

void CMD_sc_LoginStep6(HandlerContext& ctx) {
  ctx.Send(NewCommandPacket(kLoginStep6, kCommandHeaderLength, *ctx.sender));
}

}  // namespace voxhall::protocol
