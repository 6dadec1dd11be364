// What a voice client receives from the server, decoded into typed records:
// the login answers, channel and player lists, scope, channel and player
// notifications, text messages, information answers, error packets, relayed
// voice and pongs. Every record keeps the datagram it came from (`raw`) so
// that tests can also check exact layouts and sizes.
//
// The layouts are written here from the client's point of view, on purpose
// independently of the server's encoders, so that tests check the server's
// bytes instead of mirroring its code. Offsets count from the first byte of
// the datagram; integers are little-endian; texts are length-prefixed fixed
// fields.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace voxhall::testing {

// Common part of every record: the whole datagram and when it arrived.
struct RecordBase {
  std::vector<std::uint8_t> raw;
  std::chrono::steady_clock::time_point arrived{};
  // Header fields as received (Sequence is 0 for voice).
  std::uint32_t connection_id = 0;
  std::uint32_t player_id = 0;
  std::uint32_t sequence = 0;
};

// 46-byte player entry of the login list, scope and switched-channel lists.
struct PlayerEntry {
  std::uint32_t player_id = 0;
  std::int32_t channel_id = 0;
  std::uint16_t channel_privileges = 0;
  std::uint16_t privileges = 0;
  std::uint32_t player_flags = 0;
  std::string nickname;
};

// 176-byte channel entry of the login list and the created notice.
struct ChannelEntry {
  std::int32_t id = 0;
  std::uint16_t flags = 0;
  std::uint16_t codec = 0;
  std::int32_t parent = 0;
  std::string name;
  std::string topic;
  std::string description;
  std::int16_t order = 0;
  std::uint16_t max_users = 0;
};

// Connection packet type 4: the answer to the login request.
struct LoginReply : RecordBase {
  std::string server_name;
  std::string platform;
  std::array<std::uint16_t, 4> version{};
  std::int32_t result = 0;  // 1 accepted, else the refusal code
  std::uint32_t codecs = 0;
  std::uint16_t server_type = 0;
  std::uint16_t server_flags = 0;
  std::int32_t max_users = 0;
  std::uint32_t given_connection_id = 0;
  std::uint32_t given_player_id = 0;
  std::string welcome;
};

// Type 6: up to three channel entries. `slots` holds all three slots as sent
// (slots past `count` may repeat an earlier packet); `channels` the first
// `count` of them.
struct ChannelList : RecordBase {
  std::int32_t count = 0;
  std::vector<ChannelEntry> slots;
  std::vector<ChannelEntry> channels;
};

// Type 7 (login player list) and type 108 (players in the channel switched
// to): up to ten player entries, with all slots kept as for ChannelList.
struct PlayerList : RecordBase {
  std::int32_t count = 0;
  std::vector<PlayerEntry> slots;
  std::vector<PlayerEntry> players;
};
struct PlayersInSwitchedChannel : PlayerList {};

// Type 8: the login is complete.
struct LoginFinished : RecordBase {};

// Type 100.
struct PlayerEnteredScope : RecordBase {
  PlayerEntry player;
};

// Type 101.
struct PlayerLeftScope : RecordBase {
  std::uint32_t left_player_id = 0;
  std::uint16_t reason = 0;
  std::int32_t acting_player = 0;
  std::string message;
};

// Type 102.
struct PlayerKickedFromChannel : RecordBase {
  std::uint32_t kicked_player_id = 0;
  std::int32_t old_channel = 0;
  std::int32_t new_channel = 0;
  std::uint16_t channel_privileges = 0;
  std::string reason;
};

// Type 103.
struct PlayerSwitchedChannel : RecordBase {
  std::uint32_t switched_player_id = 0;
  std::int32_t old_channel = 0;
  std::int32_t new_channel = 0;
  std::uint16_t channel_privileges = 0;
};

// Type 104.
struct PlayerFlagsChanged : RecordBase {
  std::uint32_t changed_player_id = 0;
  std::uint32_t player_flags = 0;
};

// Type 105.
struct PlayerRequestedVoice : RecordBase {
  std::uint32_t requesting_player_id = 0;
  std::string text;
};

// Types 106 (channel privileges) and 107 (server privileges).
struct PrivilegeChange : RecordBase {
  std::uint32_t changed_player_id = 0;
  std::uint8_t action = 0;
  std::uint8_t bit = 0;
  std::int32_t acting_player = 0;
};
struct PlayerChannelPrivilegeChanged : PrivilegeChange {};
struct PlayerPrivilegesChanged : PrivilegeChange {};

// Type 110.
struct ChannelCreated : RecordBase {
  ChannelEntry channel;
  std::int32_t acting_player = 0;
};

// Types 111, 112 and 114: a channel's text changed.
struct ChannelTextChange : RecordBase {
  std::int32_t channel_id = 0;
  std::string text;
  std::int32_t acting_player = 0;
};
struct ChannelNameChanged : ChannelTextChange {};
struct ChannelTopicChanged : ChannelTextChange {};
struct ChannelDescriptionChanged : ChannelTextChange {};

// Type 113.
struct ChannelPropertiesChanged : RecordBase {
  std::int32_t channel_id = 0;
  std::uint16_t flags = 0;
  std::uint16_t codec = 0;
  std::int32_t acting_player = 0;
};

