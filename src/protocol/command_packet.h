// Building the command packets the server sends to a player: the header the
// listener fills (magic, type, the receiver's connection and player id) and
// a zeroed payload of the packet's fixed size. The transport fills Sequence,
// ResendCount and Checksum when it sends the packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/client_object.h"
#include "transport/packet.h"

namespace voxhall::protocol {

// A command packet of `size` bytes (at least the 24-byte header) of `type`
// addressed to `receiver`.
std::unique_ptr<transport::Packet> NewCommandPacket(std::uint16_t type, std::size_t size,
                                                    const ClientObject& receiver);

}  // namespace voxhall::protocol
