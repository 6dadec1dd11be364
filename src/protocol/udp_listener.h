// VHUDPListener: the protocol thread of one virtual server. It takes one
// event at a time from the packet buffer (a received packet, a connection
// that went silent, a connection that finished closing), looks up the
// sending player and hands the packet to the dispatch table (dispatch.h)
// while it holds the player-list lock and, inside it, the channel-list lock.
// Only the listener changes the server's players and channels while the
// server runs. Received voice that is next in line may be relayed on the
// socket's reading thread instead (RelayReadyVoice), under the same lock as
// every other event, so that one thread receives, relays and writes a frame.
// This file holds the loop, the departure of a player and the stop; the
// handlers live in one file per family.
//
// Start, Terminate, Join and RemoveAllClients are called by the owning
// virtual server, RelayReadyVoice by its socket's reading thread; everything
// else runs on the listener thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "log/rate_limiter.h"
#include "protocol/channels.h"
#include "protocol/client_list.h"
#include "protocol/handler_context.h"
#include "protocol/notifications.h"
#include "protocol/server_data.h"
#include "transport/clock.h"
#include "transport/packet_buffer.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::protocol {

class VHUDPListener {
 public:
  // Every reference must outlive the thread. `database` (may be null: no
  // stored channels or users) is used by the listener thread; `clock` paces
  // the rate limit of network-triggered log lines.
  VHUDPListener(ServerData& server, transport::PacketBuffer& buffer, ClientList& clients,
                Channels& channels, storage::FreeBase* database,
                const transport::Clock& clock = transport::DefaultClock());
  ~VHUDPListener();
  VHUDPListener(const VHUDPListener&) = delete;
  VHUDPListener& operator=(const VHUDPListener&) = delete;

  // Lets the thread that relayed voice write it itself once the event is
  // done: `write_ready` writes what the buffer has ready
  // (VHUDPSender::WriteReady). Without it the relay wakes the sender for
  // every frame. Called before Start.
  void SetWriter(std::function<void()> write_ready) { write_ready_ = std::move(write_ready); }

  void Start();

  // Relays the received voice packets that wait at the front of the buffer's
  // incoming queue on the calling thread: the socket's reading thread calls
  // it after handing a batch of datagrams to the buffer without waking the
  // listener, so that a voice frame is received, relayed and written by one
  // thread without a hand-over. Events are taken and handled under one lock
  // by whichever thread holds it, so they keep their order. Answers false
  // when the listener thread has to be woken: it is busy handling an event,
  // or a command or connection event is next in line.
  bool RelayReadyVoice();

  // Asks the thread to end; it leaves once the buffer reports that it stopped.
  void Terminate() { terminated_ = true; }
  void Join();

  // Tells every player that the server stops (each one only of its own
  // removal, reason 4), closes its connection and frees its record. Called
  // by the stopping thread; takes the player-list lock.
  void RemoveAllClients();

 private:
  void Execute();
  // Answers whether the event queued relayed voice that is still to be
  // written.
  bool ProcessEvent(transport::IncomingEvent& event);
  HandlerContext MakeContext();

  ServerData& server_;
  transport::PacketBuffer& buffer_;
  ClientList& clients_;
  Channels& channels_;
  storage::FreeBase* database_;
  const transport::Clock& clock_;
  log::LogRateLimiter log_limiter_;
  std::function<void()> write_ready_;
  // Held while an event is taken from the buffer and handled, by the
  // listener thread or by RelayReadyVoice's caller.
  std::mutex process_mu_;

  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

// The player of the current event leaves: announced with `reason` (unless
// already announced), removed, its connection removed, empty unregistered
// channels cleared.
void DisconnectPlayer(HandlerContext& ctx, std::uint16_t reason);

// Deletes unregistered top-level channels without players (all of them for
// -1, else that one channel) and tells everybody.
void ClearChannelUp(HandlerContext& ctx, std::int32_t channel_id);

// -109 when the channel or, for a top-level channel, one of its
// sub-channels holds players; 0 otherwise.
std::int32_t CheckChannelTreeForPlayers(HandlerContext& ctx, std::int32_t channel_id);

}  // namespace voxhall::protocol
