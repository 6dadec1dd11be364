#include "protocol/client_object.h"

namespace voxhall::protocol {

std::uint16_t ExpandChannelPrivileges(std::uint16_t word) {
  if (word & kChannelPrivilegeAutoOperator) word |= kChannelPrivilegeOperator;
  if (word & kChannelPrivilegeAutoVoice) word |= kChannelPrivilegeVoice;
  return word;
}

void WritePlayerEntry(WireWriter& out, const ClientObject& player) {
  out.PutI32(player.PlayerId)
      .PutI32(player.ChannelId)
      .PutU16(player.ChannelPrivileges)
      .PutU16(player.Privileges)
      .PutU32(player.PlayerFlags)
      .PutText(player.NickName.str(), common::kNameCapacity);
}

std::optional<ClientObject> ReadPlayerEntry(WireReader& in) {
  ClientObject player;
  player.PlayerId = in.GetI32();
  player.ChannelId = in.GetI32();
  player.ChannelPrivileges = in.GetU16();
  player.Privileges = in.GetU16();
  player.PlayerFlags = in.GetU32();
  player.NickName = in.GetText(common::kNameCapacity);
  if (!in.ok()) return std::nullopt;
  return player;
}

}  // namespace voxhall::protocol
