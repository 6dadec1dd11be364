#include "support/client_records.h"

#include <string_view>
#include <type_traits>
#include <utility>

#include "protocol/wire.h"
#include "transport/crc.h"
#include "transport/packet.h"

namespace voxhall::testing {

namespace {

using protocol::WireReader;

using transport::kCommandMagic;
using transport::kConnectionMagic;
using transport::kVoiceS2CMagic;

constexpr std::size_t kPlayerEntrySize = 46;
constexpr std::size_t kChannelEntrySize = 176;

PlayerEntry ReadPlayerEntry(WireReader& r) {
  PlayerEntry e;
  e.player_id = r.GetU32();
  e.channel_id = r.GetI32();
  e.channel_privileges = r.GetU16();
  e.privileges = r.GetU16();
  e.player_flags = r.GetU32();
  e.nickname = r.GetText(29);
  return e;
}

ChannelEntry ReadChannelEntry(WireReader& r) {
  ChannelEntry e;
  e.id = r.GetI32();
  e.flags = r.GetU16();
  e.codec = r.GetU16();
  e.parent = r.GetI32();
  e.name = r.GetText(29);
  e.topic = r.GetText(29);
  e.description = r.GetText(99);
  e.order = r.GetI16();
  e.max_users = r.GetU16();
  return e;
}

std::array<std::uint16_t, 4> ReadVersion(WireReader& r) {
  std::array<std::uint16_t, 4> v{};
  for (auto& word : v) word = r.GetU16();
  return v;
}

// Fills a record's common part from the datagram.
template <typename T>
T WithBase(std::span<const std::uint8_t> bytes, std::chrono::steady_clock::time_point arrived,
           bool numbered) {
  T record;
  record.raw.assign(bytes.begin(), bytes.end());
  record.arrived = arrived;
  record.connection_id = LoadU32(bytes, 4);
  record.player_id = LoadU32(bytes, 8);
  if (numbered) record.sequence = LoadU32(bytes, 12);
  return record;
}

template <typename List, typename Entry>
void ReadList(WireReader& r, List& list, std::size_t slots, Entry (*read)(WireReader&)) {
  list.count = r.GetI32();
  for (std::size_t i = 0; i < slots; ++i) list.slots.push_back(read(r));
  const std::size_t used =
      list.count < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(list.count), slots);
  for (std::size_t i = 0; i < used; ++i) {
    if constexpr (std::is_same_v<Entry, ChannelEntry>) {
      list.channels.push_back(list.slots[i]);
    } else {
      list.players.push_back(list.slots[i]);
    }
  }
}

template <typename T>
void ReadChannelText(WireReader& r, T& rec, std::size_t capacity) {
  rec.channel_id = r.GetI32();
  rec.text = r.GetText(capacity);
  rec.acting_player = r.GetI32();
}

template <typename T>
void ReadPrivilegeChange(WireReader& r, T& rec) {
  rec.changed_player_id = r.GetU32();
  rec.action = r.GetU8();
  rec.bit = r.GetU8();
  rec.acting_player = r.GetI32();
}

// Decodes a command packet whose checksum is right. Each known type has its
// fixed size; a shorter datagram is kept as a truncated OtherCommand.
Record DecodeCommand(std::span<const std::uint8_t> b, std::chrono::steady_clock::time_point at) {
  const auto type = static_cast<std::int16_t>(LoadU16(b, 2));
  WireReader r(b, 24);
  const auto other = [&](bool truncated) {
    auto rec = WithBase<OtherCommand>(b, at, true);
    rec.type = type;
    rec.truncated = truncated;
    return Record(std::move(rec));
  };
  // Decodes type T from a datagram of at least `size` bytes with `read`.
  const auto decode = [&]<typename T>(std::size_t size, auto read) -> Record {
    if (b.size() < size) return other(true);
    auto rec = WithBase<T>(b, at, true);
    read(rec);
    return Record(std::move(rec));
  };

  if (type < 0) {
    return decode.template operator()<ErrorPacket>(30, [&](ErrorPacket& e) {
      e.code = type;
      e.refused_type = r.GetI16();
      e.refused_sequence = r.GetU32();
      if (b.size() >= 34) e.channel_id = r.GetI32();
    });
  }
  switch (type) {
    case 6:
      return decode.template operator()<ChannelList>(
          28 + 3 * kChannelEntrySize, [&](ChannelList& l) { ReadList(r, l, 3, ReadChannelEntry); });
    case 7:
      return decode.template operator()<PlayerList>(
          28 + 10 * kPlayerEntrySize, [&](PlayerList& l) { ReadList(r, l, 10, ReadPlayerEntry); });
    case 8:
      return decode.template operator()<LoginFinished>(24, [](LoginFinished&) {});
    case 100:
      return decode.template operator()<PlayerEnteredScope>(
          70, [&](PlayerEnteredScope& e) { e.player = ReadPlayerEntry(r); });
    case 101:
      return decode.template operator()<PlayerLeftScope>(64, [&](PlayerLeftScope& e) {
        e.left_player_id = r.GetU32();
        e.reason = r.GetU16();
        e.acting_player = r.GetI32();
        e.message = r.GetText(29);
      });
    case 102:
      return decode.template operator()<PlayerKickedFromChannel>(
          68, [&](PlayerKickedFromChannel& e) {
            e.kicked_player_id = r.GetU32();
            e.old_channel = r.GetI32();
            e.new_channel = r.GetI32();
            e.channel_privileges = r.GetU16();
            e.reason = r.GetText(29);
          });
    case 103:
      return decode.template operator()<PlayerSwitchedChannel>(38, [&](PlayerSwitchedChannel& e) {
        e.switched_player_id = r.GetU32();
        e.old_channel = r.GetI32();
        e.new_channel = r.GetI32();
        e.channel_privileges = r.GetU16();
      });
    case 104:
      return decode.template operator()<PlayerFlagsChanged>(32, [&](PlayerFlagsChanged& e) {
        e.changed_player_id = r.GetU32();
        e.player_flags = r.GetU32();
      });
    case 105:
      return decode.template operator()<PlayerRequestedVoice>(58, [&](PlayerRequestedVoice& e) {
        e.requesting_player_id = r.GetU32();
        e.text = r.GetText(29);
      });
    case 106:
      return decode.template operator()<PlayerChannelPrivilegeChanged>(
          34, [&](PlayerChannelPrivilegeChanged& e) { ReadPrivilegeChange(r, e); });
    case 107:
      return decode.template operator()<PlayerPrivilegesChanged>(
          34, [&](PlayerPrivilegesChanged& e) { ReadPrivilegeChange(r, e); });
    case 108:
      return decode.template operator()<PlayersInSwitchedChannel>(
          28 + 10 * kPlayerEntrySize,
          [&](PlayersInSwitchedChannel& l) { ReadList(r, l, 10, ReadPlayerEntry); });
    case 110:
      return decode.template operator()<ChannelCreated>(204, [&](ChannelCreated& e) {
        e.channel = ReadChannelEntry(r);
        e.acting_player = r.GetI32();
      });
    case 111:
      return decode.template operator()<ChannelNameChanged>(
          62, [&](ChannelNameChanged& e) { ReadChannelText(r, e, 29); });
    case 112:
      return decode.template operator()<ChannelTopicChanged>(
          62, [&](ChannelTopicChanged& e) { ReadChannelText(r, e, 29); });
    case 113:
      return decode.template operator()<ChannelPropertiesChanged>(
          36, [&](ChannelPropertiesChanged& e) {
            e.channel_id = r.GetI32();
            e.flags = r.GetU16();
            e.codec = r.GetU16();
            e.acting_player = r.GetI32();
          });
    case 114:
      return decode.template operator()<ChannelDescriptionChanged>(
          132, [&](ChannelDescriptionChanged& e) { ReadChannelText(r, e, 99); });
    case 115:
      return decode.template operator()<ChannelDestroyed>(30, [&](ChannelDestroyed& e) {
        e.channel_id = r.GetI16();
        e.acting_player = r.GetI32();
      });
    case 116:
      return decode.template operator()<ChannelMaxUsersChanged>(
          34, [&](ChannelMaxUsersChanged& e) {
            e.channel_id = r.GetI32();
            e.value = r.GetU16();
            e.acting_player = r.GetI32();
          });
    case 117:
      return decode.template operator()<ChannelOrderChanged>(34, [&](ChannelOrderChanged& e) {
        e.channel_id = r.GetI32();
        e.value = r.GetI16();
        e.acting_player = r.GetI32();
      });
    case 130:
      return decode.template operator()<TextMessage>(314, [&](TextMessage& e) {
        e.message = r.GetText(255);
        e.kind = r.GetI32();
        e.sender = r.GetText(29);
      });
    case 204:
      return decode.template operator()<ChannelPasswordChanged>(
          28, [&](ChannelPasswordChanged& e) { e.channel_id = r.GetI32(); });
    case 311:
      return decode.template operator()<PlayerAdminRegisteredOK>(24,
                                                                 [](PlayerAdminRegisteredOK&) {});
    case 404:
      return decode.template operator()<PlayerConnectionInfo>(164, [&](PlayerConnectionInfo& e) {
        e.about_player_id = r.GetU32();
        e.seconds_online = r.GetU32();
        e.loss = r.GetU16();
        e.ping = r.GetU16();
        e.seconds_idle = r.GetU32();
        e.version = ReadVersion(r);
        e.packets_sent = r.GetU32();
        e.bytes_sent = r.GetU32();
        e.packets_received = r.GetU32();
        e.bytes_received = r.GetU32();
        e.address = r.GetText(29);
        e.port = r.GetU16();
        e.login_name = r.GetText(29);
        e.channel_id = r.GetI32();
        e.channel_privileges = r.GetU16();
        e.privileges = r.GetU16();
        e.client_platform = r.GetText(29);
      });
    case 406:
      return decode.template operator()<ServerInfo>(56, [&](ServerInfo& e) {
        e.uptime_seconds = r.GetU32();
        e.version = ReadVersion(r);
        e.server_type = r.GetU16();
        e.server_flags = r.GetU16();
        e.packets_sent = r.GetU32();
        e.bytes_sent = r.GetU32();
        e.packets_received = r.GetU32();
        e.bytes_received = r.GetU32();
      });
    default:
      return other(false);
  }
}

Record DecodeConnection(std::span<const std::uint8_t> b, std::chrono::steady_clock::time_point at) {
  const std::uint16_t type = LoadU16(b, 2);
  if (type == 4 && b.size() >= 372) {
    auto rec = WithBase<LoginReply>(b, at, true);
    WireReader r(b, 20);
    rec.server_name = r.GetText(29);
    rec.platform = r.GetText(29);
    rec.version = ReadVersion(r);
    rec.result = r.GetI32();
    rec.codecs = r.GetU32();
    r.Skip(4);
    rec.server_type = r.GetU16();
    rec.server_flags = r.GetU16();
    rec.max_users = r.GetI32();
    rec.given_connection_id = r.GetU32();
    rec.given_player_id = r.GetU32();
    rec.welcome = r.GetText(255);
    return rec;
  }
  if (type == 2 && b.size() >= 24) {
    auto rec = WithBase<Pong>(b, at, true);
    rec.ping_sequence = LoadU32(b, 20);
    return rec;
  }
  auto rec = WithBase<OtherDatagram>(b, at, true);
  rec.checksum_ok = true;
  return rec;
}

Record DecodeVoice(std::span<const std::uint8_t> b, std::chrono::steady_clock::time_point at) {
  auto rec = WithBase<Voice>(b, at, false);
  rec.mode = b[2];
  rec.voice_byte = b[3];
  rec.voice_counter = LoadU16(b, 12);
  rec.voice_word = LoadU16(b, 14);
  rec.speaker_id = LoadU32(b, 16);
  rec.speaker_counter = LoadU16(b, 20);
  rec.data.assign(b.begin() + 22, b.end());
  return rec;
}

}  // namespace

