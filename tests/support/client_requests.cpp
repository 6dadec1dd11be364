#include "support/client_requests.h"

#include <algorithm>

#include "protocol/wire.h"
#include "transport/crc.h"
#include "transport/packet.h"

namespace voxhall::testing {

namespace {

using protocol::WireWriter;

using transport::kAckMagic;
using transport::kCommandMagic;
using transport::kConnectionMagic;
using transport::kLoginRequestType;
using transport::kVoiceC2SMagic;

void StoreChecksum(std::vector<std::uint8_t>& datagram, std::size_t offset) {
  const std::uint32_t crc =
      transport::Crc32WithZeroedField(datagram.data(), datagram.size(), offset);
  WireWriter(datagram, offset).PutU32(crc);
}

// A command whose payload has exactly `size - 24` bytes, filled by `fill`
// through a writer positioned at the payload's start.
template <typename Fill>
Command Make(std::uint16_t type, std::size_t size, Fill fill) {
  Command command{type, std::vector<std::uint8_t>(size - 24, 0)};
  WireWriter w(command.payload);
  fill(w);
  command.payload.resize(size - 24);
  return command;
}

Command IdAndText(std::uint16_t type, std::int32_t id, const std::string& text,
                  std::size_t capacity) {
  return Make(type, 28 + capacity + 1, [&](WireWriter& w) { w.PutI32(id).PutText(text, capacity); });
}

}  // namespace

std::vector<std::uint8_t> LoginRequestDatagram(const LoginRequest& r, std::uint32_t sequence) {
  std::vector<std::uint8_t> d(180, 0);
  WireWriter w(d);
  w.PutU16(kConnectionMagic).PutU16(kLoginRequestType).PutU32(0).PutU32(0).PutU32(sequence);
  w.Seek(20).PutText(r.client_name, 29).PutText(r.client_platform, 29);
  for (std::uint16_t word : r.version) w.PutU16(word);
  w.PutU8(r.unique_nickname).PutU8(r.server_password_flag);
  w.PutText(r.login_name, 29).PutText(r.password, 29).PutText(r.nickname, 29);
  d.resize(std::max<std::size_t>(r.length, 20));
  StoreChecksum(d, 16);
  return d;
}

std::vector<std::uint8_t> CommandDatagram(const Command& command, std::uint32_t connection_id,
                                          std::uint32_t player_id, std::uint32_t sequence,
                                          std::uint16_t resend_count) {
  std::vector<std::uint8_t> d;
  d.reserve(24 + command.payload.size());
  WireWriter w(d);
  w.PutU16(kCommandMagic).PutU16(command.type).PutU32(connection_id).PutU32(player_id);
  w.PutU32(sequence).PutU16(resend_count).PutU16(0).PutU32(0);
  d.insert(d.end(), command.payload.begin(), command.payload.end());
  StoreChecksum(d, 20);
  return d;
}

std::vector<std::uint8_t> ConnectionDatagram(std::uint16_t type, std::uint32_t connection_id,
                                             std::uint32_t player_id, std::uint32_t sequence,
                                             std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> d;
  WireWriter w(d);
  w.PutU16(kConnectionMagic).PutU16(type).PutU32(connection_id).PutU32(player_id);
  w.PutU32(sequence).PutU32(0);
  d.insert(d.end(), payload.begin(), payload.end());
  StoreChecksum(d, 16);
  return d;
}

std::vector<std::uint8_t> AckDatagram(std::uint32_t connection_id, std::uint32_t player_id,
                                      std::uint32_t sequence, std::uint16_t resend_count) {
  std::vector<std::uint8_t> d;
  WireWriter(d).PutU16(kAckMagic).PutU16(resend_count).PutU32(connection_id).PutU32(player_id)
      .PutU32(sequence);
  return d;
}

std::vector<std::uint8_t> VoiceDatagram(std::uint8_t mode, std::uint8_t voice_byte,
                                        std::uint16_t voice_word, std::uint32_t connection_id,
                                        std::uint32_t player_id, std::uint16_t voice_counter,
                                        std::span<const WhisperTarget> targets,
                                        std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> d;
  d.reserve(17 + 5 * targets.size() + data.size());
  WireWriter w(d);
  w.PutU16(kVoiceC2SMagic).PutU8(mode).PutU8(voice_byte).PutU32(connection_id).PutU32(player_id);
  w.PutU16(voice_counter).PutU16(voice_word);
  if (mode == kWhisper) {
    w.PutU8(static_cast<std::uint8_t>(targets.size()));
    for (const WhisperTarget& t : targets) w.PutU8(t.kind).PutI32(t.id);
  }
  d.insert(d.end(), data.begin(), data.end());
  return d;
}

Command LoginStep3(const LoginStep3Request& r) {
  return Make(kLoginStep3, 116, [&](WireWriter& w) {
    w.PutU8(0).PutU8(r.login_option);
    w.PutText(r.channel, 29).PutText(r.sub_channel, 29).PutText(r.channel_password, 29);
  });
}

Command ChannelCreate(const ChannelFields& c) {
  return Make(kChannelCreate, 226, [&](WireWriter& w) {
    w.PutU16(c.flags).PutU16(c.codec).PutI32(c.parent);
    w.PutText(c.name, 29).PutText(c.topic, 29).PutText(c.description, 99);
    w.PutText(c.password, 29).PutI16(c.order).PutU16(c.max_users);
  });
}

Command ChannelChangePassword(std::int32_t channel_id, const std::string& password) {
  return IdAndText(kChannelChangePassword, channel_id, password, 29);
}

Command ChannelChangeProperties(std::int32_t channel_id, std::uint16_t flags, std::uint16_t codec) {
  return Make(kChannelChangeProperties, 32,
              [&](WireWriter& w) { w.PutI32(channel_id).PutU16(flags).PutU16(codec); });
}

Command ChannelChangeName(std::int32_t channel_id, const std::string& name) {
  return IdAndText(kChannelChangeName, channel_id, name, 29);
}

Command ChannelChangeTopic(std::int32_t channel_id, const std::string& topic) {
  return IdAndText(kChannelChangeTopic, channel_id, topic, 29);
}

Command ChannelChangeDescription(std::int32_t channel_id, const std::string& description) {
  return IdAndText(kChannelChangeDescription, channel_id, description, 99);
}

Command ChannelDestroy(std::int32_t channel_id) {
  return Make(kChannelDestroy, 28, [&](WireWriter& w) { w.PutI32(channel_id); });
}

Command ChannelChangeMaxUsers(std::int32_t channel_id, std::uint16_t max_users) {
  return Make(kChannelChangeMaxUsers, 30,
              [&](WireWriter& w) { w.PutI32(channel_id).PutU16(max_users); });
}

Command ChannelChangeAll(std::int32_t channel_id, const ChannelFields& c) {
  return Make(kChannelChangeAll, 230, [&](WireWriter& w) {
    w.PutI32(channel_id).PutU16(c.flags).PutU16(c.codec).PutU32(0);
    w.PutText(c.name, 29).PutText(c.topic, 29).PutText(c.description, 99);
    w.PutI16(c.order).PutU16(c.max_users).PutText(c.password, 29);
  });
}

Command ChannelChangeOrder(std::int32_t channel_id, std::int16_t order) {
  return Make(kChannelChangeOrder, 30, [&](WireWriter& w) { w.PutI32(channel_id).PutI16(order); });
}

Command PlayerQuit() { return Command{kPlayerQuit, {}}; }

Command PlayerKick(std::uint32_t player_id, const std::string& reason) {
  return IdAndText(kPlayerKick, static_cast<std::int32_t>(player_id), reason, 29);
}

Command PlayerKickFromChannel(std::uint32_t player_id, const std::string& reason) {
  return IdAndText(kPlayerKickFromChannel, static_cast<std::int32_t>(player_id), reason, 29);
}

Command PlayerChannelSwitch(std::int32_t channel_id, const std::string& password) {
  return IdAndText(kPlayerChannelSwitch, channel_id, password, 29);
}

Command PlayerFlagsChanged(std::uint32_t flags) {
  return Make(kPlayerFlagsChanged, 28, [&](WireWriter& w) { w.PutU32(flags); });
}

Command PlayerRequestVoice(const std::string& text) {
  return Make(kPlayerRequestVoice, 54, [&](WireWriter& w) { w.PutText(text, 29); });
}

Command PlayerChangeChannelPrivilege(std::uint32_t player_id, std::uint8_t action,
                                     std::uint8_t bit) {
  return Make(kPlayerChangeChannelPrivilege, 30,
              [&](WireWriter& w) { w.PutU32(player_id).PutU8(action).PutU8(bit); });
}

Command PlayerChangePrivilege(std::uint32_t player_id, std::uint8_t action, std::uint8_t bit) {
  return Make(kPlayerChangePrivilege, 30,
              [&](WireWriter& w) { w.PutU32(player_id).PutU8(action).PutU8(bit); });
}

Command PlayerRegister(const std::string& login_name, const std::string& password) {
  return Make(kPlayerRegister, 84,
              [&](WireWriter& w) { w.PutText(login_name, 29).PutText(password, 29); });
}

Command PlayerAdminRegister(const std::string& login_name, const std::string& password,
                            bool server_admin) {
  return Make(kPlayerAdminRegister, 85, [&](WireWriter& w) {
    w.PutText(login_name, 29).PutText(password, 29).PutU8(server_admin ? 1 : 0);
  });
}

Command InfoRequestPlayerConnectionInfoOnId(std::uint32_t player_id) {
  return Make(kInfoRequestPlayerConnectionInfoOnId, 28,
              [&](WireWriter& w) { w.PutU32(player_id); });
}

Command InfoRequestServerInfo() { return Command{kInfoRequestServerInfo, {}}; }

Command InfoSendText(const std::string& message, std::int32_t kind, std::int32_t channel_id) {
  return Make(kInfoSendText, 288, [&](WireWriter& w) {
    w.PutText(message, 255).PutI32(kind).PutI32(channel_id);
  });
}

}  // namespace voxhall::testing
