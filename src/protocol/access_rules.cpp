#include "protocol/access_rules.h"

#include "protocol/error_codes.h"
#include "protocol/server_data.h"

namespace voxhall::protocol {

namespace {

// Id of the top-level channel the player is in, or none when its channel is gone.
bool TopLevelChannelOf(const Channels& channels, const ClientObject& player, std::int32_t& id) {
  const ChannelRec* channel = channels.FindChannel(player.ChannelId);
  if (channel == nullptr) return false;
  id = channel->IsTopLevel() ? channel->ID : channel->Parent;
  return true;
}

}  // namespace

bool CheckClientInView(std::uint16_t server_type, const Channels& channels, const ClientObject* a,
                       const ClientObject* b) {
  if (server_type & kServerTypeClan) return true;
  if (a == nullptr || b == nullptr) return false;
  if (a == b) return true;
  std::int32_t top_a = 0;
  std::int32_t top_b = 0;
  return TopLevelChannelOf(channels, *a, top_a) && TopLevelChannelOf(channels, *b, top_b) &&
         top_a == top_b;
}

std::int32_t CheckChannelJoin(const Channels& channels, const ClientList& clients,
                              std::int32_t channel_id, std::string_view password) {
  const ChannelRec* target = channels.FindChannel(channel_id);
  if (target == nullptr) return kErrorNoSuchChannel;
  const ChannelRec* guard = target;
  if (!target->IsTopLevel()) {
    if (const ChannelRec* parent = channels.FindChannel(target->Parent)) guard = parent;
  }
  if (!guard->Password.empty()) {
    if (password.empty()) return kErrorPasswordNeeded;
    if (guard->Password.str() != password) return kJoinWrongPassword;
  }
  if (clients.GetPlayersInChannel(channel_id) >= target->MaxUsers) return kErrorChannelFull;
  return 0;
}

}  // namespace voxhall::protocol
