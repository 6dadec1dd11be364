#include "transport/connection.h"

#include <algorithm>
#include <numeric>

namespace voxhall::transport {

namespace {

// num / den rounded to the nearest integer, halves to the even one. den > 0.
std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den) {
  std::int64_t q = num / den;
  std::int64_t r = num % den;
  if (r < 0) {  // floor division
    q -= 1;
    r += den;
  }
  if (2 * r > den || (2 * r == den && (q & 1) != 0)) ++q;
  return q;
}

// Gaps in voice counters of this size or more are wraps or resets, not loss.
constexpr std::uint32_t kMaxCountedVoiceGap = 10000;

}  // namespace

SingleConnection::SingleConnection(const Clock& clock, std::uint32_t player_id,
                                   std::uint32_t connection_id, std::string peer_address,
                                   std::uint16_t peer_port,
                                   std::uint32_t initial_connection_sequence)
    : PlayerId(player_id),
      ConnectionId(connection_id),
      PeerAddress(std::move(peer_address)),
      PeerPort(peer_port),
      ConnectionSendSeq(initial_connection_sequence),
      ConnectionRecvNext(initial_connection_sequence + 2),
      FirstSendTimer(clock),
      RetransmitTimer(clock),
      LastReceiveTimer(clock),
      LastSendTimer(clock),
      LastPingTimer(clock),
      ClosingTimer(clock) {
  RttSamples.fill(50);
}

void SingleConnection::AddRttSample(std::int32_t ms) {
  RttSamples[static_cast<std::size_t>(RttIndex)] = ms;
  RttIndex = (RttIndex + 1) % kRttSampleCount;
  const std::int64_t sum = std::accumulate(RttSamples.begin(), RttSamples.end(), std::int64_t{0});
  AverageRtt = static_cast<std::int32_t>(RoundHalfEven(sum, kRttSampleCount));
  // sum / 16 * 1.2 == sum * 3 / 40, kept exact.
  ResendTimeout = static_cast<std::int32_t>(std::max<std::int64_t>(10, RoundHalfEven(sum * 3, 40)));
}

bool SingleConnection::AcceptCommand(std::uint32_t sequence, std::uint16_t resend_count,
                                     std::size_t size) {
  PacketsReceived += 1;
  BytesReceived += size;
  auto ack = MakePacket(PacketClass::AckPacket, resend_count, ConnectionId, PlayerId);
  ack->SetSequence(sequence);
  DirectQueue.Push(std::move(ack));
  if (sequence != CommandRecvNext) return false;
  CommandRecvNext += 1;
  return true;
}

bool SingleConnection::HandleAck(std::uint32_t sequence, std::uint16_t resend_count,
                                 const Stopwatch& now) {
  PacketsReceived += 1;
  BytesReceived += kAckLength;
  if (!InFlight || InFlight->Sequence() != sequence) return false;
  if (resend_count == 0) {
    const std::int32_t rtt = Since(FirstSendTimer, now);
    if (rtt > 0) AddRttSample(rtt);
  } else {
    // Which transmission was answered is unknown: no sample.
    PacketsLost += resend_count;
  }
  if (State == csConnecting && InFlight->PacketType() == kLoginStep6Type) State = csConnected;
  // The close completes with the acknowledgement of the last command queued
  // before it, so the packet sent with the close (the departure notice) still
  // reaches the client.
  if (State == csClosing && ReliableQueue.Empty()) State = csClosed;
  InFlight.reset();
  return true;
}

void SingleConnection::CountDelivered(const Packet& packet) {
  if (packet.Class() == PacketClass::CommandPacket) return;
  PacketsReceived += 1;
  BytesReceived += packet.Size();
}

void SingleConnection::AcceptVoiceCounter(std::uint16_t counter) {
  if (counter < VoiceRecvNext) return;
  const std::uint32_t gap = counter - VoiceRecvNext;
  if (gap < kMaxCountedVoiceGap) PacketsLost += gap;
  VoiceRecvNext = counter + 1u;
  if (VoiceRecvNext >= 65535) VoiceRecvNext = 0;
}

