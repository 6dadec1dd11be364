// One channel of a virtual server's channel tree, its flag and codec values,
// and the 176-byte channel entry the channel list and channel-created packets
// carry. Records are owned by the channel list (Channels) and read and changed
// only under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/text.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

// Channel flags (ChannelRec::Flags).
inline constexpr std::uint16_t kChannelFlagUnregistered = 1;  // never saved; removed when empty
inline constexpr std::uint16_t kChannelFlagModerated = 2;
inline constexpr std::uint16_t kChannelFlagPassword = 4;     // follows the Password field
inline constexpr std::uint16_t kChannelFlagSubChannels = 8;  // may have sub-channels
inline constexpr std::uint16_t kChannelFlagDefault = 16;     // new players start here

// Codec ids (ChannelRec::Codec); labels only, the server never decodes voice.
inline constexpr std::uint16_t kCodecCelp51 = 0;
inline constexpr std::uint16_t kCodecCelp63 = 1;
inline constexpr std::uint16_t kCodecGsm148 = 2;
inline constexpr std::uint16_t kCodecGsm164 = 3;
inline constexpr std::uint16_t kCodecWindowsCelp52 = 4;

// Parent of a top-level channel.
inline constexpr std::int32_t kNoParent = -1;

struct ChannelRec {
  std::int32_t ID = 0;  // unique within the server, never reused while it runs
  std::uint16_t Flags = 0;
  std::uint16_t Codec = 0;
  std::int32_t Parent = kNoParent;
  common::NameText Name;
  common::NameText Topic;
  common::DescriptionText Description;
  std::int16_t Order = 0;  // sort order for clients; stored and forwarded only
  std::uint16_t MaxUsers = 0;
  common::NameText Password;  // empty: no password
  common::DateTime Created = 0;
  common::DateTime LastChanged = 0;
  // For a top-level channel: stored channel privileges of registered users,
  // one "loginname=word" line each, the word in decimal.
  std::vector<std::string> UserAttribs;

  bool IsTopLevel() const { return Parent == kNoParent; }
  bool IsRegistered() const { return (Flags & kChannelFlagUnregistered) == 0; }
};

// Channel entry, 176 bytes, little-endian:
//    0 ID (int32)       4 Flags (uint16)   6 Codec (uint16)   8 Parent (int32)
//   12 Name (text of 29, 30 bytes)        42 Topic (text of 29, 30 bytes)
//   72 Description (text of 99, 100 bytes)
//  172 Order (int16)  174 MaxUsers (uint16)
// The password is not sent; flag 4 tells whether there is one.
inline constexpr std::size_t kChannelEntrySize = 176;

void WriteChannelEntry(WireWriter& out, const ChannelRec& channel);
// The entry's fields in a new record, or nothing when fewer than 176 bytes remain.
std::optional<ChannelRec> ReadChannelEntry(WireReader& in);

}  // namespace voxhall::protocol
