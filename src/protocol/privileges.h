// Who may use which channel and player command: the one table of rights the
// command handlers consult, so that the privilege rules are read here and
// nowhere else. A handler first checks what its request names (the channel
// or player must exist, and so on), then asks CheckCommandRights with the
// facts of its request at the point where its rights are due; the first row
// of its command that applies and is not met gives the refusal code.
//
// The sender's channel privileges are always those of the channel the
// sender is in, whatever channel or player the request names.
//
// Called on the listener thread.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/client_object.h"
#include "protocol/handler_context.h"

namespace voxhall::protocol {

// ServerFlags bits.
inline constexpr std::uint16_t kServerFlagOpenRegistration = 1;  // anybody may register itself
inline constexpr std::uint16_t kServerFlagOpenChannelCreation = 2;  // anybody may create top-level channels

// A right a sender may hold.
enum class Right : std::uint8_t {
  // Channel administrator or operator in its channel, or server administrator.
  kChannelOperator,
  // Channel administrator in its channel, or server administrator.
  kChannelAdmin,
  kServerAdmin,
  // Nobody over the voice protocol (only the administration interfaces).
  kNobody,
  // Not registered yet.
  kUnregistered,
  // Open registration on the server, or the player's may-register privilege.
  kMayRegister,
};

// When a row applies, judged from the request's facts.
enum class When : std::uint8_t {
  kAlways,
  kRegisteredChannel,   // the request creates a registered channel
  kDefaultFlag,         // the request's flags carry the default flag
  kTopLevel,            // the channel created or named is top-level
  kTopLevelClosed,      // top-level, and the server does not let anybody create channels
  kSubChannel,          // the channel created is a sub-channel
  kAdminOrRegisteredBit,  // a server privilege change of bit 0 or bit 2
  kSuperAdminBit,         // a server privilege change of bit 3
};

struct RightRule {
  std::uint16_t command;  // the request's command type
  When when;
  Right needed;
  std::int32_t refusal;  // the error code when the right is missing
};

// What the rows may ask about the request.
struct RequestFacts {
  bool top_level = false;
  bool registered_channel = false;
  bool default_flag = false;
  int privilege_bit = -1;  // server privilege bit a request changes, or -1
};

// Every row, by command in table order.
std::span<const RightRule> RightRules();

// Whether `sender` holds `right` on a server with `server_flags`.
bool HasRight(const ClientObject& sender, Right right, std::uint16_t server_flags);

// 0 when `sender` may send `command` with these facts, else the refusal code
// of the first row that applies and is not met. A command without rows is
// open to every player.
std::int32_t CheckCommandRights(const ClientObject& sender, std::uint16_t command,
                                const RequestFacts& facts, std::uint16_t server_flags);

// Answers the request being handled with its refusal code when its sender
// lacks the rights its command needs with these facts; true when refused.
bool RefuseWithoutRights(HandlerContext& ctx, const RequestFacts& facts = {});

bool IsServerAdmin(const ClientObject& player);
bool IsRegistered(const ClientObject& player);

}  // namespace voxhall::protocol
