#include "protocol/dispatch.h"

#include <algorithm>

#include "protocol/channel_commands.h"
#include "protocol/login.h"
#include "protocol/player_commands.h"
#include "protocol/text_and_info.h"
#include "protocol/voice_relay.h"

namespace voxhall::protocol {

namespace {

using transport::PacketClass;

constexpr CommandEntry kCommands[] = {
    // Login (login.cpp). Step 3 handles a missing sender itself.
    {kLoginStep3, "CMD_cs_LoginStep3", CMD_cs_LoginStep3, false},
    // Channel commands (channel_commands.cpp).
    {kChannelCreate, "CMD_cs_ChannelCreate", CMD_cs_ChannelCreate, true},
    {kChannelChangePassword, "CMD_cs_ChannelChangePassword", CMD_cs_ChannelChangePassword, true},
    {kChannelChangeProperties, "CMD_cs_ChannelChangeProperties", CMD_cs_ChannelChangeProperties,
     true},
    {kChannelChangeName, "CMD_cs_ChannelChangeName", CMD_cs_ChannelChangeName, true},
    {kChannelChangeTopic, "CMD_cs_ChannelChangeTopic", CMD_cs_ChannelChangeTopic, true},
    {kChannelChangeDescription, "CMD_cs_ChannelChangeDescription",
     CMD_cs_ChannelChangeDescription, true},
    {kChannelDestroy, "CMD_cs_ChannelDestroy", CMD_cs_ChannelDestroy, true},
    {kChannelChangeMaxUsers, "CMD_cs_ChannelChangeMaxUsers", CMD_cs_ChannelChangeMaxUsers, true},
    {kChannelChangeAll, "CMD_cs_ChannelChangeAll", CMD_cs_ChannelChangeAll, true},
    {kChannelChangeOrder, "CMD_cs_ChannelChangeOrder", CMD_cs_ChannelChangeOrder, true},
    // Player commands (player_commands.cpp).
    {kPlayerQuit, "CMD_cs_PlayerQuit", CMD_cs_PlayerQuit, true},
    {kPlayerKick, "CMD_cs_PlayerKick", CMD_cs_PlayerKick, true},
    {kPlayerKickFromChannel, "CMD_cs_PlayerKickFromChannel", CMD_cs_PlayerKickFromChannel, true},
    {kPlayerChannelSwitch, "CMD_cs_PlayerChannelSwitch", CMD_cs_PlayerChannelSwitch, true},
    {kPlayerFlagsChanged, "CMD_cs_PlayerFlagsChanged", CMD_cs_PlayerFlagsChanged, true},
    {kPlayerRequestVoice, "CMD_cs_PlayerRequestVoice", CMD_cs_PlayerRequestVoice, true},
    {kPlayerChangeChannelPrivilege, "CMD_cs_PlayerChangeChannelPrivilege",
     CMD_cs_PlayerChangeChannelPrivilege, true},
    {kPlayerChangePrivilege, "CMD_cs_PlayerChangePrivilege", CMD_cs_PlayerChangePrivilege, true},
    {kPlayerRegister, "CMD_cs_PlayerRegister", CMD_cs_PlayerRegister, true},
    {kPlayerAdminRegister, "CMD_cs_PlayerAdminRegister", CMD_cs_PlayerAdminRegister, true},
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
