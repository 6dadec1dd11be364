// HandlerContext: what a protocol handler works on while the listener
// processes one event. The listener fills it for each event, holding the
// player-list lock and, inside it, the channel-list lock; the handlers read
// and change the server's players and channels through it, queue answers
// through the packet buffer, and log through its rate-limited log calls.
// A context lives on the listener thread for one event only.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "log/rate_limiter.h"
#include "protocol/channels.h"
#include "protocol/client_list.h"
#include "protocol/client_object.h"
#include "protocol/server_data.h"
#include "transport/clock.h"
#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::protocol {

struct HandlerContext {
  ServerData& server;
  ClientList& clients;    // locked by the listener for the whole event
  Channels& channels;     // locked inside the player list
  transport::PacketBuffer& buffer;
  storage::FreeBase* database;  // may be null: no registered users or channels
  log::LogRateLimiter& log_limiter;
  const transport::Clock& clock;

  // The event: the player id and connection id the buffer reported, the
  // received packet (null for connection events) and the player it names
  // (null when none, or when the player's connection is another one).
  std::uint32_t event_key = 0;
  std::uint32_t event_connection = 0;  // the ConnectionId of the packet or record
  const transport::Packet* packet = nullptr;
  ClientObject* sender = nullptr;
  // Set by a handler that wants the sender disconnected (reason 1) once it
  // has returned.
  bool drop_sender = false;
  // Whether the thread handling the event writes the relayed voice itself
  // once the event is done (so the relay need not wake the sender), and
  // whether the event queued any.
  bool writes_after_event = false;
  bool queued_voice = false;

  // Queues a packet; a packet for a connection that no longer exists is
  // dropped. Throws FIFOListError when the receiver's queue is full.
  void Send(std::unique_ptr<transport::Packet> packet, bool close_after = false) {
    buffer.Send(std::move(packet), close_after);
  }

  // One error line "SP: <port> <text>" under "UDP Listener", rate-limited
  // per sender and text.
  void LogListenerError(std::string_view text);
  // The same for a caught exception: "<operation> Exception: <message>".
  void LogListenerError(std::string_view operation, const std::exception& e);
  // A warning under "UDP VOICE" without the port prefix, rate-limited the
  // same way.
  void LogVoiceWarning(std::string_view text);
};

// Runs `work` inside an exception boundary: a failure is logged as
// "<name> Exception: <message>" and answered false; what `work` had already
// sent or changed stays. Sub-operations of a handler that must not end the
// handler run through it too.
template <typename Work>
bool Guarded(HandlerContext& ctx, std::string_view name, Work&& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    ctx.LogListenerError(name, e);
  } catch (...) {
    ctx.LogListenerError(std::string(name) + " Exception: unknown error");
  }
  return false;
}

}  // namespace voxhall::protocol
