// Error codes the voice protocol answers refused requests with: the login
// result of the second login step, and the type of an error packet otherwise.
// Shared by the player and channel models and by the command handlers.
// Constants only; usable from any thread.
#pragma once

#include <cstdint>

namespace voxhall::protocol {

// Login results.
inline constexpr std::int32_t kLoginAccepted = 1;
inline constexpr std::int32_t kLoginBadPasswordOrNickname = -1;
inline constexpr std::int32_t kLoginServerFull = -2;
inline constexpr std::int32_t kLoginNicknameInUse = -4;
inline constexpr std::int32_t kLoginVersionTooOld = -5;
inline constexpr std::int32_t kLoginNotRegistered = -21;

// Error packet codes.
inline constexpr std::int32_t kErrorNoSuchPlayer = -100;
inline constexpr std::int32_t kErrorNoSuchChannel = -102;
inline constexpr std::int32_t kErrorParentNotFound = -103;
inline constexpr std::int32_t kErrorCodecNotAllowed = -108;
inline constexpr std::int32_t kErrorChannelHasPlayers = -109;
inline constexpr std::int32_t kErrorPasswordNeeded = -110;
inline constexpr std::int32_t kErrorWrongChannelPassword = -111;
inline constexpr std::int32_t kErrorChannelFull = -113;
inline constexpr std::int32_t kErrorChannelNameExists = -114;
inline constexpr std::int32_t kErrorNoSubChannelsAllowed = -115;
inline constexpr std::int32_t kErrorDefaultChannel = -117;
inline constexpr std::int32_t kErrorSubChannelPassword = -120;
inline constexpr std::int32_t kErrorParentIsSubChannel = -122;
inline constexpr std::int32_t kErrorTopLevelOnly = -123;
inline constexpr std::int32_t kErrorNotModerated = -130;
inline constexpr std::int32_t kErrorVoiceAlreadyRequested = -131;
inline constexpr std::int32_t kErrorRegistrationNotAllowed = -140;
inline constexpr std::int32_t kErrorStoringUserFailed = -141;
inline constexpr std::int32_t kErrorAlreadyRegistered = -143;
inline constexpr std::int32_t kErrorServerAdminNeeded = -1000;
inline constexpr std::int32_t kErrorOperatorNeeded = -1007;
inline constexpr std::int32_t kErrorChannelAdminNeeded = -1008;
inline constexpr std::int32_t kErrorAlreadyChannelAdmin = -1021;
inline constexpr std::int32_t kErrorAlreadyOperator = -1022;
inline constexpr std::int32_t kErrorAlreadyVoice = -1023;
inline constexpr std::int32_t kErrorAutoPrivilegeNeedsRegistration = -1035;

// CheckChannelJoin's answer for a wrong channel password (not an error packet
// code: the channel switch answers it with its own packet).
inline constexpr std::int32_t kJoinWrongPassword = 1;

}  // namespace voxhall::protocol
