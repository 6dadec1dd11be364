// Channel commands: players with the rights of privileges.h create, change
// and delete channels while the server runs, and every player who should
// know is told. The channel notices other families reuse are here too.
//
// Requests (offsets from the first byte; 0..23 the command header; texts
// are length-prefixed fields of the given capacity):
//   201 create, 226 bytes: 24 flags (uint16)  26 codec (uint16)
//       28 parent id (int32, -1 top-level)  32 name (29)  62 topic (29)
//       92 description (99)  192 password (29)  222 order (int16)
//       224 max users (uint16)
//   203 password, 58 bytes: 24 channel id (int32)  28 password (29; empty removes it)
//   205 properties, 32 bytes: 24 channel id  28 flags (uint16)  30 codec (uint16)
//   206 name, 207 topic, 58 bytes: 24 channel id  28 text (29)
//   208 description, 128 bytes: 24 channel id  28 description (99)
//   209 destroy, 28 bytes: 24 channel id
//   210 max users, 30 bytes: 24 channel id  28 max users (uint16)
//   211 change all, 230 bytes: 24 channel id  28 flags (uint16)  30 codec (uint16)
//       32 unused (4)  36 name (29)  66 topic (29)  96 description (99)
//       196 order (int16)  198 max users (uint16)  200 password (29)
//   212 order, 30 bytes: 24 channel id  28 order (int16)
// (201 has the password before order and max users, 211 after them.)
//
// Notices (the header names the receiver; "acting" is the player who made
// the change, 0 for the server):
//   110 created, 204 bytes: 24 channel entry (176)  200 acting (int32) - everybody
//   111 name, 112 topic, 62 bytes: 24 channel id  28 text (29)  58 acting
//   113 properties, 36 bytes: 24 channel id  28 flags  30 codec  32 acting - everybody
//   114 description, 132 bytes: 24 channel id  28 description (99)  128 acting
//   116 max users, 34 bytes: 24 channel id  28 max users (uint16)  30 acting
//   117 order, 34 bytes: 24 channel id  28 order (int16)  30 acting
//   204 password changed, 28 bytes: 24 channel id - to the sender only
// 111, 112, 114, 116 and 117 go to the players who see the acting player.
// Every notice carries the channel's values as they are when it is sent.
//
// Handlers run on the listener thread with both list locks held.
#pragma once

#include <cstdint>

#include "protocol/handler_context.h"

namespace voxhall::protocol {

inline constexpr std::uint16_t kChannelCreate = 201;
inline constexpr std::uint16_t kChannelChangePassword = 203;
inline constexpr std::uint16_t kChannelChangeProperties = 205;
inline constexpr std::uint16_t kChannelChangeName = 206;
inline constexpr std::uint16_t kChannelChangeTopic = 207;
inline constexpr std::uint16_t kChannelChangeDescription = 208;
inline constexpr std::uint16_t kChannelDestroy = 209;
inline constexpr std::uint16_t kChannelChangeMaxUsers = 210;
inline constexpr std::uint16_t kChannelChangeAll = 211;
inline constexpr std::uint16_t kChannelChangeOrder = 212;

inline constexpr std::uint16_t kNotifyChannelCreated = 110;
inline constexpr std::uint16_t kNotifyChannelNameChanged = 111;
inline constexpr std::uint16_t kNotifyChannelTopicChanged = 112;
inline constexpr std::uint16_t kNotifyChannelPropertiesChanged = 113;
inline constexpr std::uint16_t kNotifyChannelDescriptionChanged = 114;
inline constexpr std::uint16_t kNotifyChannelMaxUsersChanged = 116;
inline constexpr std::uint16_t kNotifyChannelOrderChanged = 117;
inline constexpr std::uint16_t kChannelPasswordChanged = 204;

// Creates a channel. A player who is not a server administrator creates
// only unregistered channels; a new unregistered top-level channel takes its
// creator in, and a creator without channel administrator becomes its
// channel administrator. The channel the creator left is removed when it is
// an empty unregistered channel.
void CMD_cs_ChannelCreate(HandlerContext& ctx);
// Sets or removes a (top-level) channel's password, confirms it to the
// sender and announces the properties.
void CMD_cs_ChannelChangePassword(HandlerContext& ctx);
// Sets flags and codec of a top-level channel. The default flag can move to
// this channel but never leave the default channel this way (-117), so the
// server always has a channel for new players.
void CMD_cs_ChannelChangeProperties(HandlerContext& ctx);
void CMD_cs_ChannelChangeName(HandlerContext& ctx);
void CMD_cs_ChannelChangeTopic(HandlerContext& ctx);
void CMD_cs_ChannelChangeDescription(HandlerContext& ctx);
void CMD_cs_ChannelChangeMaxUsers(HandlerContext& ctx);
void CMD_cs_ChannelChangeOrder(HandlerContext& ctx);
// Deletes a channel and its sub-channels; refused (-109) while any channel
// of that tree has players, so nobody is left in a channel that is gone.
void CMD_cs_ChannelDestroy(HandlerContext& ctx);
// Changes every property at once and announces each one that changed.
// Flag 4 with an empty password keeps the current password.
void CMD_cs_ChannelChangeAll(HandlerContext& ctx);

// The notices; nothing is sent for a channel that does not exist.
void CMD_sc_NotifyChannelCreated(HandlerContext& ctx, std::int32_t channel_id,
                                 std::int32_t acting_player);
// Also takes away, from every player in this very channel when it is not
// moderated, the voice request, operator and voice (each change announced).
void CMD_sc_NotifyChannelPropertiesChanged(HandlerContext& ctx, std::int32_t channel_id,
                                           std::int32_t acting_player);
void CMD_sc_NotifyChannelNameChanged(HandlerContext& ctx, std::int32_t channel_id,
                                     std::int32_t acting_player);
void CMD_sc_NotifyChannelTopicChanged(HandlerContext& ctx, std::int32_t channel_id,
                                      std::int32_t acting_player);
void CMD_sc_NotifyChannelDescriptionChanged(HandlerContext& ctx, std::int32_t channel_id,
                                            std::int32_t acting_player);
void CMD_sc_NotifyChannelMaxUsersChanged(HandlerContext& ctx, std::int32_t channel_id,
                                         std::int32_t acting_player);
void CMD_sc_NotifyChannelOrderChanged(HandlerContext& ctx, std::int32_t channel_id,
                                      std::int32_t acting_player);

}  // namespace voxhall::protocol
