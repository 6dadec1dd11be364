#include "protocol/udp_listener.h"

#include <exception>
#include <mutex>

#include "common/date_time.h"
#include "log/log.h"
#include "protocol/access_rules.h"
#include "protocol/command_packet.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

using transport::Packet;
using transport::PacketClass;

namespace {
constexpr std::size_t kLeftScopeSize = 64;
constexpr std::size_t kChannelDestroyedSize = 30;
constexpr std::size_t kErrorPacketSize = 30;
constexpr std::int32_t kTreeHasPlayers = -109;
constexpr int kMaxClearPasses = 1001;
// The left-scope notice for `receiver` about `player_id`:
//   24 player id (int32)  28 reason (uint16)  30 acting player (int32)
//   34 message (text of 29)
std::unique_ptr<Packet> LeftScopePacket(const ClientObject& receiver, std::int32_t player_id,
                                        std::uint16_t reason, std::int32_t acting_player,
                                        std::string_view message) {
  auto packet = NewCommandPacket(kNotifyPlayerLeftScope, kLeftScopeSize, receiver);
  WireWriter out(packet->Buffer(), transport::kCommandHeaderLength);
  out.PutI32(player_id).PutU16(reason).PutI32(acting_player).PutText(message, 29);
  return packet;
}

}  // namespace

VHUDPListener::VHUDPListener(ServerData& server, transport::PacketBuffer& buffer,
                             ClientList& clients, Channels& channels,
                             storage::FreeBase* database)
    : server_(server), buffer_(buffer), clients_(clients), channels_(channels),
      database_(database) {}

VHUDPListener::~VHUDPListener() {
  Terminate();
  Join();
}

void VHUDPListener::Start() { thread_ = std::thread([this] { Execute(); }); }

void VHUDPListener::Join() {
  if (thread_.joinable()) thread_.join();
}

const std::unordered_map<std::uint16_t, VHUDPListener::CommandHandler>&
VHUDPListener::CommandTable() {
  static const std::unordered_map<std::uint16_t, CommandHandler> table = {};
  return table;
}

void VHUDPListener::Execute() {
  {
    std::lock_guard<Channels> lock(channels_);
    try {
      if (database_) {
        channels_.LoadChannels(*database_);
      } else if (channels_.Count() == 0) {
        channels_.CreateDefaultChannel();
      }
    } catch (const std::exception& e) {
      LogListenerError("LoadChannels", e);
    }
  }

  while (!(terminated_ && buffer_.Stopping())) {
    transport::IncomingEvent event = buffer_.GetNextIncoming();
    if (event.kind == transport::beStopping) {
      if (terminated_) break;
      // Stopping without a request to end: the owner will ask shortly.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ProcessEvent(event);
  }
  buffer_.ThreadStopped(transport::PacketBuffer::kListenerStoppedBit);
}

void VHUDPListener::ProcessEvent(transport::IncomingEvent& event) {
  std::lock_guard<ClientList> players(clients_);
  event_key_ = event.player_id;
  event_connection_ = event.connection_id;
  packet_ = event.packet.get();
  try {
    sender_ = clients_.GetClientObject(static_cast<std::int32_t>(event_key_));
    // An event of another connection under the same player id (an older
    // record, a refused login) does not concern this player.
    if (sender_ && static_cast<std::uint32_t>(sender_->ConnectionId) != event_connection_) {
      sender_ = nullptr;
    }
  } catch (const std::exception& e) {
    sender_ = nullptr;
    LogListenerError("GetClientObject", e);
  }
  std::lock_guard<Channels> channels(channels_);
  drop_sender_ = false;

  switch (event.kind) {
    case transport::bePacket:
      if (packet_) {
        if (sender_) sender_->LastPacketTime = common::Now();
        if (packet_->Class() == PacketClass::CommandPacket) DispatchCommand();
        // Voice (to the relay) and login requests (to the login handshake)
        // have no handlers yet and are ignored.
      }
      break;
    case transport::beTimeout:
      DisconnectPlayer(kLeftTimeout);
      break;
    case transport::beClosed:
      drop_sender_ = true;
      break;
    default:
      break;
  }
  if (drop_sender_) DisconnectPlayer(kLeftQuit);

  sender_ = nullptr;
  packet_ = nullptr;
}

void VHUDPListener::DispatchCommand() {
  const auto& table = CommandTable();
  const auto it = table.find(packet_->PacketType());
  if (it == table.end()) return;
  // Commands of players who are not logged in are discarded unanswered,
  // except the login's last step, which handles that case itself.
  if (!sender_ && it->first != 5) return;
  (this->*(it->second))();
}

void VHUDPListener::DisconnectPlayer(std::uint16_t reason) {
  if (sender_) {
    CMD_sc_NotifyPlayerLeftScope(sender_->PlayerId, reason, 0, "");
    try {
      clients_.Remove(sender_);  // the returned record is freed here
    } catch (const std::exception& e) {
      LogListenerError("DisconnectPlayer", e);
    }
    sender_ = nullptr;
  }
  try {
    buffer_.RemoveConnection(event_key_, event_connection_);
  } catch (const std::exception& e) {
    LogListenerError("DisconnectPlayer", e);
  }
  ClearChannelUp(-1);
}

void VHUDPListener::CMD_sc_ErrorPacket(std::int16_t code, std::int16_t refused_type,
                                       std::uint32_t refused_sequence) {
  if (!sender_) return;
  try {
    auto packet = NewCommandPacket(static_cast<std::uint16_t>(code), kErrorPacketSize, *sender_);
    WireWriter out(packet->Buffer(), transport::kCommandHeaderLength);
    out.PutI16(refused_type).PutU32(refused_sequence);
    buffer_.Send(std::move(packet), false);
  } catch (const std::exception& e) {
    LogListenerError("CMD_sc_ErrorPacket", e);
  }
}

void VHUDPListener::CMD_sc_NotifyPlayerLeftScope(std::int32_t player_id, std::uint16_t reason,
                                                 std::int32_t acting_player,
                                                 std::string_view message) {
  try {
    ClientObject* leaving = clients_.GetClientObject(player_id);
    if (!leaving || leaving->LeftAnnounced) return;
    for (const auto& p : clients_.items()) {
      if (!CheckClientInView(server_.ServerType, channels_, leaving, p.get())) continue;
      const bool is_leaving = p.get() == leaving;
      if (is_leaving) p->LeftAnnounced = true;
      SendToOne(LeftScopePacket(*p, player_id, reason, acting_player, message), is_leaving,
                "CMD_sc_NotifyPlayerLeftScope");
    }
  } catch (const std::exception& e) {
    LogListenerError("CMD_sc_NotifyPlayerLeftScope", e);
  }
}

void VHUDPListener::CMD_sc_NotifyChannelDestroyed(std::int32_t channel_id,
                                                  std::int32_t acting_player) {
  if (channel_id < 0) return;
  try {
    if (channel_id > 32767) throw std::range_error("channel id does not fit 16 bits");
    for (const auto& p : clients_.items()) {
      auto packet = NewCommandPacket(kNotifyChannelDestroyed, kChannelDestroyedSize, *p);
      WireWriter out(packet->Buffer(), transport::kCommandHeaderLength);
      out.PutI16(static_cast<std::int16_t>(channel_id)).PutI32(acting_player);
      SendToOne(std::move(packet), false, "CMD_sc_NotifyChannelDestroyed");
    }
  } catch (const std::exception& e) {
    LogListenerError("CMD_sc_NotifyChannelDestroyed", e);
  }
}

std::int32_t VHUDPListener::CheckChannelTreeForPlayers(std::int32_t channel_id) {
  if (clients_.GetPlayersInChannel(channel_id) > 0) return kTreeHasPlayers;
  const ChannelRec* channel = channels_.FindChannel(channel_id);
  if (!channel || !channel->IsTopLevel()) return 0;
  const auto& items = channels_.items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if ((*it)->Parent == channel_id && clients_.GetPlayersInChannel((*it)->ID) > 0) {
      return kTreeHasPlayers;
    }
  }
  return 0;
}

