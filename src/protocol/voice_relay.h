// Voice relay: the server passes each compressed voice frame a player sends
// on to the players who may hear it, without decoding it. The frame's data is
// copied once per incoming packet into a relayed-packet image; each receiver
// gets a copy of that image with its own ids and mode byte.
//
// Voice from a client (0xBEF2):
//    0 Magic (uint16)   2 relay mode (0 own channel, 1 whisper, 2 parent)
//    3 voice byte       4 ConnectionId (uint32)   8 PlayerId of the speaker
//   12 VoiceCounter (uint16)   14 voice word (uint16)
//   16 modes 0 and 2: the voice data to the end of the datagram
//      whisper: 16 target count n (uint8), 17 n targets of 5 bytes (kind:
//      0 channel, 1 player; then the id as int32), then the voice data
//
// Relayed voice (0xBEF3), one per receiver:
//    0 Magic   2 mode (modes 0 and 2: the request's; whisper: the kind of the
//    target that selected the receiver)   3 voice byte
//    4 receiver's ConnectionId   8 receiver's PlayerId
//   12 VoiceCounter (the transport puts the receiving connection's own)
//   14 voice word   16 speaker's PlayerId (int32)   20 request's VoiceCounter
//   22 the voice data
//
// Runs on the listener thread with both list locks held.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "protocol/channel_rec.h"
#include "protocol/client_object.h"
#include "protocol/handler_context.h"
#include "transport/packet.h"

namespace voxhall::protocol {

inline constexpr std::uint8_t kVoiceToChannel = 0;
inline constexpr std::uint8_t kVoiceWhisper = 1;
inline constexpr std::uint8_t kVoiceToParentChannel = 2;
inline constexpr std::uint8_t kWhisperTargetChannel = 0;
inline constexpr std::uint8_t kWhisperTargetPlayer = 1;

// The relayed packet of one incoming voice packet, built once and stamped
// for each receiver.
class RelayedVoice {
 public:
  // `voice_data` is the data after the header (and whisper targets).
  RelayedVoice(const transport::Packet& incoming, std::int32_t speaker_id,
               std::span<const std::uint8_t> voice_data);
  // The packet for `receiver` with `mode` at offset 2.
  std::unique_ptr<transport::Packet> For(const ClientObject& receiver, std::uint8_t mode) const;
  // The same written into `packet`, reusing its buffer (a pooled packet).
  void Fill(transport::Packet& packet, const ClientObject& receiver, std::uint8_t mode) const;

 private:
  std::vector<std::uint8_t> image_;
};

// Whether `player`'s voice may be relayed into `channel`: false when either
// is missing; on a public server a player outside the channel must be in a
// sibling or a sub-channel of it; a moderated channel needs channel
// administrator, operator or voice, or server administrator.
bool CheckPlayerCanSpeakToChannel(HandlerContext& ctx, const ClientObject* player,
                                  const ChannelRec* channel);

// Entry for every voice packet: relays it by its mode.
void ProgressVoiceData(HandlerContext& ctx);

}  // namespace voxhall::protocol
