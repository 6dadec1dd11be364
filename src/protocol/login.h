// The login handshake: the login request and its reply, the client's third
// step with its preferred channel, the channel and player lists sent in
// answer, and the end of the login. The packet layouts are written here once,
// each next to the code that reads or writes it.
//
// Login request (connection packet, type 3), 180 bytes:
//    0 connection packet header (20)
//   20 client name (text of 29)       50 client platform (text of 29)
//   80 version major, minor, release, build (4 x uint16)
//   88 unique-nickname flag (uint8)   89 server-password flag (uint8)
//   90 login name (text of 29)       120 password (text of 29)
//  150 nickname (text of 29)
//
// Login reply (connection packet, type 4, header PlayerId = the new player
// id, ConnectionId 0), 372 bytes:
//   20 server name (text of 29)       50 server platform (text of 29)
//   80 server version (4 x uint16)    88 result (int32: 1 or a refusal code)
//   92 allowed codecs (uint32, bit n = codec n)    96 zero (uint32)
//  100 ServerType (uint16)           102 ServerFlags (uint16)
//  104 MaxUsers (int32)              108 connection id (int32)
//  112 player id (int32)             116 welcome message (text of 255)
//
// Login step 3 (command type 5), 116 bytes:
//   24 unused   25 login option (uint8)   26 channel name (text of 29)
//   56 sub-channel name (text of 29)      86 channel password (text of 29)
//
// Channel list (type 6), 556 bytes: 24 count (int32, 1 to 3), 28 three
// channel entries. Player list (type 7), 488 bytes: 24 count (int32, 1 to
// 10), 28 ten player entries. Login finished (type 8): the header only.
// The image of a list is zeroed once before its first packet, not between
// packets: slots past the count repeat entries of the previous packet.
//
// Handlers run on the listener thread with both list locks held.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/channel_rec.h"
#include "protocol/client_object.h"
#include "protocol/handler_context.h"
#include "protocol/server_data.h"
#include "transport/packet.h"

namespace voxhall::protocol {

inline constexpr std::uint16_t kLoginStep3 = 5;
inline constexpr std::uint16_t kLoginStep4 = 6;
inline constexpr std::uint16_t kLoginStep5 = 7;
inline constexpr std::uint16_t kLoginStep6 = 8;

inline constexpr std::size_t kLoginRequestSize = 180;
inline constexpr std::size_t kLoginRequestMinSize = 88;  // up to and including the version
inline constexpr std::size_t kLoginReplySize = 372;
inline constexpr std::size_t kLoginStep3Size = 116;
inline constexpr std::size_t kChannelListSize = 556;
inline constexpr std::size_t kChannelsPerPacket = 3;
inline constexpr std::size_t kPlayerListSize = 488;
inline constexpr std::size_t kPlayersPerPacket = 10;

struct LoginRequest {
  std::string client_name;
  std::string client_platform;
  std::uint16_t version_major = 0;
  std::uint16_t version_minor = 0;
  std::uint16_t version_release = 0;
  std::uint16_t version_build = 0;
  std::uint8_t unique_nickname = 0;
  std::uint8_t server_password_flag = 0;
  std::string login_name;
  std::string password;
  std::string nickname;
};

// The request's fields; nothing when the datagram is shorter than 88 bytes.
// A datagram that ends before offset 180 gives the fields it still holds,
// texts cut where it ends, and zero or empty fields beyond it.
std::optional<LoginRequest> ReadLoginRequest(std::span<const std::uint8_t> datagram);

// The reply. Without `server` (an early refusal) only the result, the
// connection id and the player id are filled; every other byte is zero.
std::unique_ptr<transport::Packet> LoginReplyPacket(const ServerData* server, std::int32_t result,
                                                    std::int32_t connection_id,
                                                    std::int32_t player_id);

struct LoginStep3Request {
  std::uint8_t login_option = 0;
  std::string channel_name;
  std::string sub_channel_name;
  std::string channel_password;
};

// Step 3's fields; nothing when the packet is shorter than 116 bytes.
std::optional<LoginStep3Request> ReadLoginStep3(std::span<const std::uint8_t> packet);

// The channel list (three per packet) and the player list (ten per packet)
// for `receiver`, in the order given.
std::vector<std::unique_ptr<transport::Packet>> ChannelListPackets(
    const ClientObject& receiver, std::span<const ChannelRec* const> channels);
std::vector<std::unique_ptr<transport::Packet>> PlayerListPackets(
    const ClientObject& receiver, std::span<const ClientObject* const> players);

// The login request: checks version, registered login, passwords, capacity
// and nickname, makes the connection and answers with the reply; an accepted
// player joins the player list with its login not yet complete.
void CMD_cs_LoginStep1(HandlerContext& ctx);
// Step 3: places the player (in its preferred channel when it may enter it),
// sends both lists and the end of the login, announces the player to the
// others and completes its login. Without a sender the connection is dropped.
void CMD_cs_LoginStep3(HandlerContext& ctx);

// The three answers of step 3, to the sender.
void CMD_sc_LoginStep4(HandlerContext& ctx);
void CMD_sc_LoginStep5(HandlerContext& ctx);
void CMD_sc_LoginStep6(HandlerContext& ctx);

}  // namespace voxhall::protocol