void VHUDPListener::ClearChannelUp(std::int32_t channel_id) {
  try {
    auto deletable = [this](const ChannelRec& c) {
      return !c.IsRegistered() && c.IsTopLevel() && CheckChannelTreeForPlayers(c.ID) == 0;
    };
    auto delete_and_notify = [this](std::int32_t id, std::int32_t acting) {
      channels_.DeleteChannel(id);
      const std::vector<std::int32_t> changed = channels_.changed();
      for (std::int32_t gone : changed) CMD_sc_NotifyChannelDestroyed(gone, acting);
    };
    if (channel_id >= 0) {
      const ChannelRec* channel = channels_.FindChannel(channel_id);
      if (channel && deletable(*channel)) {
        delete_and_notify(channel_id, sender_ ? sender_->PlayerId : 0);
      }
      return;
    }
    for (int pass = 0; pass < kMaxClearPasses; ++pass) {
      std::int32_t victim = -1;
      const auto& items = channels_.items();
      for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (deletable(**it)) {
          victim = (*it)->ID;
          break;
        }
      }
      if (victim < 0) break;
      delete_and_notify(victim, 0);
    }
  } catch (const std::exception& e) {
    LogListenerError("ClearChannelUp", e);
  }
}

void VHUDPListener::RemoveAllClients() {
  std::lock_guard<ClientList> players(clients_);
  const auto& items = clients_.items();
  while (!items.empty()) {
    ClientObject* p = items.back().get();
    try {
      p->LeftAnnounced = true;
      buffer_.Send(LeftScopePacket(*p, p->PlayerId, kLeftServerStopped, 0, ""), true);
    } catch (const std::exception&) {
      // The player is removed all the same.
    }
    clients_.Remove(p);
  }
}

void VHUDPListener::SendToOne(std::unique_ptr<Packet> packet, bool close_after,
                              std::string_view operation) {
  try {
    buffer_.Send(std::move(packet), close_after);
  } catch (const std::exception& e) {
    LogListenerError(operation, e);
  }
}

void VHUDPListener::LogListenerError(std::string_view operation, const std::exception& e) {
  LogListenerError(std::string(operation) + " Exception: " + e.what());
}

void VHUDPListener::LogListenerError(std::string_view text) {
  log::LogFmt(log::lmtError, log::lmdAll, "UDP Listener",
              "SP: " + std::to_string(server_.UDPPort) + " " + std::string(text));
}

}  // namespace voxhall::protocol
