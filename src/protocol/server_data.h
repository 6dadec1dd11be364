// Settings and run-time counters of one virtual server: what the player and
// channel models and the command handlers need to know about their server.
// The virtual server owns one and fills it from its configuration section at
// start; the listener reads it and changes NextPlayerId under the player-list
// lock. Other threads read the settings only while the server is stopped.
#pragma once

#include <cstdint>

#include "common/date_time.h"
#include "common/text.h"

namespace voxhall::protocol {

// ServerType bits.
inline constexpr std::uint16_t kServerTypeClan = 1;    // every player sees every other
inline constexpr std::uint16_t kServerTypePublic = 2;  // channel-switch notices and voice rules

inline constexpr std::int32_t kDefaultUDPPort = 8767;

struct ServerData {
  common::NameText SectionName;  // configuration section name, the database's server id
  std::int32_t UDPPort = kDefaultUDPPort;
  common::NameText ServerName{"Voxhall Server"};
  common::NameText Platform;
  std::uint16_t VersionMajor = 2;
  std::uint16_t VersionMinor = 0;
  std::uint16_t VersionRelease = 18;
  std::uint16_t VersionBuild = 31;
  std::uint16_t ServerType = kServerTypeClan;
  common::LongText WelcomeMessage;
  bool AllowCodecCelp51 = true;
  bool AllowCodecCelp63 = true;
  bool AllowCodecGSM148 = true;
  bool AllowCodecGSM164 = true;
  bool AllowCodecWindowsCELP52 = true;
  std::uint16_t MaxUsers = 12;
  common::NameText Password;  // empty: no server password
  bool AllowFlaggedLogin = false;
  std::uint16_t ServerFlags = 2;
  common::DateTime StartTime = 0;
  common::LongText LinkURL;
  std::int32_t NextPlayerId = 1;  // next player id to hand out; see ClientList::GetNewPlayerID
};

// Codec of the channel created when no channel is stored: the last allowed of
// Windows CELP 5.2, CELP 6.3, GSM 14.8, GSM 16.4 in that order, else CELP 5.1.
std::uint16_t DefaultCodec(const ServerData& data);

// Whether codec id `codec` (0 to 4) is allowed on the server; ids above 4 are
// unknown labels and not restricted.
bool CodecAllowed(const ServerData& data, std::uint16_t codec);

}  // namespace voxhall::protocol
