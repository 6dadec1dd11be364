#include "protocol/command_packet.h"

#include <algorithm>

namespace voxhall::protocol {

std::unique_ptr<transport::Packet> NewCommandPacket(std::uint16_t type, std::size_t size,
                                                    const ClientObject& receiver) {
  auto packet = std::make_unique<transport::Packet>();
  packet->Resize(std::max(size, transport::kCommandHeaderLength));
  packet->SetU16At(transport::kMagicOffset, transport::kCommandMagic);
  packet->SetPacketType(type);
  packet->SetConnectionId(static_cast<std::uint32_t>(receiver.ConnectionId));
  packet->SetPlayerId(static_cast<std::uint32_t>(receiver.PlayerId));
  return packet;
}

}  // namespace voxhall::protocol