bool SingleConnection::AcceptConnectionSequence(std::uint32_t sequence) {
  if (sequence < ConnectionRecvNext) return false;
  PacketsLost += sequence - ConnectionRecvNext;
  ConnectionRecvNext = sequence + 1;
  return true;
}

void SingleConnection::SetPeer(const std::string& address, std::uint16_t port) {
  PeerAddress = address;
  PeerPort = port;
}

std::unique_ptr<Packet> SingleConnection::NextOutgoing(const Stopwatch& now) {
  std::unique_ptr<Packet> packet;
  if (!DirectQueue.Empty()) {
    packet = DirectQueue.Pop();
  } else if (InFlight && Since(RetransmitTimer, now) > ResendTimeout) {
    InFlight->SetResendCount(static_cast<std::uint16_t>(InFlight->ResendCount() + 1));
    RetransmitTimer.Start();
    packet = std::make_unique<Packet>(*InFlight);
  } else if (!InFlight && !ReliableQueue.Empty()) {
    InFlight = ReliableQueue.Pop();
    CommandSendSeq += 1;
    InFlight->SetSequence(CommandSendSeq);
    InFlight->SetConnectionId(ConnectionId);
    InFlight->SetResendCount(0);
    FirstSendTimer.Start();
    RetransmitTimer.Assign(FirstSendTimer);
    packet = std::make_unique<Packet>(*InFlight);
  } else if (!VoiceQueue.Empty()) {
    packet = VoiceQueue.Pop();
    VoiceSendCounter += 1;
    if (VoiceSendCounter > 65535) VoiceSendCounter = 0;
    packet->SetVoiceCounter(static_cast<std::uint16_t>(VoiceSendCounter));
    packet->SetConnectionId(ConnectionId);
  } else if (!ConnectionQueue.Empty()) {
    packet = ConnectionQueue.Pop();
    ConnectionSendSeq += 1;
    packet->SetSequence(ConnectionSendSeq);
    packet->SetConnectionId(packet->PacketType() == kLoginReplyType ? 0 : ConnectionId);
  } else {
    return nullptr;
  }
  packet->UpdateChecksum();
  packet->SetPeer(PeerAddress, PeerPort);
  LastSendTimer.Start();
  PacketsSent += 1;
  BytesSent += packet->Size();
  return packet;
}

std::int32_t SingleConnection::TimeUntilSend(const Stopwatch& now) {
  if (!InFlight) return kIdleSendWaitMs;
  return std::max(0, ResendTimeout - Since(RetransmitTimer, now));
}

std::int32_t SingleConnection::StateTimeout() const {
  switch (State) {
    case csConnecting: return ConnectingTimeout;
    case csConnected: return ConnectedTimeout;
    case csClosing: return ClosingTimeout;
    case csClosed: break;
  }
  return 0;
}

std::int32_t SingleConnection::TimeUntilTimeout(const Stopwatch& now) {
  if (Failed) return 0;
  Stopwatch& since = State == csClosing ? ClosingTimer : LastReceiveTimer;
  std::int32_t left = std::max(0, StateTimeout() - Since(since, now));
  if (InFlight && State != csClosing) {
    left = std::min(left, std::max(0, ConnectedTimeout - Since(FirstSendTimer, now)));
  }
  return left;
}

void SingleConnection::BeginClosing() {
  State = csClosing;
  ClosingTimer.Start();
}

bool SingleConnection::IsClosed(const Stopwatch& now) {
  // Measured from the close request, not from the last datagram: a client
  // that keeps sending cannot keep a closing connection open.
  if (State == csClosing && Since(ClosingTimer, now) >= ClosingTimeout) State = csClosed;
  return State == csClosed;
}

}  // namespace voxhall::transport
