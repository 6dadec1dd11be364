#include "protocol/dispatch.h"

#include <algorithm>

#include "protocol/login.h"
#include "protocol/text_and_info.h"
#include "protocol/voice_relay.h"

namespace voxhall::protocol {

namespace {

using transport::PacketClass;

constexpr CommandEntry kCommands[] = {
    // Login (login.cpp). Step 3 handles a missing sender itself.
    {kLoginStep3, "CMD_cs_LoginStep3", CMD_cs_LoginStep3, false},
    // Text messages and information requests (text_and_info.cpp).
    {kInfoRequestPlayerConnectionInfoOnId, "CMD_cs_InfoRequestPlayerConnectionInfoOnId",
     CMD_cs_InfoRequestPlayerConnectionInfoOnId, true},
    {kInfoRequestServerInfo, "CMD_cs_InfoRequestServerInfo", CMD_cs_InfoRequestServerInfo, true},
    {kInfoSendText, "CMD_cs_InfoSendText", CMD_cs_InfoSendText, true},
};

// The two packets dispatched by their class rather than a command type.
constexpr CommandEntry kLoginRequest = {transport::kLoginRequestType, "CMD_cs_LoginStep1",
                                        CMD_cs_LoginStep1, false};
constexpr CommandEntry kVoice = {0, "ProgressVoiceData", ProgressVoiceData, true};

}  // namespace

std::span<const CommandEntry> CommandTable() { return kCommands; }

const CommandEntry* FindCommand(std::uint16_t type) {
  const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [type](const CommandEntry& e) { return e.type == type; });
  return it == std::end(kCommands) ? nullptr : &*it;
}

void Dispatch(HandlerContext& ctx) {
  if (!ctx.packet) return;
  switch (ctx.packet->Class()) {
    case PacketClass::VoiceC2SPacket:
      RunHandler(ctx, kVoice);
      break;
    case PacketClass::ConnectionPacket:
      if (ctx.packet->PacketType() == transport::kLoginRequestType) RunHandler(ctx, kLoginRequest);
      break;
    case PacketClass::CommandPacket:
      if (const CommandEntry* entry = FindCommand(ctx.packet->PacketType())) {
        RunHandler(ctx, *entry);
      }
      break;
    default:
      break;
  }
}

void RunHandler(HandlerContext& ctx, const CommandEntry& entry) {
  if (entry.needs_sender && !ctx.sender) return;
  Guarded(ctx, entry.name, [&] { entry.handler(ctx); });
}

}  // namespace voxhall::protocol
