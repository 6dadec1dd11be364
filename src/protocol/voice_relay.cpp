#include "protocol/voice_relay.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "transport/fifo_list.h"

namespace voxhall::protocol {

using transport::Packet;

namespace {

constexpr std::size_t kModeOffset = 2;
constexpr std::size_t kVoiceByteOffset = 3;
constexpr std::size_t kVoiceWordOffset = 14;
constexpr std::size_t kVoiceDataOffset = 16;
constexpr std::size_t kTargetCountOffset = 16;
constexpr std::size_t kFirstTargetOffset = 17;
constexpr std::size_t kTargetSize = 5;
constexpr std::size_t kSpeakerOffset = 16;
constexpr std::size_t kSpeakerCounterOffset = 20;

constexpr const char* kToChannelNoMemory =
    "TVHUDPListener.ProgressVoiceData_SendVoiceDataToChannel, unable to allocate memory";
constexpr const char* kToParentNoMemory =
    "TVHUDPListener.ProgressVoiceData_SendVoiceDataToParentChannel, unable to allocate memory";
constexpr const char* kNoParentChannel =
    "TVHUDPListener.ProgressVoiceData_SendVoiceDataToParentChannel, unable to get parentchannel";

constexpr std::uint16_t kMayTalkInModerated =
    kChannelPrivilegeAdmin | kChannelPrivilegeOperator | kChannelPrivilegeVoice;

struct Receiver {
  const ClientObject* player;
  std::uint8_t mode;
};

// Stamps a copy of the frame for each receiver into packets from the
// buffer's pool and queues them all with one lock acquisition; the thread
// handling the event then writes them, or else the sender is woken once.
// Receivers whose queues are full miss the frame.
void SendCopies(HandlerContext& ctx, const char* name, const RelayedVoice& voice,
                const std::vector<Receiver>& receivers) {
  if (receivers.empty()) return;
  std::vector<std::unique_ptr<Packet>> copies;
  Guarded(ctx, name, [&] {
    ctx.buffer.Pool().Take(receivers.size(), copies);
    for (std::size_t i = 0; i < receivers.size(); ++i) {
      voice.Fill(*copies[i], *receivers[i].player, receivers[i].mode);
    }
  });
  if (copies.size() != receivers.size()) return;
  ctx.queued_voice = true;
  // One line for the frame, however many receivers were backed up: an
  // overloaded relay must not spend its time building log lines.
  if (ctx.buffer.SendAll(copies, !ctx.writes_after_event) > 0) {
    ctx.LogListenerError(name, transport::FIFOListError("Can't allocate needed memory"));
  }
}

// Modes 0 and 2: the players of the speaker's own channel hear it, provided
// the speaker may speak to `permission_channel`.
void RelayToOwnChannel(HandlerContext& ctx, const char* name, const ChannelRec* permission_channel,
                       const RelayedVoice& voice, std::uint8_t mode) {
  const ClientObject& speaker = *ctx.sender;
  if (!speaker.LoginComplete) return;
  if (!CheckPlayerCanSpeakToChannel(ctx, &speaker, permission_channel)) return;
  std::vector<Receiver> receivers;
  receivers.reserve(ctx.clients.items().size());
  for (const auto& r : ctx.clients.items()) {
    if (r.get() == &speaker || r->ChannelId != speaker.ChannelId || !r->LoginComplete) continue;
    receivers.push_back({r.get(), mode});
  }
  SendCopies(ctx, name, voice, receivers);
}

void SendVoiceDataToChannel(HandlerContext& ctx) {
  const Packet& in = *ctx.packet;
  if (in.Size() <= kVoiceDataOffset) {
    ctx.LogVoiceWarning(kToChannelNoMemory);
    return;
  }
  const RelayedVoice voice(in, ctx.sender->PlayerId, in.Bytes().subspan(kVoiceDataOffset));
  RelayToOwnChannel(ctx, "ProgressVoiceData_SendVoiceDataToChannel",
                    ctx.channels.FindChannel(ctx.sender->ChannelId), voice, kVoiceToChannel);
}

void SendVoiceDataToParentChannel(HandlerContext& ctx) {
  const Packet& in = *ctx.packet;
  if (in.Size() <= kVoiceDataOffset) {
    ctx.LogVoiceWarning(kToParentNoMemory);
    return;
  }
  const RelayedVoice voice(in, ctx.sender->PlayerId, in.Bytes().subspan(kVoiceDataOffset));
  const ChannelRec* own = ctx.channels.FindChannel(ctx.sender->ChannelId);
  const ChannelRec* parent = own ? ctx.channels.FindChannel(own->Parent) : nullptr;
  if (!parent) {
    ctx.LogVoiceWarning(kNoParentChannel);
    return;
  }
  RelayToOwnChannel(ctx, "ProgressVoiceData_SendVoiceDataToParentChannel", parent, voice,
                    kVoiceToParentChannel);
}

struct WhisperTarget {
  std::uint8_t kind;
  std::int32_t id;
};

// The targets in request order, a target named again with the same kind and
// id left out: repeating a target must not multiply the frames its players
// receive.
std::vector<WhisperTarget> ReadWhisperTargets(const Packet& in, std::size_t count) {
  if (in.Size() < kFirstTargetOffset + count * kTargetSize) {
    throw std::out_of_range("voice packet shorter than its whisper targets");
  }
  std::vector<WhisperTarget> targets;
  std::vector<std::uint64_t> seen;  // sorted (kind, id) keys
  targets.reserve(count);
  seen.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kFirstTargetOffset + i * kTargetSize;
    const WhisperTarget t{in.Data()[at], static_cast<std::int32_t>(in.U32At(at + 1))};
    const std::uint64_t key = (std::uint64_t{t.kind} << 32) | static_cast<std::uint32_t>(t.id);
    const auto pos = std::lower_bound(seen.begin(), seen.end(), key);
    if (pos != seen.end() && *pos == key) continue;
    seen.insert(pos, key);
    targets.push_back(t);
  }
  return targets;
}

void SendVoiceDataWhisper(HandlerContext& ctx) {
  const Packet& in = *ctx.packet;
  if (in.Size() <= kTargetCountOffset) throw std::out_of_range("voice packet without targets");
  const std::size_t count = in.Data()[kTargetCountOffset];
  if (count == 0) return;
  const std::vector<WhisperTarget> targets = ReadWhisperTargets(in, count);
  const std::size_t data_offset = kFirstTargetOffset + count * kTargetSize;
  if (in.Size() <= data_offset) return;  // no voice data: nothing to relay
  const ClientObject& speaker = *ctx.sender;
  const RelayedVoice voice(in, speaker.PlayerId, in.Bytes().subspan(data_offset));

  // Receivers in target order; a player named as a target and also inside a
  // target channel hears the frame once for each.
  std::vector<Receiver> receivers;
  for (const WhisperTarget& t : targets) {
    if (t.kind == kWhisperTargetPlayer) {
      if (t.id == speaker.PlayerId) continue;
      if (const ClientObject* p = ctx.clients.GetClientObject(t.id)) {
        receivers.push_back({p, kWhisperTargetPlayer});
      }
    } else if (t.kind == kWhisperTargetChannel) {
      const ChannelRec* channel = ctx.channels.FindChannel(t.id);
      if (!channel || !CheckPlayerCanSpeakToChannel(ctx, &speaker, channel)) continue;
      for (const auto& p : ctx.clients.items()) {
        if (p->ChannelId == t.id && p.get() != &speaker) {
          receivers.push_back({p.get(), kWhisperTargetChannel});
        }
      }
    }
  }
  std::erase_if(receivers, [](const Receiver& r) {
    return (r.player->PlayerFlags & kPlayerFlagNoWhisper) || !r.player->LoginComplete;
  });
  SendCopies(ctx, "ProgressVoiceData_SendVoiceDataWhisper", voice, receivers);
}

}  // namespace