std::uint16_t LoadU16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t LoadU32(std::span<const std::uint8_t> b, std::size_t at) {
  return LoadU16(b, at) | (static_cast<std::uint32_t>(LoadU16(b, at + 2)) << 16);
}

bool ChecksumOk(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return false;
  const std::uint16_t magic = LoadU16(bytes, 0);
  std::size_t offset = 0;
  if (magic == kCommandMagic && bytes.size() >= 24) {
    offset = 20;
  } else if (magic == kConnectionMagic && bytes.size() >= 20) {
    offset = 16;
  } else {
    return true;
  }
  return transport::Crc32WithZeroedField(bytes.data(), bytes.size(), offset) ==
         LoadU32(bytes, offset);
}

Record DecodeDatagram(std::span<const std::uint8_t> bytes,
                      std::chrono::steady_clock::time_point arrived) {
  const std::uint16_t magic = bytes.size() >= 2 ? LoadU16(bytes, 0) : 0;
  const bool checksum_ok = ChecksumOk(bytes);
  if (magic == kCommandMagic && bytes.size() >= 24 && checksum_ok) {
    return DecodeCommand(bytes, arrived);
  }
  if (magic == kConnectionMagic && bytes.size() >= 20 && checksum_ok) {
    return DecodeConnection(bytes, arrived);
  }
  if (magic == kVoiceS2CMagic && bytes.size() >= 22) return DecodeVoice(bytes, arrived);

  OtherDatagram rec;
  rec.raw.assign(bytes.begin(), bytes.end());
  rec.arrived = arrived;
  if (bytes.size() >= 12) {
    rec.connection_id = LoadU32(bytes, 4);
    rec.player_id = LoadU32(bytes, 8);
  }
  rec.checksum_ok = checksum_ok && bytes.size() >= 16;
  return rec;
}

