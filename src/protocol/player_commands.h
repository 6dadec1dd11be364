// Player commands: a player leaves, moves between channels, publishes its
// flags, asks for voice and registers itself; players with the rights of
// privileges.h kick others and change channel and server privileges; a
// server administrator registers new users. The player notices, and who
// receives them, are here too.
//
// Requests (offsets from the first byte; 0..23 the command header; texts
// are length-prefixed fields of the given capacity):
//   300 quit, 24 bytes
//   301 kick, 302 kick from channel, 58 bytes: 24 player id (int32)  28 reason (29)
//   303 channel switch, 58 bytes: 24 channel id (int32)  28 channel password (29)
//   304 flags, 28 bytes: 24 PlayerFlags (uint32)
//   305 request voice, 54 bytes: 24 request text (29)
//   306 channel privilege, 307 server privilege, 30 bytes: 24 player id
//       28 action (uint8: 0 grant, 2 revoke)  29 bit number (uint8, 0..15)
//   308 register, 84 bytes: 24 login name (29)  54 password (29)
//   310 register another user, 85 bytes: 24 login name (29)  54 password (29)
//       84 server administrator (uint8, non-zero = yes)
//
// Notices (the header names the receiver):
//   102 kicked from channel, 68 bytes: 24 player id  28 old channel (int32)
//       32 new channel (int32)  36 new ChannelPrivileges (uint16)  38 reason (29)
//   103 switched channel, 38 bytes: 24 player id  28 old channel  32 new channel
//       36 ChannelPrivileges (uint16)
//   104 flags, 32 bytes: 24 player id  28 PlayerFlags (uint32)
//   105 voice requested, 58 bytes: 24 player id  28 request text (29)
//   106 channel privilege, 107 server privilege, 34 bytes: 24 player id
//       28 action (uint8)  29 bit number (uint8)  30 acting player (int32)
//   108 players in the channel switched to: the login player list's layout
//   311 registered OK, 24 bytes: the header only
//   -111 wrong channel password, 34 bytes: the 30-byte error answer, then
//       30 the requested channel id (int32)
// Actions 0 and 2 are a player's grant and revocation; 1 and 3 are the
// server's own follow-ups. Unless said otherwise a notice about player x
// goes to every player who sees x, x included.
//
// Handlers run on the listener thread with both list locks held.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/handler_context.h"

namespace voxhall::protocol {

inline constexpr std::uint16_t kPlayerQuit = 300;
inline constexpr std::uint16_t kPlayerKick = 301;
inline constexpr std::uint16_t kPlayerKickFromChannel = 302;
inline constexpr std::uint16_t kPlayerChannelSwitch = 303;
inline constexpr std::uint16_t kPlayerFlagsChanged = 304;
inline constexpr std::uint16_t kPlayerRequestVoice = 305;
inline constexpr std::uint16_t kPlayerChangeChannelPrivilege = 306;
inline constexpr std::uint16_t kPlayerChangePrivilege = 307;
inline constexpr std::uint16_t kPlayerRegister = 308;
inline constexpr std::uint16_t kPlayerAdminRegister = 310;

inline constexpr std::uint16_t kNotifyPlayerKickedFromChannel = 102;
inline constexpr std::uint16_t kNotifyPlayerSwitchedChannel = 103;
inline constexpr std::uint16_t kNotifyPlayerFlagsChanged = 104;
inline constexpr std::uint16_t kNotifyPlayerRequestedVoice = 105;
inline constexpr std::uint16_t kNotifyPlayerChannelPrivilegeChanged = 106;
inline constexpr std::uint16_t kNotifyPlayerPrivilegesChanged = 107;
inline constexpr std::uint16_t kNotifyPlayersInSwitchedChannel = 108;
inline constexpr std::uint16_t kPlayerAdminRegisteredOK = 311;

// Privilege change actions.
inline constexpr std::uint8_t kActionGrant = 0;
inline constexpr std::uint8_t kActionGrantedByServer = 1;
inline constexpr std::uint8_t kActionRevoke = 2;
inline constexpr std::uint8_t kActionRevokedByServer = 3;

// The sender leaves (reason 1); its record goes when its connection closes.
void CMD_cs_PlayerQuit(HandlerContext& ctx);
// Removes a player from the server (reason 2, the sender acting).
void CMD_cs_PlayerKick(HandlerContext& ctx);
// Sends a player to the default channel with the privileges stored for it there.
void CMD_cs_PlayerKickFromChannel(HandlerContext& ctx);
// Moves the sender to a channel it may enter (server administrators enter
// any); a wrong password is answered with the 34-byte -111.
void CMD_cs_PlayerChannelSwitch(HandlerContext& ctx);
void CMD_cs_PlayerFlagsChanged(HandlerContext& ctx);
// Asks for voice in a moderated channel (-130 elsewhere, -131 when asked already).
void CMD_cs_PlayerRequestVoice(HandlerContext& ctx);
// Grants or revokes a channel privilege of any player; automatic operator
// and automatic voice also grant operator and voice. A registered player's
// word is stored for its channel's top-level channel.
void CMD_cs_PlayerChangeChannelPrivilege(HandlerContext& ctx);
// Grants or revokes a server privilege of any player and saves its account.
// Server administrator and registration need a server administrator, super
// server administrator cannot be changed here; revoking registration
// deletes the account.
void CMD_cs_PlayerChangePrivilege(HandlerContext& ctx);
// The sender registers itself under a new login name.
void CMD_cs_PlayerRegister(HandlerContext& ctx);
// A server administrator registers a new user.
void CMD_cs_PlayerAdminRegister(HandlerContext& ctx);

// The notices.
void CMD_sc_NotifyPlayerSwitchedChannel(HandlerContext& ctx, std::int32_t player_id,
                                        std::int32_t old_channel, std::int32_t new_channel);
void CMD_sc_NotifyPlayersInSwitchedChannel(HandlerContext& ctx, std::int32_t player_id);
void CMD_sc_NotifyPlayerKickedFromChannel(HandlerContext& ctx, std::int32_t player_id,
                                          std::int32_t old_channel, std::string_view reason,
                                          std::uint16_t channel_privileges,
                                          std::int32_t new_channel);
void CMD_sc_NotifyPlayerFlagsChanged(HandlerContext& ctx, std::int32_t player_id);
void CMD_sc_NotifyPlayerRequestedVoice(HandlerContext& ctx, std::int32_t player_id,
                                       std::string_view text);
void CMD_sc_NotifyPlayerChannelPrivilegeChanged(HandlerContext& ctx, std::int32_t player_id,
                                                std::int32_t acting_player, std::uint8_t bit,
                                                std::uint8_t action);
void CMD_sc_NotifyPlayerPrivilegesChanged(HandlerContext& ctx, std::int32_t player_id,
                                          std::int32_t acting_player, std::uint8_t bit,
                                          std::uint8_t action);

}  // namespace voxhall::protocol
