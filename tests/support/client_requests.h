// What a voice client sends: the login request, the payloads of every
// client command (login step 3, channel, player, text and information
// requests) and voice packets in the three relay modes. Written from the
// client's side of the protocol, independently of the server's decoders.
//
// A Command is a command type with the payload that follows the 24-byte
// header; the session adds the header, numbers it and sends it reliably.
// Tests may build any Command by hand for requests without a helper here,
// or to send malformed payloads.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace voxhall::testing {

// Client command types.
enum CommandType : std::uint16_t {
  kLoginStep3 = 5,
  kChannelCreate = 201,
  kChannelChangePassword = 203,
  kChannelChangeProperties = 205,
  kChannelChangeName = 206,
  kChannelChangeTopic = 207,
  kChannelChangeDescription = 208,
  kChannelDestroy = 209,
  kChannelChangeMaxUsers = 210,
  kChannelChangeAll = 211,
  kChannelChangeOrder = 212,
  kPlayerQuit = 300,
  kPlayerKick = 301,
  kPlayerKickFromChannel = 302,
  kPlayerChannelSwitch = 303,
  kPlayerFlagsChanged = 304,
  kPlayerRequestVoice = 305,
  kPlayerChangeChannelPrivilege = 306,
  kPlayerChangePrivilege = 307,
  kPlayerRegister = 308,
  kPlayerAdminRegister = 310,
  kInfoRequestPlayerConnectionInfoOnId = 400,
  kInfoRequestServerInfo = 405,
  kInfoSendText = 430,
};

struct Command {
  std::uint16_t type = 0;
  std::vector<std::uint8_t> payload;  // bytes from offset 24 on
};

// The login request (connection packet type 3), 180 bytes unless `length`
// says otherwise (the image is cut or zero-extended to it).
struct LoginRequest {
  std::string nickname{};
  std::string login_name{};  // empty: anonymous
  std::string password{};    // user password, or the server password
  std::uint8_t unique_nickname = 0;
  std::uint8_t server_password_flag = 0;
  std::string client_name = "Voxhall Test Client";
  std::string client_platform = "Linux";
  std::array<std::uint16_t, 4> version{2, 0, 20, 1};
  std::size_t length = 180;
};

// Login step 3 (command 5).
struct LoginStep3Request {
  std::string channel{};
  std::string sub_channel{};
  std::string channel_password{};
  std::uint8_t login_option = 0;
};

// A channel's fields for ChannelCreate and ChannelChangeAll.
struct ChannelFields {
  std::uint16_t flags = 0;
  std::uint16_t codec = 0;
  std::int32_t parent = -1;  // ChannelCreate only
  std::string name{};
  std::string topic{};
  std::string description{};
  std::string password{};
  std::int16_t order = 0;
  std::uint16_t max_users = 0;
};

// One target of a whisper: kind 0 channel, 1 player.
struct WhisperTarget {
  std::uint8_t kind = 1;
  std::int32_t id = 0;
};

// Relay modes of a voice packet.
enum VoiceMode : std::uint8_t { kOwnChannel = 0, kWhisper = 1, kParentChannel = 2 };

std::vector<std::uint8_t> LoginRequestDatagram(const LoginRequest& request,
                                               std::uint32_t sequence);
// A command packet with header fields filled and its checksum written.
std::vector<std::uint8_t> CommandDatagram(const Command& command, std::uint32_t connection_id,
                                          std::uint32_t player_id, std::uint32_t sequence,
                                          std::uint16_t resend_count);
// A connection packet (ping: type 1, no payload) with its checksum.
std::vector<std::uint8_t> ConnectionDatagram(std::uint16_t type, std::uint32_t connection_id,
                                             std::uint32_t player_id, std::uint32_t sequence,
                                             std::span<const std::uint8_t> payload = {});
// The 16-byte acknowledgement of a received command packet.
std::vector<std::uint8_t> AckDatagram(std::uint32_t connection_id, std::uint32_t player_id,
                                      std::uint32_t sequence, std::uint16_t resend_count);
// A voice packet: 16-byte header, then (whisper only) the target count and
// list, then `data`. The count is one byte: with more than 255 targets it
// wraps while all targets are written, which makes a malformed packet.
std::vector<std::uint8_t> VoiceDatagram(std::uint8_t mode, std::uint8_t voice_byte,
                                        std::uint16_t voice_word, std::uint32_t connection_id,
                                        std::uint32_t player_id, std::uint16_t voice_counter,
                                        std::span<const WhisperTarget> targets,
                                        std::span<const std::uint8_t> data);

// Command builders, one per client request.
Command LoginStep3(const LoginStep3Request& request = {});
Command ChannelCreate(const ChannelFields& channel);
Command ChannelChangePassword(std::int32_t channel_id, const std::string& password);
Command ChannelChangeProperties(std::int32_t channel_id, std::uint16_t flags, std::uint16_t codec);
Command ChannelChangeName(std::int32_t channel_id, const std::string& name);
Command ChannelChangeTopic(std::int32_t channel_id, const std::string& topic);
Command ChannelChangeDescription(std::int32_t channel_id, const std::string& description);
Command ChannelDestroy(std::int32_t channel_id);
Command ChannelChangeMaxUsers(std::int32_t channel_id, std::uint16_t max_users);
Command ChannelChangeAll(std::int32_t channel_id, const ChannelFields& channel);
Command ChannelChangeOrder(std::int32_t channel_id, std::int16_t order);
Command PlayerQuit();
Command PlayerKick(std::uint32_t player_id, const std::string& reason);
Command PlayerKickFromChannel(std::uint32_t player_id, const std::string& reason);
Command PlayerChannelSwitch(std::int32_t channel_id, const std::string& password = "");
Command PlayerFlagsChanged(std::uint32_t flags);
Command PlayerRequestVoice(const std::string& text);
// action: 0 grant, 2 revoke; bit: 0 to 15.
Command PlayerChangeChannelPrivilege(std::uint32_t player_id, std::uint8_t action,
                                     std::uint8_t bit);
Command PlayerChangePrivilege(std::uint32_t player_id, std::uint8_t action, std::uint8_t bit);
Command PlayerRegister(const std::string& login_name, const std::string& password);
Command PlayerAdminRegister(const std::string& login_name, const std::string& password,
                            bool server_admin);
Command InfoRequestPlayerConnectionInfoOnId(std::uint32_t player_id);
Command InfoRequestServerInfo();
// channel_id negative: every player.
Command InfoSendText(const std::string& message, std::int32_t kind, std::int32_t channel_id);

}  // namespace voxhall::testing