// Type 115: the channel id travels as a signed 16-bit value.
struct ChannelDestroyed : RecordBase {
  std::int16_t channel_id = 0;
  std::int32_t acting_player = 0;
};

// Types 116 and 117: a channel's number changed.
struct ChannelNumberChange : RecordBase {
  std::int32_t channel_id = 0;
  std::int32_t value = 0;  // max users (uint16) or order (int16)
  std::int32_t acting_player = 0;
};
struct ChannelMaxUsersChanged : ChannelNumberChange {};
struct ChannelOrderChanged : ChannelNumberChange {};

// Type 130.
struct TextMessage : RecordBase {
  std::string message;
  std::int32_t kind = 0;
  std::string sender;
};

// Type 204: confirmation of a password change to its sender.
struct ChannelPasswordChanged : RecordBase {
  std::int32_t channel_id = 0;
};

// Type 311.
struct PlayerAdminRegisteredOK : RecordBase {};

// Type 404.
struct PlayerConnectionInfo : RecordBase {
  std::uint32_t about_player_id = 0;
  std::uint32_t seconds_online = 0;
  std::uint16_t loss = 0;  // hundredths of a percent
  std::uint16_t ping = 0;
  std::uint32_t seconds_idle = 0;
  std::array<std::uint16_t, 4> version{};
  std::uint32_t packets_sent = 0;
  std::uint32_t bytes_sent = 0;
  std::uint32_t packets_received = 0;
  std::uint32_t bytes_received = 0;
  std::string address;
  std::uint16_t port = 0;
  std::string login_name;
  std::int32_t channel_id = 0;
  std::uint16_t channel_privileges = 0;
  std::uint16_t privileges = 0;
  std::string client_platform;
};

// Type 406.
struct ServerInfo : RecordBase {
  std::uint32_t uptime_seconds = 0;
  std::array<std::uint16_t, 4> version{};
  std::uint16_t server_type = 0;
  std::uint16_t server_flags = 0;
  std::uint32_t packets_sent = 0;
  std::uint32_t bytes_sent = 0;
  std::uint32_t packets_received = 0;
  std::uint32_t bytes_received = 0;
};

// A negative command type: the refusal of one request. The 34-byte answer
// to a wrong channel password also carries the channel id.
struct ErrorPacket : RecordBase {
  std::int16_t code = 0;
  std::int16_t refused_type = 0;
  std::uint32_t refused_sequence = 0;
  std::optional<std::int32_t> channel_id;
};

// A relayed voice packet (magic 0xBEF3).
struct Voice : RecordBase {
  std::uint8_t mode = 0;  // relay mode, or the whisper target's kind
  std::uint8_t voice_byte = 0;
  std::uint16_t voice_counter = 0;  // the receiving connection's counter
  std::uint16_t voice_word = 0;
  std::uint32_t speaker_id = 0;
  std::uint16_t speaker_counter = 0;
  std::vector<std::uint8_t> data;
};

// Connection packet type 2: the answer to a ping.
struct Pong : RecordBase {
  std::uint32_t ping_sequence = 0;
};

// A command packet of a type this client does not know, or one too short for
// its layout (`truncated`), kept with its bytes.
struct OtherCommand : RecordBase {
  std::int16_t type = 0;
  bool truncated = false;
};

// A datagram that is not a command, voice or known connection packet, or
// whose checksum is wrong.
struct OtherDatagram : RecordBase {
  bool checksum_ok = false;
};

using Record =
    std::variant<LoginReply, ChannelList, PlayerList, LoginFinished, PlayerEnteredScope,
                 PlayerLeftScope, PlayerKickedFromChannel, PlayerSwitchedChannel,
                 PlayerFlagsChanged, PlayerRequestedVoice, PlayerChannelPrivilegeChanged,
                 PlayerPrivilegesChanged, PlayersInSwitchedChannel, ChannelCreated,
                 ChannelNameChanged, ChannelTopicChanged, ChannelPropertiesChanged,
                 ChannelDescriptionChanged, ChannelDestroyed, ChannelMaxUsersChanged,
                 ChannelOrderChanged, TextMessage, ChannelPasswordChanged,
                 PlayerAdminRegisteredOK, PlayerConnectionInfo, ServerInfo, ErrorPacket, Voice,
                 Pong, OtherCommand, OtherDatagram>;

// Decodes one datagram as the server sent it. Never throws for bad input: a
// datagram that does not fit its layout becomes OtherCommand (truncated) or
// OtherDatagram. Acknowledgements are transport business and are decoded by
// the session, not here; given one, this answers OtherDatagram.
Record DecodeDatagram(std::span<const std::uint8_t> bytes,
                      std::chrono::steady_clock::time_point arrived = {});

// The record's common part, whatever its type.
const RecordBase& Base(const Record& record);

// The name of the record's type ("TextMessage", "ErrorPacket").
std::string TypeName(const Record& record);
// The type name with the detail that tells records of a type apart
// ("ErrorPacket -102", "LoginReply -4", "OtherCommand 999"), for failure
// messages.
std::string Describe(const Record& record);

// Little-endian fields of a datagram. REQUIRES: the bytes are present.
std::uint16_t LoadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t offset);

// Whether the command-packet checksum of a datagram is right (for command
// and connection packets; true for the unprotected classes).
bool ChecksumOk(std::span<const std::uint8_t> bytes);

}  // namespace voxhall::testing
