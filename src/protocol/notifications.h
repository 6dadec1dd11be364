// The notices the server sends to players about others and the error answer
// to a refused request: each packet layout is written once here, next to the
// function that sends it. Broadcast is the one loop over receivers; it keeps
// the failure of one receiver (a full queue) from costing the others their
// notice.
//
// Called on the listener thread (and by RemoveAllClients on the stopping
// thread) with the player-list lock held and, for the handlers, the
// channel-list lock inside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "protocol/client_object.h"
#include "protocol/handler_context.h"
#include "transport/packet.h"

namespace voxhall::protocol {

// Server-to-client notice types.
inline constexpr std::uint16_t kNotifyPlayerEnteredScope = 100;
inline constexpr std::uint16_t kNotifyPlayerLeftScope = 101;
inline constexpr std::uint16_t kNotifyChannelDestroyed = 115;

// Reasons carried by the left-scope notice.
inline constexpr std::uint16_t kLeftQuit = 1;
inline constexpr std::uint16_t kLeftKicked = 2;
inline constexpr std::uint16_t kLeftTimeout = 3;
inline constexpr std::uint16_t kLeftServerStopped = 4;
inline constexpr std::uint16_t kLeftSwitchedOutOfView = 6;

// Calls `notify(p)` for every player p of the list in list order. Each call
// runs in its own exception boundary logged under `name`, so one failing
// receiver does not stop the others. `notify` decides whether p is a
// receiver and sends it its packet.
template <typename Notify>
void Broadcast(HandlerContext& ctx, std::string_view name, Notify&& notify) {
  for (const auto& p : ctx.clients.items()) {
    Guarded(ctx, name, [&] { notify(*p); });
  }
}

// Error answer, 30 bytes: header with PacketType = the (negative) code,
//   24 refused command type (int16)   26 refused request's Sequence (uint32)
std::unique_ptr<transport::Packet> ErrorPacket(const ClientObject& receiver, std::int16_t code,
                                               std::int16_t refused_type,
                                               std::uint32_t refused_sequence);
// Sends the error answer to the sender; nothing without a sender.
void CMD_sc_ErrorPacket(HandlerContext& ctx, std::int32_t code, std::int16_t refused_type,
                        std::uint32_t refused_sequence);
// The error answer to the request being handled, echoing its type and sequence.
void RefuseRequest(HandlerContext& ctx, std::int32_t code);

// Entered-scope notice, 70 bytes: 24 the player entry of `player`.
std::unique_ptr<transport::Packet> EnteredScopePacket(const ClientObject& receiver,
                                                      const ClientObject& player);
// Tells every player who sees `player_id`, except that player, that it came
// into view.
void CMD_sc_NotifyPlayerEnteredScope(HandlerContext& ctx, std::int32_t player_id);

// Left-scope notice, 64 bytes:
//   24 player id (int32)  28 reason (uint16)  30 acting player (int32)
//   34 message (text of 29)
std::unique_ptr<transport::Packet> LeftScopePacket(const ClientObject& receiver,
                                                   std::int32_t player_id, std::uint16_t reason,
                                                   std::int32_t acting_player,
                                                   std::string_view message);
// Tells every player who sees the leaving player, itself included (with
// close-after, which ends its connection), that it left; marks it
// announced. Nothing when it was announced already or is not online.
void CMD_sc_NotifyPlayerLeftScope(HandlerContext& ctx, std::int32_t player_id,
                                  std::uint16_t reason, std::int32_t acting_player,
                                  std::string_view message);

// Channel-destroyed notice, 30 bytes: 24 channel id (int16)  26 acting player (int32).
// Sent to every player; nothing for a negative id.
void CMD_sc_NotifyChannelDestroyed(HandlerContext& ctx, std::int32_t channel_id,
                                   std::int32_t acting_player);

// Sends a text message (layout in text_message.h) to every player, the
// sender included: all of them for a negative channel id, else the players
// in that channel. Nothing when the channel does not exist.
void CMD_sc_NotifyTextMessage(HandlerContext& ctx, std::string_view message, std::int32_t kind,
                              std::string_view sender_name, std::int32_t channel_id);

}  // namespace voxhall::protocol
