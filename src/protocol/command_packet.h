// Building the command packets the server sends to a player, and reading
// the payload of a client's request. Sending: the header the
// listener fills (magic, type, the receiver's connection and player id) and
// a zeroed payload of the packet's fixed size. The transport fills Sequence,
// ResendCount and Checksum when it sends the packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/client_object.h"
#include "protocol/wire.h"
#include "transport/packet.h"

namespace voxhall::protocol {

// A command packet of `size` bytes (at least the 24-byte header) of `type`
// addressed to `receiver`.
std::unique_ptr<transport::Packet> NewCommandPacket(std::uint16_t type, std::size_t size,
                                                    const ClientObject& receiver);

// A reader of a client request's payload, positioned at offset 24. Throws
// std::out_of_range when the request is shorter than `size`, its layout's
// length, which fails the handler (logged) without an answer.
WireReader RequestPayload(const transport::Packet& request, std::size_t size);

}  // namespace voxhall::protocol
