// Rules that join the player list and the channel tree: which players see
// each other (every notification is addressed by it) and whether a player may
// enter a channel. Called by the command handlers on the listener thread,
// which holds the player-list lock and, inside it, the channel-list lock.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/channels.h"
#include "protocol/client_list.h"
#include "protocol/client_object.h"

namespace voxhall::protocol {

// Whether player `b` sees player `a` (the rule is symmetric). On a clan
// server (`server_type` has kServerTypeClan) everybody sees everybody;
// otherwise players see each other when their channels share a top-level
// channel. A missing player or channel gives false; a player always sees
// itself.
bool CheckClientInView(std::uint16_t server_type, const Channels& channels, const ClientObject* a,
                       const ClientObject* b);

// Whether a player may enter channel `channel_id` with `password`: 0 yes,
// kJoinWrongPassword for a wrong password, kErrorNoSuchChannel,
// kErrorPasswordNeeded (none given but the channel has one) or
// kErrorChannelFull. A sub-channel is guarded by its parent's password; its
// capacity counts only the players in the sub-channel itself. Server
// administrators skip this test where the commands say so.
std::int32_t CheckChannelJoin(const Channels& channels, const ClientList& clients,
                              std::int32_t channel_id, std::string_view password);

}  // namespace voxhall::protocol
