// The record of one logged-in player of a virtual server, its privilege and
// flag bits, and the 46-byte player entry the login and channel-switch
// packets carry. Records live in the player list (ClientList) and are read
// and changed only under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/date_time.h"
#include "common/text.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

// Server privileges (ClientObject::Privileges).
inline constexpr std::uint16_t kPrivilegeServerAdmin = 1;       // passes every privilege check
inline constexpr std::uint16_t kPrivilegeMayRegister = 2;       // may register itself
inline constexpr std::uint16_t kPrivilegeRegistered = 4;        // logged in with a login name
inline constexpr std::uint16_t kPrivilegeSuperServerAdmin = 8;  // set by web administration only

// Privileges in the player's current channel (ClientObject::ChannelPrivileges).
inline constexpr std::uint16_t kChannelPrivilegeAdmin = 1;
inline constexpr std::uint16_t kChannelPrivilegeOperator = 2;
inline constexpr std::uint16_t kChannelPrivilegeVoice = 4;
inline constexpr std::uint16_t kChannelPrivilegeAutoOperator = 8;  // implies operator when loaded
inline constexpr std::uint16_t kChannelPrivilegeAutoVoice = 16;    // implies voice when loaded
inline constexpr std::uint16_t kChannelPrivilegeCreatorEntry = 32768;  // stored for a creator

// Flags the client publishes (ClientObject::PlayerFlags); the server changes these three.
inline constexpr std::uint32_t kPlayerFlagRelatedChannelsOnly = 1;  // kept only between related channels
inline constexpr std::uint32_t kPlayerFlagVoiceRequested = 2;
inline constexpr std::uint32_t kPlayerFlagNoWhisper = 4;

// A player. A new record has every field zero or empty. The user store's
// records fill only the login name, password, nickname, privileges,
// registered-by, logins, created and last-changed fields.
struct ClientObject {
  std::int32_t ConnectionId = 0;
  std::int32_t PlayerId = 0;  // 0 while not assigned
  std::int32_t ChannelId = 0;
  std::uint16_t ChannelPrivileges = 0;
  std::uint16_t Privileges = 0;
  std::uint32_t PlayerFlags = 0;
  common::NameText NickName;  // unique in the player list, letter case ignored
  common::NameText ClientName;
  common::NameText ClientPlatform;
  std::uint16_t VersionMajor = 0;
  std::uint16_t VersionMinor = 0;
  std::uint16_t VersionRelease = 0;
  std::uint16_t VersionBuild = 0;
  common::NameText LoginName;  // empty for an anonymous login
  common::NameText Password;
  common::NameText RegisteredBy;
  common::DateTime Created = 0;
  common::DateTime LastChanged = 0;
  std::int32_t Logins = 0;
  std::uint8_t LoginOption = 0;
  bool LeftAnnounced = false;
  common::DateTime LastPacketTime = 0;
  common::DateTime LoginTime = 0;
  bool LoginComplete = false;  // voice is relayed only from and to complete logins
};

// The channel privilege word as loaded for a channel: automatic operator and
// automatic voice add operator and voice.
std::uint16_t ExpandChannelPrivileges(std::uint16_t word);

// Player entry, 46 bytes, little-endian:
//   0 PlayerId (int32)            4 ChannelId (int32)
//   8 ChannelPrivileges (uint16) 10 Privileges (uint16)
//  12 PlayerFlags (uint32)       16 NickName (text of 29: length byte + 29)
inline constexpr std::size_t kPlayerEntrySize = 46;

void WritePlayerEntry(WireWriter& out, const ClientObject& player);
// The entry's fields in a new record, or nothing when fewer than 46 bytes remain.
std::optional<ClientObject> ReadPlayerEntry(WireReader& in);

}  // namespace voxhall::protocol
