// SingleConnection: the transport state of one client. Who and where it is,
// its state, its four outgoing queues, the one command packet on its way and
// not yet acknowledged (stop-and-wait), the round-trip estimate that times
// retransmissions, the counters that detect lost datagrams, and statistics.
// The packet buffer creates, owns and destroys the records and calls every
// operation under its lock; nothing else touches a record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/clock.h"
#include "transport/fifo_list.h"
#include "transport/packet.h"
#include "transport/stopwatch.h"

namespace voxhall::transport {

enum ConnectionState : std::uint8_t {
  csConnecting = 0,  // created at login, waits for the acknowledgement of login step 6
  csConnected = 1,
  csClosing = 2,     // sends what is queued, takes nothing new
  csClosed = 3,      // final: waits for the listener to remove it
};

class SingleConnection {
 public:
  static constexpr int kRttSampleCount = 16;
  // Times measured against a timer further back than this (or in the future)
  // restart the timer and count as 0.
  static constexpr std::int32_t kTimerLimitMs = 120000;
  // TimeUntilSend when no command is in flight.
  static constexpr std::int32_t kIdleSendWaitMs = 3000;
  // The command whose acknowledgement completes the login.
  static constexpr std::uint16_t kLoginStep6Type = 8;

  // A record in csConnecting; all timers start now. `clock` must outlive it.
  SingleConnection(const Clock& clock, std::uint32_t player_id, std::uint32_t connection_id,
                   std::string peer_address, std::uint16_t peer_port,
                   std::uint32_t initial_connection_sequence);
  SingleConnection(const SingleConnection&) = delete;
  SingleConnection& operator=(const SingleConnection&) = delete;

  // Stores a round-trip sample in the ring of the last 16 and recomputes
  // AverageRtt (their mean) and ResendTimeout (1.2 times it, at least 10),
  // both rounded half to even.
  void AddRttSample(std::int32_t ms);

  // Bookkeeping for a received command packet: counts it and queues its
  // acknowledgement. True when it is the next in order and is to be
  // delivered; false for a repetition or one out of order (acknowledged and
  // dropped). Throws FIFOListError when DirectQueue is full; the command is
  // then neither acknowledged nor delivered.
  bool AcceptCommand(std::uint32_t sequence, std::uint16_t resend_count, std::size_t size);

  // Bookkeeping for a received acknowledgement; true when it acknowledges
  // InFlight, which is then released (the sender has work again). An
  // acknowledgement sent for the first transmission gives a round-trip
  // sample; one for a retransmission counts resend_count packets as lost.
  // The acknowledgement of login step 6 makes a connecting record connected.
  // A closing record is closed once the acknowledged command was the last one
  // it had to send.
  bool HandleAck(std::uint32_t sequence, std::uint16_t resend_count, const Stopwatch& now);

  // Counts a received packet that is not a command (those are counted by
  // AcceptCommand).
  void CountDelivered(const Packet& packet);

  // Loss accounting for a received voice counter: a gap below 10000 counts
  // as lost; VoiceRecvNext moves behind the counter (wrapping to 0 at 65535).
  // Late or repeated counters change nothing.
  void AcceptVoiceCounter(std::uint16_t counter);

  // Filter for a received connection packet: false for one older than
  // ConnectionRecvNext (to be dropped); otherwise counts the gap as lost,
  // moves ConnectionRecvNext behind it and answers true.
  bool AcceptConnectionSequence(std::uint32_t sequence);

  void SetPeer(const std::string& address, std::uint16_t port);

  // The next datagram to transmit, ready to go (numbered, checksummed,
  // addressed), or null. Order: acknowledgement, due retransmission of
  // InFlight, next command (which becomes InFlight), voice, connection
  // packet. The caller owns the packet; InFlight itself stays here.
  std::unique_ptr<Packet> NextOutgoing(const Stopwatch& now);

  // How long the sender may sleep as far as this record is concerned, in ms.
  std::int32_t TimeUntilSend(const Stopwatch& now);

  // The silence limit of the current state in ms (0 for csClosed).
  std::int32_t StateTimeout() const;

  // What is left of StateTimeout since the last datagram received (for a
  // closing record: since the close was requested); 0 when the record has
  // timed out. A client that keeps sending but does not acknowledge times out
  // all the same: the command in flight may wait ConnectedTimeout for its
  // acknowledgement, no longer. A record marked Failed has timed out.
  std::int32_t TimeUntilTimeout(const Stopwatch& now);

  // Makes the record csClosing and starts its closing deadline: whatever the
  // client sends from now on, the record closes ClosingTimeout later at the
  // latest.
  void BeginClosing();

  // Completes a closing record whose close was requested ClosingTimeout ago
  // and answers whether the record is closed.
  bool IsClosed(const Stopwatch& now);

  // The fields, readable by the buffer and its statistics.
  std::uint32_t PlayerId;
  std::uint32_t ConnectionId;
  std::string PeerAddress;
  std::uint16_t PeerPort;
  ConnectionState State = csConnecting;
  FIFOList DirectQueue{16, 1024, 16};      // acknowledgements waiting to be sent
  FIFOList ReliableQueue{16, 1024, 16};    // command packets not yet sent
  FIFOList VoiceQueue{16, 1024, 16};       // voice packets to send
  FIFOList ConnectionQueue{16, 1024, 16};  // connection packets to send
  std::uint32_t CommandSendSeq = 0;        // Sequence of the last command sent
  std::uint32_t VoiceSendCounter = 0;      // VoiceCounter of the last voice packet sent
  std::uint32_t ConnectionSendSeq;         // Sequence of the last connection packet sent
  std::uint32_t CommandRecvNext = 1;       // next command Sequence to deliver
  std::uint32_t VoiceRecvNext = 1;         // next VoiceCounter expected
  std::uint32_t ConnectionRecvNext;        // lowest connection Sequence still accepted
  std::unique_ptr<Packet> InFlight;        // sent, not yet acknowledged
  Stopwatch FirstSendTimer;                // first transmission of InFlight
  Stopwatch RetransmitTimer;               // latest transmission of InFlight
  std::int32_t ResendTimeout = 60;
  std::array<std::int32_t, kRttSampleCount> RttSamples;
  std::int32_t RttIndex = 0;
  std::int32_t AverageRtt = 50;
  Stopwatch LastReceiveTimer;
  Stopwatch LastSendTimer;
  Stopwatch LastPingTimer;  // the server sends no pings: runs from creation
  Stopwatch ClosingTimer;   // started by BeginClosing
  const std::int32_t ClosingTimeout = 2000;
  const std::int32_t ConnectingTimeout = 2000;
  const std::int32_t ConnectedTimeout = 15000;
  std::uint32_t PacketsSent = 0;
  std::uint64_t BytesSent = 0;
  std::uint32_t PacketsReceived = 0;
  std::uint64_t BytesReceived = 0;
  std::uint64_t PacketsLost = 0;
  // Set by the buffer when the client cannot keep up (its command queue is
  // full): the record then counts as timed out.
  bool Failed = false;

 private:
  // Time since `timer`, restarting it and counting 0 when out of range.
  static std::int32_t Since(Stopwatch& timer, const Stopwatch& now) {
    return timer.MsBetween(kTimerLimitMs, now);
  }
};

}  // namespace voxhall::transport
