// Text messages between players and the two information requests: the
// connection statistics of one player and the statistics of the virtual
// server. The answers go to the requester only.
//
// Requests (offsets from the first byte; 0..23 the command header):
//   430 text, 288 bytes: 24 message (text of 255), 280 kind (int32, passed
//       on unchanged), 284 target channel id (int32; negative = everybody)
//   400 connection information, 28 bytes: 24 player id (int32)
//   405 server information, 24 bytes: the header only
//
// Connection information (type 404), 164 bytes, about player t:
//    24 t's PlayerId (int32)     28 seconds since t's login (uint32)
//    32 loss in 1/100 % (uint16) 34 average round trip (uint16)
//    36 seconds since t's last packet (uint32)
//    40 t's version (4 x uint16)
//    48 packets sent to t   52 bytes sent to t   56 packets received from t
//    60 bytes received from t (all uint32)
//    64 t's address (text of 29) and 94 its UDP port (uint16), for server
//       administrators only (else empty and 0)
//    96 t's LoginName (text of 29)  126 ChannelId (int32)
//   130 ChannelPrivileges (uint16)  132 Privileges (uint16)
//   134 ClientPlatform (text of 29)
//
// Server information (type 406), 56 bytes:
//   24 seconds since the server started (uint32)  28 version (4 x uint16)
//   36 ServerType (uint16)   38 ServerFlags (uint16)
//   40 packets sent   44 bytes sent   48 packets received   52 bytes received
//   (uint32 each; a byte counter beyond 32 bits gives its low 32 bits)
//
// Handlers run on the listener thread with both list locks held.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "common/date_time.h"
#include "protocol/client_object.h"
#include "protocol/handler_context.h"
#include "protocol/server_data.h"
#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::protocol {

inline constexpr std::uint16_t kInfoRequestPlayerConnectionInfoOnId = 400;
inline constexpr std::uint16_t kInfoPlayerConnectionInfo = 404;
inline constexpr std::uint16_t kInfoRequestServerInfo = 405;
inline constexpr std::uint16_t kInfoServerInfo = 406;
inline constexpr std::uint16_t kInfoSendText = 430;

inline constexpr std::size_t kInfoSendTextSize = 288;
inline constexpr std::size_t kInfoRequestPlayerSize = 28;
inline constexpr std::size_t kPlayerConnectionInfoSize = 164;
inline constexpr std::size_t kServerInfoSize = 56;

// The connection information about `target` for `receiver`, as of `now`;
// `show_address` fills the address and port.
std::unique_ptr<transport::Packet> PlayerConnectionInfoPacket(
    const ClientObject& receiver, const ClientObject& target,
    const std::optional<transport::ConnectionStats>& stats, bool show_address,
    common::DateTime now);

// Text message to everybody, or to the players of one channel (-102 when it
// does not exist).
void CMD_cs_InfoSendText(HandlerContext& ctx);
// Connection statistics of one player (-100 when it is not online).
void CMD_cs_InfoRequestPlayerConnectionInfoOnId(HandlerContext& ctx);
// Statistics of the virtual server; any player may ask.
void CMD_cs_InfoRequestServerInfo(HandlerContext& ctx);

}  // namespace voxhall::protocol
