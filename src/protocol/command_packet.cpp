#include "protocol/command_packet.h"

#include <algorithm>
#include <stdexcept>

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

WireReader RequestPayload(const transport::Packet& request, std::size_t size) {
  if (request.Size() < size) throw std::out_of_range("command packet shorter than its request");
  return WireReader(request.Bytes(), transport::kCommandHeaderLength);
}

}  // namespace voxhall::protocol
