#include "transport/packet_buffer.h"

#include <algorithm>
#include <cmath>

#include "transport/stopwatch.h"

namespace voxhall::transport {

namespace {

constexpr std::uint8_t kBothWorkersStopped =
    (1u << PacketBuffer::kSenderStoppedBit) | (1u << PacketBuffer::kListenerStoppedBit);
// How long a pong may come after the ping it answers to give a sample.
constexpr std::int32_t kPongLimitMs = 3000;

bool IsVoice(PacketClass cls) {
  return cls == PacketClass::VoiceC2SPacket || cls == PacketClass::VoiceS2CPacket;
}

}  // namespace

const char* FaultText(BufferFault fault) {
  switch (fault) {
    case BufferFault::kNone: return "";
    case BufferFault::kInvalidPacket: return "Invalid Packet";
    case BufferFault::kS2CRecvOnServer: return "S2C recv on Server";
    case BufferFault::kWrongConnection: return "wrong Connection + player combo";
    case BufferFault::kRecvAfterClose: return "recv data after close";
    case BufferFault::kCommandWhileClosing: return "recv command while closing.";
    case BufferFault::kVoiceDuringLogin: return "Recv voice data during login";
    case BufferFault::kVoiceToUnconnected:
      return "Sending voice packet to pre connected, closing or closed connection";
    case BufferFault::kSendToClosing: return "Sending packet to closing or closed connection";
    case BufferFault::kInvalidPacketOnBuffer: return "Invalid packet on buffer";
    case BufferFault::kQueueFull: return "Can't allocate needed memory";
  }
  return "";
}

PacketBuffer::PacketBuffer(const Clock& clock) : clock_(clock) {}

PacketBuffer::~PacketBuffer() {
  std::lock_guard lock(mu_);
  stopping_.store(true, std::memory_order_release);
  connections_.clear();
}

SingleConnection* PacketBuffer::Find(std::uint32_t player_id) {
  const auto it = connections_.find(player_id);
  return it == connections_.end() ? nullptr : it->second.record.get();
}

PacketBuffer::Slot* PacketBuffer::FindSlot(std::uint32_t player_id, std::uint32_t connection_id) {
  const auto it = connections_.find(player_id);
  if (it == connections_.end() || it->second.record->ConnectionId != connection_id) return nullptr;
  return &it->second;
}

void PacketBuffer::PushDue(DueQueue& queue, Clock::TimePoint at, const SingleConnection& record) {
  queue.push(Due{at, due_order_++, record.PlayerId, record.ConnectionId});
}

std::optional<PacketBuffer::Due> PacketBuffer::PopDue(DueQueue& queue, Clock::TimePoint now) {
  if (queue.empty()) return std::nullopt;
  const Due top = queue.top();
  // An entry further ahead than any deadline can be was made before the clock
  // stepped back; it is due now, and the record's timers sort that out.
  const bool stale = top.at - now > std::chrono::milliseconds(SingleConnection::kTimerLimitMs);
  if (top.at > now && !stale) return std::nullopt;
  queue.pop();
  return top;
}

std::int32_t PacketBuffer::WaitFor(const DueQueue& queue, Clock::TimePoint now) const {
  if (queue.empty()) return kMaxWaitMs;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(queue.top().at - now).count();
  return static_cast<std::int32_t>(std::clamp<long long>(left, 0, kMaxWaitMs));
}

void PacketBuffer::Schedule(Slot& slot) {
  if (slot.scheduled) return;
  slot.scheduled = true;
  ready_.emplace_back(slot.record->PlayerId, slot.record->ConnectionId);
}

void PacketBuffer::ArmRetransmit(Slot& slot, const Stopwatch& now) {
  if (slot.retransmit_armed || !slot.record->InFlight) return;
  // At 0 the retransmission is due on the next millisecond (it needs more
  // than ResendTimeout to have passed).
  const std::int32_t left = std::max(1, slot.record->TimeUntilSend(now));
  PushDue(retransmits_, now.StartTime() + std::chrono::milliseconds(left), *slot.record);
  slot.retransmit_armed = true;
}

bool PacketBuffer::IsLoginRequest(const Packet& packet) {
  return packet.Class() == PacketClass::ConnectionPacket && packet.ConnectionId() == 0 &&
         packet.PlayerId() == 0 && packet.PacketType() == kLoginRequestType;
}

bool PacketBuffer::LoginAllowed(const std::string& address) const {
  if (logins_ >= kMaxLoginsPerServer) return false;
  const auto it = logins_by_address_.find(address);
  if (it == logins_by_address_.end()) return true;
  return it->second.pending + it->second.connecting < kMaxLoginsPerAddress;
}

void PacketBuffer::UncountLogin(Slot& slot) {
  if (!slot.counted_as_login || slot.record->State == csConnecting) return;
  slot.counted_as_login = false;
  --logins_;
  const auto it = logins_by_address_.find(slot.record->PeerAddress);
  if (it == logins_by_address_.end()) return;
  if (--it->second.connecting == 0 && it->second.pending == 0) logins_by_address_.erase(it);
}

bool PacketBuffer::IncomingHasRoom(const Packet& packet) const {
  return !incoming_.Full() && incoming_.Bytes() + packet.Size() <= kMaxIncomingBytes;
}

bool PacketBuffer::PushQueued(SingleConnection& record, FIFOList& queue,
                              std::unique_ptr<Packet>&& packet) {
  const std::size_t queued = record.DirectQueue.Bytes() + record.ReliableQueue.Bytes() +
                             record.VoiceQueue.Bytes() + record.ConnectionQueue.Bytes();
  if (queue.Full() || queued + packet->Size() > kMaxQueuedBytesPerConnection) return false;
  queue.Push(std::move(packet));
  return true;
}

bool PacketBuffer::PushIncoming(std::unique_ptr<Packet>&& packet) {
  if (!IncomingHasRoom(*packet)) return false;
  incoming_.Push(std::move(packet));
  return true;
}

BufferFault PacketBuffer::ReceivePacket(std::unique_ptr<Packet> packet) {
  BufferFault fault = BufferFault::kNone;
  ReceivePackets(std::span<std::unique_ptr<Packet>>(&packet, 1), &fault);
  return fault;
}

BufferFault PacketBuffer::Check(const Packet& packet) {
  packets_received_.fetch_add(1, std::memory_order_relaxed);
  bytes_received_.fetch_add(packet.Size(), std::memory_order_relaxed);
  if (packet.Size() > kMaxDatagramLength) return BufferFault::kInvalidPacket;
  if (!packet.IsValidPacket()) return BufferFault::kInvalidPacket;
  if (packet.Class() == PacketClass::VoiceS2CPacket) return BufferFault::kS2CRecvOnServer;
  return BufferFault::kNone;
}

void PacketBuffer::ReceivePackets(std::span<std::unique_ptr<Packet>> packets, BufferFault* fault,
                                  bool wake) {
  // Validation needs only the packets, which the caller has handed over, so
  // it runs before the lock is taken; a rejected packet is freed at once.
  std::size_t valid = 0;
  for (std::unique_ptr<Packet>& packet : packets) {
    if (!packet) continue;
    const BufferFault rejected = Check(*packet);
    if (rejected != BufferFault::kNone) {
      if (fault != nullptr) *fault = rejected;
      packet.reset();
    } else {
      ++valid;
    }
  }
  if (valid == 0) return;

  bool wake_listener = false;
  bool wake_sender = false;
  {
    std::lock_guard lock(mu_);
    for (std::unique_ptr<Packet>& packet : packets) {
      if (!packet) continue;
      const PacketClass cls = packet->Class();
      BufferFault result;
      try {
        result = ReceiveLocked(std::move(packet), cls, wake_listener, wake_sender);
      } catch (const FIFOListError&) {
        result = BufferFault::kQueueFull;
      }
      if (fault != nullptr && result != BufferFault::kNone) *fault = result;
    }
  }
  if (wake_listener && wake) receive_event_.Signal();
  if (wake_sender) send_event_.Signal();
}

BufferFault PacketBuffer::ReceiveLocked(std::unique_ptr<Packet> packet, PacketClass cls,
                                        bool& wake_listener, bool& wake_sender) {
  if (IsLoginRequest(*packet)) {
    const std::string address = packet->PeerAddress();
    if (!LoginAllowed(address)) return BufferFault::kNone;  // dropped unanswered
    if (!PushIncoming(std::move(packet))) return BufferFault::kQueueFull;
    ++logins_;
    ++logins_by_address_[address].pending;
    wake_listener = true;
    return BufferFault::kNone;
  }

  const auto found = connections_.find(packet->PlayerId());
  if (found == connections_.end()) return BufferFault::kNone;
  Slot& slot = found->second;
  SingleConnection* record = slot.record.get();
  if (packet->ConnectionId() != record->ConnectionId) return BufferFault::kWrongConnection;
  if (record->State == csClosed) return BufferFault::kRecvAfterClose;
  // A connection stays with the IP address it was opened from: a datagram
  // from elsewhere is a spoof, however right its ids.
  if (packet->PeerAddress() != record->PeerAddress) return BufferFault::kWrongConnection;
  // Called once the datagram has passed every check: only then does it count
  // as a sign of life and may move the peer's port (as a NAT does).
  auto accepted = [record, &packet] {
    record->PeerPort = packet->PeerPort();
    record->LastReceiveTimer.Start();
  };

  switch (cls) {
    case PacketClass::AckPacket: {
      const Stopwatch now(clock_);
      if (record->HandleAck(packet->Sequence(), packet->PacketType(), now)) {
        accepted();
        UncountLogin(slot);
        // A close completed by this acknowledgement is reported at once.
        if (record->State == csClosed) PushDue(timeouts_, now.StartTime(), *record);
        Schedule(slot);
        wake_sender = true;
      }
      return BufferFault::kNone;
    }

    case PacketClass::CommandPacket: {
      // A command that is due for delivery needs room in Incoming. Without
      // it the command is neither acknowledged nor taken as received, so the
      // client sends it again instead of having it lost.
      const bool due = packet->Sequence() == record->CommandRecvNext && record->State != csClosing;
      if (due && !IncomingHasRoom(*packet)) return BufferFault::kQueueFull;
      const bool deliver =
          record->AcceptCommand(packet->Sequence(), packet->ResendCount(), packet->Size());
      accepted();
      Schedule(slot);
      wake_sender = true;  // the acknowledgement is queued in every case
      if (!deliver) return BufferFault::kNone;
      if (record->State == csClosing) return BufferFault::kCommandWhileClosing;
      if (!PushIncoming(std::move(packet))) return BufferFault::kQueueFull;
      wake_listener = true;
      return BufferFault::kNone;
    }

    case PacketClass::VoiceC2SPacket:
      if (record->State == csConnecting) return BufferFault::kVoiceDuringLogin;
      // A closing connection delivers nothing but acknowledgements.
      if (record->State == csClosing) return BufferFault::kNone;
      accepted();
      record->AcceptVoiceCounter(packet->VoiceCounter());
      record->CountDelivered(*packet);
      // Voice is delivered even when it comes late or twice.
      if (!PushIncoming(std::move(packet))) return BufferFault::kQueueFull;
      wake_listener = true;
      return BufferFault::kNone;

    case PacketClass::ConnectionPacket: {
      if (!record->AcceptConnectionSequence(packet->Sequence())) return BufferFault::kNone;
      accepted();
      record->CountDelivered(*packet);
      if (record->State != csConnected) return BufferFault::kNone;
      if (packet->PacketType() == kPingType) {
        // The ping becomes its own pong; ConnectionId, Sequence and Checksum
        // are written when it is sent.
        const std::uint32_t ping_sequence = packet->Sequence();
        packet->Resize(kPongLength);
        packet->SetPacketType(kPongType);
        packet->SetPlayerId(record->PlayerId);
        packet->SetU32At(kPongSequenceOffset, ping_sequence);
        if (!PushQueued(*record, record->ConnectionQueue, std::move(packet))) {
          return BufferFault::kQueueFull;
        }
        Schedule(slot);
        wake_sender = true;
      } else if (packet->PacketType() == kPongType && packet->Size() >= kPongLength &&
                 packet->U32At(kPongSequenceOffset) == record->ConnectionSendSeq) {
        const std::int32_t rtt = record->LastPingTimer.ElapsedMs(kPongLimitMs, false);
        if (rtt >= 0) record->AddRttSample(rtt);
      }
      return BufferFault::kNone;
    }

    case PacketClass::VoiceS2CPacket:
    case PacketClass::None:
      break;
  }
  return BufferFault::kNone;
}

BufferFault PacketBuffer::SendLocked(std::unique_ptr<Packet>&& packet, bool close_after) {
  const PacketClass cls = packet->Class();
  if (cls == PacketClass::None) return BufferFault::kInvalidPacketOnBuffer;
  const auto found = connections_.find(packet->PlayerId());
  if (found == connections_.end()) return BufferFault::kNone;
  Slot& slot = found->second;
  SingleConnection* record = slot.record.get();
  if (IsVoice(cls) && record->State != csConnected) return BufferFault::kVoiceToUnconnected;
  if (record->State == csClosing || record->State == csClosed) {
    return BufferFault::kSendToClosing;
  }
  FIFOList* queue = nullptr;
  switch (cls) {
    case PacketClass::CommandPacket: queue = &record->ReliableQueue; break;
    case PacketClass::VoiceS2CPacket: queue = &record->VoiceQueue; break;
    case PacketClass::ConnectionPacket: queue = &record->ConnectionQueue; break;
    default: return BufferFault::kInvalidPacketOnBuffer;
  }
  if (!PushQueued(*record, *queue, std::move(packet))) {
    if (cls == PacketClass::CommandPacket && !record->Failed) {
      // The client has stopped taking commands: it times out.
      PushDue(timeouts_, clock_.Now(), *record);
      record->Failed = true;
    }
    return BufferFault::kQueueFull;
  }
  Schedule(slot);
  if (close_after) {
    record->BeginClosing();
    UncountLogin(slot);
    PushDue(timeouts_, clock_.Now() + std::chrono::milliseconds(record->ClosingTimeout), *record);
  }
  return BufferFault::kNone;
}

BufferFault PacketBuffer::Send(std::unique_ptr<Packet> packet, bool close_after) {
  BufferFault fault;
  {
    std::lock_guard lock(mu_);
    fault = SendLocked(std::move(packet), close_after);
  }
  if (fault == BufferFault::kQueueFull) throw FIFOListError(FaultText(fault));
  if (fault == BufferFault::kNone) send_event_.Signal();
  return fault;
}

std::size_t PacketBuffer::SendAll(std::span<std::unique_ptr<Packet>> packets, bool wake_sender) {
  std::size_t full = 0;
  bool queued = false;
  {
    std::lock_guard lock(mu_);
    for (std::unique_ptr<Packet>& packet : packets) {
      const BufferFault fault = SendLocked(std::move(packet), false);
      queued |= fault == BufferFault::kNone;
      full += fault == BufferFault::kQueueFull;
    }
  }
  if (queued && wake_sender) send_event_.Signal();
  // What was refused goes back to the pool, outside the lock.
  std::vector<std::unique_ptr<Packet>> refused;
  for (std::unique_ptr<Packet>& packet : packets) {
    if (packet) refused.push_back(std::move(packet));
  }
  if (!refused.empty()) pool_.Give(refused);
  return full;
}

std::optional<IncomingEvent> PacketBuffer::PollIncoming(std::int32_t* wait_ms) {
  const Stopwatch now(clock_);
  std::lock_guard lock(mu_);
  if (Stopping()) return IncomingEvent{0, 0, beStopping, nullptr};
  receive_event_.Reset();

  while (const std::optional<Due> due = PopDue(timeouts_, now.StartTime())) {
    Slot* slot = FindSlot(due->player_id, due->connection_id);
    if (slot == nullptr) continue;  // removed meanwhile
    SingleConnection& record = *slot->record;
    std::optional<BufferEvent> kind;
    std::int32_t left = 0;
    if (record.IsClosed(now)) {
      kind = beClosed;
    } else if ((left = record.TimeUntilTimeout(now)) == 0) {
      kind = beTimeout;
    }
    // A reported record is reported again on the next call, until removed.
    PushDue(timeouts_, now.StartTime() + std::chrono::milliseconds(left), record);
    if (kind) return IncomingEvent{record.PlayerId, record.ConnectionId, *kind, nullptr};
  }

  if (auto packet = incoming_.Pop()) {
    if (IsLoginRequest(*packet)) {
      // From now on the login is counted by the record the listener adds.
      --logins_;
      const auto it = logins_by_address_.find(packet->PeerAddress());
      if (it != logins_by_address_.end() && --it->second.pending == 0 &&
          it->second.connecting == 0) {
        logins_by_address_.erase(it);
      }
    }
    const std::uint32_t player_id = packet->PlayerId();
    const std::uint32_t connection_id = packet->ConnectionId();
    return IncomingEvent{player_id, connection_id, bePacket, std::move(packet)};
  }
  if (wait_ms != nullptr) *wait_ms = WaitFor(timeouts_, now.StartTime());
  return std::nullopt;
}

std::optional<IncomingEvent> PacketBuffer::PollIncomingVoice(bool& other_work) {
  other_work = false;
  std::lock_guard lock(mu_);
  if (Stopping()) return std::nullopt;
  // Connection events that are due come first, as in PollIncoming.
  if (!timeouts_.empty() && timeouts_.top().at <= clock_.Now()) {
    other_work = true;
    return std::nullopt;
  }
  const Packet* front = incoming_.Front();
  if (front == nullptr) return std::nullopt;
  if (front->Class() != PacketClass::VoiceC2SPacket) {
    other_work = true;
    return std::nullopt;
  }
  std::unique_ptr<Packet> packet = incoming_.Pop();
  const std::uint32_t player_id = packet->PlayerId();
  const std::uint32_t connection_id = packet->ConnectionId();
  return IncomingEvent{player_id, connection_id, bePacket, std::move(packet)};
}

void PacketBuffer::WaitIncoming(std::int32_t wait_ms) {
  if (Stopping()) return;
  receive_event_.WaitFor(wait_ms + kWaitSlackMs);
}

void PacketBuffer::WakeListener() { receive_event_.Signal(); }

IncomingEvent PacketBuffer::GetNextIncoming() {
  for (;;) {
    std::int32_t wait = kMaxWaitMs;
    if (auto event = PollIncoming(&wait)) return std::move(*event);
    WaitIncoming(wait);
  }
}

std::size_t PacketBuffer::PollOutgoing(std::vector<std::unique_ptr<Packet>>& out,
                                       std::size_t max, std::int32_t* wait_ms) {
  const Stopwatch now(clock_);
  const std::size_t first = out.size();
  std::int32_t wait = kMaxWaitMs;
  {
    std::lock_guard lock(mu_);
    send_event_.Reset();
    while (const std::optional<Due> due = PopDue(retransmits_, now.StartTime())) {
      Slot* slot = FindSlot(due->player_id, due->connection_id);
      if (slot == nullptr) continue;
      slot->retransmit_armed = false;
      if (!slot->record->InFlight) continue;  // acknowledged meanwhile
      if (slot->record->TimeUntilSend(now) == 0) {
        Schedule(*slot);
      } else {
        ArmRetransmit(*slot, now);
      }
    }
    // Records take turns: each gives one datagram and goes to the back of the
    // line while it has more.
    while (out.size() - first < max && !ready_.empty()) {
      const auto [player_id, connection_id] = ready_.front();
      ready_.pop_front();
      Slot* slot = FindSlot(player_id, connection_id);
      if (slot == nullptr) continue;
      slot->scheduled = false;
      SingleConnection& record = *slot->record;
      if (record.State == csClosed) continue;
      if (std::unique_ptr<Packet> packet = record.NextOutgoing(now)) {
        out.push_back(std::move(packet));
      }
      const bool more = !record.DirectQueue.Empty() || !record.VoiceQueue.Empty() ||
                        !record.ConnectionQueue.Empty() ||
                        (!record.InFlight && !record.ReliableQueue.Empty());
      if (more) Schedule(*slot);
      ArmRetransmit(*slot, now);
    }
    if (out.size() == first) wait = WaitFor(retransmits_, now.StartTime());
  }
  const std::size_t taken = out.size() - first;
  if (taken > 0) {
    std::uint64_t bytes = 0;
    for (std::size_t i = first; i < out.size(); ++i) bytes += out[i]->Size();
    packets_sent_.fetch_add(static_cast<std::uint32_t>(taken), std::memory_order_relaxed);
    bytes_sent_.fetch_add(bytes, std::memory_order_relaxed);
  } else if (wait_ms != nullptr) {
    *wait_ms = wait;
  }
  return taken;
}

std::unique_ptr<Packet> PacketBuffer::PollOutgoing(std::int32_t* wait_ms) {
  std::vector<std::unique_ptr<Packet>> one;
  PollOutgoing(one, 1, wait_ms);
  return one.empty() ? nullptr : std::move(one.front());
}

std::unique_ptr<Packet> PacketBuffer::GetNextOutgoing() {
  while (!Stopping()) {
    std::int32_t wait = kMaxWaitMs;
    if (auto packet = PollOutgoing(&wait)) return packet;
    WaitOutgoing(wait);
  }
  return nullptr;
}

void PacketBuffer::WaitOutgoing(std::int32_t wait_ms) {
  if (Stopping()) return;
  send_event_.WaitFor(wait_ms + kWaitSlackMs);
}

bool PacketBuffer::AddConnection(std::uint32_t player_id, std::uint32_t connection_id,
                                 std::string peer_address, std::uint16_t peer_port,
                                 std::uint32_t initial_connection_sequence) {
  auto record = std::make_unique<SingleConnection>(clock_, player_id, connection_id,
                                                   std::move(peer_address), peer_port,
                                                   initial_connection_sequence);
  std::lock_guard lock(mu_);
  if (Find(player_id) != nullptr) return false;
  // The login request that led here left the pending count when it was taken
  // out of Incoming; its record now takes its place, under the same caps.
  if (!LoginAllowed(record->PeerAddress)) return false;
  ++logins_;
  ++logins_by_address_[record->PeerAddress].connecting;
  PushDue(timeouts_,
          clock_.Now() + std::chrono::milliseconds(record->StateTimeout()), *record);
  connections_.emplace(player_id, Slot{std::move(record)});
  return true;
}

bool PacketBuffer::HasConnection(std::uint32_t player_id) {
  std::lock_guard lock(mu_);
  return Find(player_id) != nullptr;
}

void PacketBuffer::RemoveConnection(std::uint32_t player_id, std::uint64_t connection_id) {
  std::unique_ptr<SingleConnection> removed;  // freed after the lock is released
  std::lock_guard lock(mu_);
  const auto it = connections_.find(player_id);
  if (it == connections_.end()) return;
  if (connection_id != kAnyConnection && it->second.record->ConnectionId != connection_id) return;
  Slot& slot = it->second;
  if (slot.counted_as_login) {
    slot.record->State = csClosed;  // leaves the login counts
    UncountLogin(slot);
  }
  // Entries in the sender's line and the deadline queues are skipped once
  // the record is gone.
  removed = std::move(slot.record);
  connections_.erase(it);
}

std::optional<ConnectionStats> PacketBuffer::GetConnectionStats(std::uint32_t player_id) {
  std::lock_guard lock(mu_);
  const SingleConnection* record = Find(player_id);
  if (record == nullptr) return std::nullopt;
  ConnectionStats stats;
  stats.connection_id = record->ConnectionId;
  stats.packets_sent = record->PacketsSent;
  stats.bytes_sent = static_cast<std::uint32_t>(record->BytesSent);
  stats.packets_received = record->PacketsReceived;
  stats.bytes_received = static_cast<std::uint32_t>(record->BytesReceived);
  stats.peer_address = record->PeerAddress;
  stats.peer_port = record->PeerPort;
  if (record->PacketsReceived != 0) {
    const double lost = static_cast<double>(record->PacketsLost);
    const double total = static_cast<double>(record->PacketsReceived) + lost;
    stats.loss = static_cast<std::uint16_t>(std::nearbyint(lost * 10000.0 / total));
  }
  stats.ping = static_cast<std::uint16_t>(std::clamp(record->AverageRtt, 0, 65535));
  return stats;
}

BufferStats PacketBuffer::GetBufferStats() const {
  return BufferStats{packets_sent_.load(std::memory_order_relaxed),
                     packets_received_.load(std::memory_order_relaxed),
                     bytes_sent_.load(std::memory_order_relaxed),
                     bytes_received_.load(std::memory_order_relaxed)};
}

int PacketBuffer::ConnectionCount() {
  std::lock_guard lock(mu_);
  return static_cast<int>(connections_.size());
}

bool PacketBuffer::StopBuffer() {
  {
    // Set under the lock: a worker either sees the flag in its next pass or
    // has already reset its event, so the signal below reaches it.
    std::lock_guard lock(mu_);
    stopping_.store(true, std::memory_order_release);
    if (stopped_threads_ == kBothWorkersStopped) return true;
  }
  receive_event_.Signal();
  send_event_.Signal();
  return stopped_event_.WaitFor(kStopWaitMs) == WaitSignaled;
}

void PacketBuffer::ThreadStopped(int bit) {
  if (bit < 0 || bit > 7) return;
  bool both = false;
  {
    std::lock_guard lock(mu_);
    stopped_threads_ |= static_cast<std::uint8_t>(1u << bit);
    both = stopped_threads_ == kBothWorkersStopped;
  }
  if (both) stopped_event_.Signal();
}

}  // namespace voxhall::transport