RelayedVoice::RelayedVoice(const Packet& incoming, std::int32_t speaker_id,
                           std::span<const std::uint8_t> voice_data)
    : image_(transport::kVoiceS2CHeaderLength + voice_data.size()) {
  auto put16 = [this](std::size_t at, std::uint16_t v) {
    image_[at] = static_cast<std::uint8_t>(v);
    image_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  put16(transport::kMagicOffset, transport::kVoiceS2CMagic);
  image_[kVoiceByteOffset] = incoming.Data()[kVoiceByteOffset];
  const std::uint16_t counter = incoming.VoiceCounter();
  put16(transport::kVoiceCounterOffset, counter);
  put16(kVoiceWordOffset, incoming.U16At(kVoiceWordOffset));
  const auto speaker = static_cast<std::uint32_t>(speaker_id);
  put16(kSpeakerOffset, static_cast<std::uint16_t>(speaker));
  put16(kSpeakerOffset + 2, static_cast<std::uint16_t>(speaker >> 16));
  put16(kSpeakerCounterOffset, counter);
  std::copy(voice_data.begin(), voice_data.end(),
            image_.begin() + transport::kVoiceS2CHeaderLength);
}

std::unique_ptr<Packet> RelayedVoice::For(const ClientObject& receiver, std::uint8_t mode) const {
  auto packet = std::make_unique<Packet>();
  Fill(*packet, receiver, mode);
  return packet;
}

void RelayedVoice::Fill(Packet& packet, const ClientObject& receiver, std::uint8_t mode) const {
  packet.Assign(image_);
  packet.Buffer()[kModeOffset] = mode;
  packet.SetConnectionId(static_cast<std::uint32_t>(receiver.ConnectionId));
  packet.SetPlayerId(static_cast<std::uint32_t>(receiver.PlayerId));
}

bool CheckPlayerCanSpeakToChannel(HandlerContext& ctx, const ClientObject* player,
                                  const ChannelRec* channel) {
  bool may = true;
  Guarded(ctx, "CheckPlayerCanSpeakToChannel", [&] {
    if (!player || !channel) {
      may = false;
      return;
    }
    if ((ctx.server.ServerType & kServerTypePublic) && player->ChannelId != channel->ID) {
      const ChannelRec* own = ctx.channels.FindChannel(player->ChannelId);
      if (!own || (own->Parent != channel->Parent && own->Parent != channel->ID)) {
        may = false;
        return;
      }
    }
    if (channel->Flags & kChannelFlagModerated) {
      may = (player->ChannelPrivileges & kMayTalkInModerated) ||
            (player->Privileges & kPrivilegeServerAdmin);
    }
  });
  return may;
}

void ProgressVoiceData(HandlerContext& ctx) {
  switch (ctx.packet->Data()[kModeOffset]) {
    case kVoiceToChannel:
      Guarded(ctx, "ProgressVoiceData_SendVoiceDataToChannel",
              [&] { SendVoiceDataToChannel(ctx); });
      break;
    case kVoiceWhisper:
      Guarded(ctx, "ProgressVoiceData_SendVoiceDataWhisper", [&] { SendVoiceDataWhisper(ctx); });
      break;
    case kVoiceToParentChannel:
      Guarded(ctx, "ProgressVoiceData_SendVoiceDataToParentChannel",
              [&] { SendVoiceDataToParentChannel(ctx); });
      break;
    default:
      break;
  }
}

}  // namespace voxhall::protocol
