// VHUDPListener: the protocol thread of one virtual server. It takes one
// event at a time from the packet buffer (a received packet, a connection
// that went silent, a connection that finished closing), looks up the
// sending player and runs the handler for the packet's kind and command type
// while it holds the player-list lock and, inside it, the channel-list lock.
// It is the only thread that changes the server's players and channels while
// the server runs.
//
// Start, Terminate, Join and RemoveAllClients are called by the owning
// virtual server; everything else runs on the listener thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "protocol/channels.h"
#include "protocol/client_list.h"
#include "protocol/client_object.h"
#include "protocol/server_data.h"
#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::protocol {

// Reasons carried by the left-scope notice.
inline constexpr std::uint16_t kLeftQuit = 1;
inline constexpr std::uint16_t kLeftKicked = 2;
inline constexpr std::uint16_t kLeftTimeout = 3;
inline constexpr std::uint16_t kLeftServerStopped = 4;
inline constexpr std::uint16_t kLeftSwitchedOutOfView = 6;

// Server-to-client command types sent by the listener itself.
inline constexpr std::uint16_t kNotifyPlayerLeftScope = 101;
inline constexpr std::uint16_t kNotifyChannelDestroyed = 115;

class VHUDPListener {
 public:
  // Every reference must outlive the thread; `database` (may be null: no
  // stored channels) is read once when the thread starts.
  VHUDPListener(ServerData& server, transport::PacketBuffer& buffer, ClientList& clients,
                Channels& channels, storage::FreeBase* database);
  ~VHUDPListener();
  VHUDPListener(const VHUDPListener&) = delete;
  VHUDPListener& operator=(const VHUDPListener&) = delete;

  void Start();
  // Asks the thread to end; it leaves once the buffer reports that it stopped.
  void Terminate() { terminated_ = true; }
  void Join();

  // Tells every player that the server stops (each one only of its own
  // removal, reason 4), closes its connection and frees its record. Called
  // by the stopping thread; takes the player-list lock.
  void RemoveAllClients();

 private:
  using CommandHandler = void (VHUDPListener::*)();

  void Execute();
  void ProcessEvent(transport::IncomingEvent& event);
  void DispatchCommand();

  // The player of the current event leaves: announced (unless already
  // announced), removed, its connection removed, empty channels cleared.
  void DisconnectPlayer(std::uint16_t reason);
  // Answers the sender's refused request.
  void CMD_sc_ErrorPacket(std::int16_t code, std::int16_t refused_type,
                          std::uint32_t refused_sequence);
  void CMD_sc_NotifyPlayerLeftScope(std::int32_t player_id, std::uint16_t reason,
                                    std::int32_t acting_player, std::string_view message);
  void CMD_sc_NotifyChannelDestroyed(std::int32_t channel_id, std::int32_t acting_player);
  // Deletes unregistered top-level channels without players; -1 for all.
  void ClearChannelUp(std::int32_t channel_id);
  // -109 when the channel or, for a top-level channel, one of its
  // sub-channels holds players; 0 otherwise.
  std::int32_t CheckChannelTreeForPlayers(std::int32_t channel_id);
  // Queues a packet for one receiver of a notice sent to many: a receiver
  // whose queue is full (the buffer then times it out) is logged and skipped,
  // and the others still get theirs.
  void SendToOne(std::unique_ptr<transport::Packet> packet, bool close_after,
                 std::string_view operation);
  // One error line: "SP: <port> <text>".
  void LogListenerError(std::string_view text);
  // The same for a caught exception: "<operation> Exception: <message>".
  void LogListenerError(std::string_view operation, const std::exception& e);

  // Command handlers by command type. Types not listed are ignored.
  static const std::unordered_map<std::uint16_t, CommandHandler>& CommandTable();

  ServerData& server_;
  transport::PacketBuffer& buffer_;
  ClientList& clients_;
  Channels& channels_;
  storage::FreeBase* database_;

  std::atomic<bool> terminated_{false};
  std::thread thread_;

  // State of the event being processed; valid only during ProcessEvent.
  std::uint32_t event_key_ = 0;
  std::uint32_t event_connection_ = 0;  // the event's ConnectionId
  ClientObject* sender_ = nullptr;
  transport::Packet* packet_ = nullptr;
  bool drop_sender_ = false;
};

}  // namespace voxhall::protocol
