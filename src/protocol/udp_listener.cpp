#include "protocol/udp_listener.h"

#include <chrono>
#include <exception>
#include <mutex>

#include "common/date_time.h"
#include "log/log.h"
#include "protocol/dispatch.h"
#include "protocol/error_codes.h"

namespace voxhall::protocol {

namespace {
constexpr int kMaxClearPasses = 1001;
}  // namespace

VHUDPListener::VHUDPListener(ServerData& server, transport::PacketBuffer& buffer,
                             ClientList& clients, Channels& channels,
                             storage::FreeBase* database, const transport::Clock& clock)
    : server_(server), buffer_(buffer), clients_(clients), channels_(channels),
      database_(database), clock_(clock) {}

VHUDPListener::~VHUDPListener() {
  Terminate();
  Join();
}

void VHUDPListener::Start() { thread_ = std::thread([this] { Execute(); }); }

void VHUDPListener::Join() {
  if (thread_.joinable()) thread_.join();
}

HandlerContext VHUDPListener::MakeContext() {
  return HandlerContext{server_, clients_, channels_, buffer_, database_, log_limiter_, clock_};
}

void VHUDPListener::Execute() {
  {
    std::lock_guard process(process_mu_);
    std::lock_guard<Channels> lock(channels_);
    HandlerContext ctx = MakeContext();
    Guarded(ctx, "LoadChannels", [&] {
      if (database_) {
        channels_.LoadChannels(*database_);
      } else if (channels_.Count() == 0) {
        channels_.CreateDefaultChannel();
      }
    });
  }

  while (!(terminated_ && buffer_.Stopping())) {
    std::int32_t wait = transport::PacketBuffer::kMaxWaitMs;
    std::optional<transport::IncomingEvent> event;
    bool write = false;
    {
      // Taken and handled under one lock, so that events are handled in
      // order whichever thread handles them.
      std::lock_guard process(process_mu_);
      event = buffer_.PollIncoming(&wait);
      if (event && event->kind != transport::beStopping) write = ProcessEvent(*event);
    }
    // The frame's copies leave from here, with the locks released.
    if (write) write_ready_();
    if (!event) {
      buffer_.WaitIncoming(wait);
    } else if (event->kind == transport::beStopping) {
      if (terminated_) break;
      // Stopping without a request to end: the owner will ask shortly.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  buffer_.ThreadStopped(transport::PacketBuffer::kListenerStoppedBit);
}

bool VHUDPListener::RelayReadyVoice() {
  std::unique_lock process(process_mu_, std::try_to_lock);
  if (!process.owns_lock()) return false;
  bool write = false;
  bool other_work = false;
  while (auto event = buffer_.PollIncomingVoice(other_work)) write |= ProcessEvent(*event);
  process.unlock();
  if (write) write_ready_();
  return !other_work;
}

bool VHUDPListener::ProcessEvent(transport::IncomingEvent& event) {
  std::lock_guard<ClientList> players(clients_);
  HandlerContext ctx = MakeContext();
  ctx.writes_after_event = static_cast<bool>(write_ready_);
  ctx.event_key = event.player_id;
  ctx.event_connection = event.connection_id;
  ctx.packet = event.packet.get();
  Guarded(ctx, "GetClientObject", [&] {
    ctx.sender = clients_.GetClientObject(static_cast<std::int32_t>(event.player_id));
    // An event of another connection under the same player id (an older
    // record, a refused login) does not concern this player.
    if (ctx.sender && static_cast<std::uint32_t>(ctx.sender->ConnectionId) != event.connection_id) {
      ctx.sender = nullptr;
    }
  });
  std::lock_guard<Channels> channels(channels_);

  switch (event.kind) {
    case transport::bePacket:
      if (ctx.packet) {
        // Any packet, whatever its kind, shows the player is still there.
        if (ctx.sender) ctx.sender->LastPacketTime = common::Now();
        Dispatch(ctx);
      }
      break;
    case transport::beTimeout:
      DisconnectPlayer(ctx, kLeftTimeout);
      break;
    case transport::beClosed:
      ctx.drop_sender = true;
      break;
    default:
      break;
  }
  if (ctx.drop_sender) DisconnectPlayer(ctx, kLeftQuit);
  return ctx.queued_voice && ctx.writes_after_event;
}

void DisconnectPlayer(HandlerContext& ctx, std::uint16_t reason) {
  if (ctx.sender) {
    const std::int32_t player_id = ctx.sender->PlayerId;
    CMD_sc_NotifyPlayerLeftScope(ctx, player_id, reason, 0, "");
    Guarded(ctx, "DisconnectPlayer", [&] { ctx.clients.Remove(ctx.sender); });
    ctx.sender = nullptr;
    ctx.log_limiter.Forget(static_cast<std::uint32_t>(player_id));
  }
  Guarded(ctx, "DisconnectPlayer",
          [&] { ctx.buffer.RemoveConnection(ctx.event_key, ctx.event_connection); });
  ClearChannelUp(ctx, -1);
}

std::int32_t CheckChannelTreeForPlayers(HandlerContext& ctx, std::int32_t channel_id) {
  if (ctx.clients.GetPlayersInChannel(channel_id) > 0) return kErrorChannelHasPlayers;
  const ChannelRec* channel = ctx.channels.FindChannel(channel_id);
  if (!channel || !channel->IsTopLevel()) return 0;
  const auto& items = ctx.channels.items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if ((*it)->Parent == channel_id && ctx.clients.GetPlayersInChannel((*it)->ID) > 0) {
      return kErrorChannelHasPlayers;
    }
  }
  return 0;
}

void ClearChannelUp(HandlerContext& ctx, std::int32_t channel_id) {
  Guarded(ctx, "ClearChannelUp", [&] {
    auto deletable = [&ctx](const ChannelRec& c) {
      return !c.IsRegistered() && c.IsTopLevel() && CheckChannelTreeForPlayers(ctx, c.ID) == 0;
    };
    auto delete_and_notify = [&ctx](std::int32_t id, std::int32_t acting) {
      ctx.channels.DeleteChannel(id);
      const std::vector<std::int32_t> changed = ctx.channels.changed();
      for (std::int32_t gone : changed) CMD_sc_NotifyChannelDestroyed(ctx, gone, acting);
    };
    if (channel_id >= 0) {
      const ChannelRec* channel = ctx.channels.FindChannel(channel_id);
      if (channel && deletable(*channel)) {
        delete_and_notify(channel_id, ctx.sender ? ctx.sender->PlayerId : 0);
      }
      return;
    }
    for (int pass = 0; pass < kMaxClearPasses; ++pass) {
      std::int32_t victim = -1;
      const auto& items = ctx.channels.items();
      for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (deletable(**it)) {
          victim = (*it)->ID;
          break;
        }
      }
      if (victim < 0) break;
      delete_and_notify(victim, 0);
    }
  });
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

}  // namespace voxhall::protocol