const RecordBase& Base(const Record& record) {
  return std::visit([](const auto& r) -> const RecordBase& { return r; }, record);
}

std::string TypeName(const Record& record) {
  static constexpr std::string_view kNames[] = {
      "LoginReply",
      "ChannelList",
      "PlayerList",
      "LoginFinished",
      "PlayerEnteredScope",
      "PlayerLeftScope",
      "PlayerKickedFromChannel",
      "PlayerSwitchedChannel",
      "PlayerFlagsChanged",
      "PlayerRequestedVoice",
      "PlayerChannelPrivilegeChanged",
      "PlayerPrivilegesChanged",
      "PlayersInSwitchedChannel",
      "ChannelCreated",
      "ChannelNameChanged",
      "ChannelTopicChanged",
      "ChannelPropertiesChanged",
      "ChannelDescriptionChanged",
      "ChannelDestroyed",
      "ChannelMaxUsersChanged",
      "ChannelOrderChanged",
      "TextMessage",
      "ChannelPasswordChanged",
      "PlayerAdminRegisteredOK",
      "PlayerConnectionInfo",
      "ServerInfo",
      "ErrorPacket",
      "Voice",
      "Pong",
      "OtherCommand",
      "OtherDatagram",
  };
  static_assert(std::size(kNames) == std::variant_size_v<Record>);
  return std::string(kNames[record.index()]);
}

std::string Describe(const Record& record) {
  std::string text = TypeName(record);
  if (const auto* e = std::get_if<ErrorPacket>(&record)) text += " " + std::to_string(e->code);
  if (const auto* o = std::get_if<OtherCommand>(&record)) {
    text += " " + std::to_string(o->type) + (o->truncated ? " (truncated)" : "");
  }
  if (const auto* r = std::get_if<LoginReply>(&record)) text += " " + std::to_string(r->result);
  return text;
}

}  // namespace voxhall::testing
