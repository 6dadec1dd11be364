// PacketBuffer: where one virtual server's socket reader, listener, sender
// and statistics readers meet. It owns the connection records and applies the
// reliable-command, acknowledgement, voice-counting, ping/pong, time-out and
// closing rules of the server end of the protocol. The socket reader calls
// ReceivePackets and takes the voice that is next in line (PollIncomingVoice);
// the listener PollIncoming, Send, SendAll, AddConnection and
// RemoveConnection; whichever thread writes, PollOutgoing; anyone the
// statistics. Every operation is safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <deque>
#include <optional>
#include <queue>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "transport/auto_reset_event.h"
#include "transport/clock.h"
#include "transport/connection.h"
#include "transport/fifo_list.h"
#include "transport/packet.h"
#include "transport/packet_pool.h"

namespace voxhall::transport {

// What GetNextIncoming reports; the values are fixed.
enum BufferEvent : std::uint8_t {
  bePacket = 0,    // a received packet
  beTimeout = 1,   // the connection has been silent longer than its state allows
  beClosed = 2,    // the connection has finished closing
  beStopping = 3,  // the buffer is stopping
};

// Why ReceivePacket or Send did not take a datagram. FaultText gives the
// texts the log shows for them.
enum class BufferFault : std::uint8_t {
  kNone,                   // taken, or dropped silently (no such connection, old packet)
  kInvalidPacket,          // "Invalid Packet": no class, or wrong checksum
  kS2CRecvOnServer,        // "S2C recv on Server"
  kWrongConnection,        // "wrong Connection + player combo"
  kRecvAfterClose,         // "recv data after close"
  kCommandWhileClosing,    // "recv command while closing." (acknowledged, not delivered)
  kVoiceDuringLogin,       // "Recv voice data during login"
  kVoiceToUnconnected,     // "Sending voice packet to pre connected, closing or closed connection"
  kSendToClosing,          // "Sending packet to closing or closed connection"
  kInvalidPacketOnBuffer,  // "Invalid packet on buffer"
  kQueueFull,              // "Can't allocate needed memory"
};

const char* FaultText(BufferFault fault);

// A buffer fault as an exception, for callers that report it through their
// exception boundary; what() is FaultText(fault()).
class PacketBufferError : public std::runtime_error {
 public:
  explicit PacketBufferError(BufferFault fault)
      : std::runtime_error(FaultText(fault)), fault_(fault) {}
  BufferFault fault() const { return fault_; }

 private:
  BufferFault fault_;
};

struct IncomingEvent {
  std::uint32_t player_id = 0;  // the packet's PlayerId (0 for a login request) or the record's
  // The packet's ConnectionId or the record's. An event concerns a player only
  // when the player's ConnectionId is this one too.
  std::uint32_t connection_id = 0;
  BufferEvent kind = beStopping;
  std::unique_ptr<Packet> packet;  // bePacket only; owned by the caller
};

struct ConnectionStats {
  std::uint32_t connection_id = 0;
  std::uint32_t packets_sent = 0;
  std::uint32_t bytes_sent = 0;  // low 32 bits of the total
  std::uint32_t packets_received = 0;
  std::uint32_t bytes_received = 0;  // low 32 bits of the total
  std::string peer_address;
  std::uint16_t peer_port = 0;
  std::uint16_t loss = 0;  // hundredths of a percent
  std::uint16_t ping = 0;  // AverageRtt in ms
};

struct BufferStats {
  std::uint32_t packets_sent = 0;
  std::uint32_t packets_received = 0;
  std::uint64_t bytes_sent = 0;
  std::uint64_t bytes_received = 0;
};

class PacketBuffer {
 public:
  // The bits the two workers report with ThreadStopped.
  static constexpr int kSenderStoppedBit = 0;
  static constexpr int kListenerStoppedBit = 1;
  // Longest sleep of a worker with nothing due, and what is added to a wait.
  static constexpr std::int32_t kMaxWaitMs = 1000;
  static constexpr std::int32_t kWaitSlackMs = 2;
  // How long StopBuffer waits for the workers' reports.
  static constexpr std::int32_t kStopWaitMs = 2000;
  // Byte bounds beside the packet counts of the queues, so that memory stays
  // bounded by bytes whatever the datagrams' sizes: Incoming holds at most
  // 1 MiB of received datagrams (4096 voice packets of 256 bytes); the four
  // outgoing queues of one connection together at most 1 MiB. Datagrams
  // themselves are at most kMaxDatagramLength (2 KiB) long.
  static constexpr std::size_t kMaxIncomingBytes = 1 << 20;
  static constexpr std::size_t kMaxQueuedBytesPerConnection = 1 << 20;
  // Logins in progress (login requests waiting in Incoming plus records not
  // yet logged in, csConnecting) are capped per server and per source
  // address; login requests beyond either cap are dropped without an answer
  // (the client asks again), so a flood of spoofed requests cannot grow the
  // connection table. The per-address cap leaves room for many players
  // behind one NAT starting at once.
  static constexpr int kMaxLoginsPerServer = 512;
  static constexpr int kMaxLoginsPerAddress = 32;

  // `clock` must outlive the buffer.
  explicit PacketBuffer(const Clock& clock = DefaultClock());
  PacketBuffer(const PacketBuffer&) = delete;
  PacketBuffer& operator=(const PacketBuffer&) = delete;

  // Marks the buffer stopping and frees every record and queued packet.
  // REQUIRES: no thread is inside the buffer or will enter it again; the
  // owner has joined both workers (StopBuffer is their signal to leave).
  ~PacketBuffer();

  // Takes a received datagram whose peer is set. Validates it and applies it
  // to its connection: delivers it to the listener, acknowledges it, answers
  // it or drops it. Answers kNone, or why it was rejected; the packet is
  // freed in every case it was not kept. Never throws for bad input.
  BufferFault ReceivePacket(std::unique_ptr<Packet> packet);
  // The same for datagrams received together, under one lock acquisition
  // and with one wake-up of each worker. Every packet is taken (the elements
  // are left null). With `fault`, the last rejection is stored there.
  // With `wake` false the listener is not woken: the caller handles the
  // voice itself (PollIncomingVoice) and wakes it (WakeListener) for the rest.
  void ReceivePackets(std::span<std::unique_ptr<Packet>> packets, BufferFault* fault = nullptr,
                      bool wake = true);

  // Queues a packet for the connection named by its PlayerId field; with
  // `close_after` the connection then becomes csClosing and closes once the
  // packet has been acknowledged. A packet for no connection is freed
  // silently; a refused one (the fault answered) is freed too, and the
  // caller need not look at the answer. Throws FIFOListError "Can't allocate
  // needed memory" when the connection's queue is full, or its queues hold
  // kMaxQueuedBytesPerConnection bytes (the packet is freed). A connection
  // whose command queue is full is then reported as timed out.
  BufferFault Send(std::unique_ptr<Packet> packet, bool close_after);

  // Queues several packets, each as Send(packet, false) would, under one
  // lock acquisition, and wakes the sender once: the relay of one voice frame
  // to all its receivers. Every packet is taken (the elements are left null;
  // refused ones go back to the pool).
  // Answers how many were refused because their connection's queues were
  // full; the caller reports those as Send's FIFOListError would have been.
  // With `wake_sender` false the sender is not woken: the caller writes the
  // packets itself (VHUDPSender::WriteReady).
  std::size_t SendAll(std::span<std::unique_ptr<Packet>> packets, bool wake_sender = true);

  // Blocks until an event is available. Connection events come before
  // packets, one per call, from the records in turn; a timed-out or closed
  // record is reported on every call until it is removed. Answers beStopping
  // at once when the buffer is stopping.
  IncomingEvent GetNextIncoming();

  // One pass of GetNextIncoming without waiting: the event, or nothing and
  // in *wait_ms how long the caller may sleep before the next pass.
  std::optional<IncomingEvent> PollIncoming(std::int32_t* wait_ms = nullptr);
  // The next event when it is a received voice packet and no connection
  // event is due; otherwise nothing, with `other_work` telling whether
  // something else waits (which the listener thread then has to take).
  std::optional<IncomingEvent> PollIncomingVoice(bool& other_work);
  // Sleeps until an event may be there, the buffer stops or `wait_ms` (as
  // PollIncoming gave it) has passed.
  void WaitIncoming(std::int32_t wait_ms);
  // Wakes the listener, as a received packet does.
  void WakeListener();

  // Blocks until a datagram is ready and answers it, ready to be written to
  // its PeerAddress and PeerPort; one datagram per call, from the
  // connections in turn. Null means the buffer is stopping: the sender then
  // leaves its loop and calls ThreadStopped(kSenderStoppedBit).
  std::unique_ptr<Packet> GetNextOutgoing();

  // One pass of GetNextOutgoing without waiting: the datagram (counted as
  // sent), or null and in *wait_ms how long the caller may sleep.
  std::unique_ptr<Packet> PollOutgoing(std::int32_t* wait_ms = nullptr);
  // One pass for up to `max` datagrams, appended to `out`; answers how many.
  std::size_t PollOutgoing(std::vector<std::unique_ptr<Packet>>& out, std::size_t max,
                           std::int32_t* wait_ms = nullptr);
  // Sleeps until something is queued for sending, the buffer stops or
  // `wait_ms` (as PollOutgoing gave it) has passed.
  void WaitOutgoing(std::int32_t wait_ms);

  // Adds a record in csConnecting. Refused (false) when a record with the
  // same player id exists (a player id names at most one record, so that an
  // event about an old record can never be taken for a newer one) or when the
  // logins in progress already reach a cap (see kMaxLoginsPerServer).
  bool AddConnection(std::uint32_t player_id, std::uint32_t connection_id,
                     std::string peer_address, std::uint16_t peer_port,
                     std::uint32_t initial_connection_sequence);
  // Whether a record, in whatever state, uses the player id.
  bool HasConnection(std::uint32_t player_id);
  // Removes and frees the record of the player, only when its ConnectionId is
  // `connection_id` (any, with kAnyConnection); nothing when there is none.
  static constexpr std::uint64_t kAnyConnection = ~std::uint64_t{0};
  void RemoveConnection(std::uint32_t player_id, std::uint64_t connection_id = kAnyConnection);

  // Statistics of one connection, or nothing when it has no record.
  std::optional<ConnectionStats> GetConnectionStats(std::uint32_t player_id);
  // The four buffer counters; read without the lock, so they may lag.
  BufferStats GetBufferStats() const;
  int ConnectionCount();

  // Marks the buffer stopping, wakes both workers and waits at most
  // kStopWaitMs for both to report; answers whether they did.
  bool StopBuffer();
  // A worker reports that it has left its loop (bits 0 to 7; others are
  // ignored). Once both workers have reported, StopBuffer returns.
  void ThreadStopped(int bit);
  bool Stopping() const { return stopping_.load(std::memory_order_acquire); }

  // Packets for the voice relay to fill, given back by the sender once
  // written.
  PacketPool& Pool() { return pool_; }

  // Tests only: the record of a player, unsynchronised; no other thread may
  // use the buffer meanwhile.
  SingleConnection* TEST_FindConnection(std::uint32_t player_id) { return Find(player_id); }

 private:
  // A record with the buffer's bookkeeping about it.
  struct Slot {
    std::unique_ptr<SingleConnection> record;
    bool scheduled = false;           // in ready_
    bool retransmit_armed = false;    // has an entry in retransmits_
    bool counted_as_login = true;     // counted in the login caps (csConnecting)
  };
  // A time at which a record is to be looked at again. Entries are hints:
  // the record's own timers decide, and entries of removed records or of an
  // earlier connection under the same player id are skipped.
  struct Due {
    Clock::TimePoint at;
    std::uint64_t order;  // ties go first in, first out
    std::uint32_t player_id;
    std::uint32_t connection_id;
    bool operator>(const Due& o) const { return at != o.at ? at > o.at : order > o.order; }
  };
  using DueQueue = std::priority_queue<Due, std::vector<Due>, std::greater<Due>>;
  struct Logins {
    int pending = 0;     // login requests in Incoming
    int connecting = 0;  // records in csConnecting
  };

  // The record of a player, or null.
  SingleConnection* Find(std::uint32_t player_id);  // REQUIRES: mu_ held
  // The slot of a player when it belongs to `connection_id`, or null.
  Slot* FindSlot(std::uint32_t player_id, std::uint32_t connection_id);  // REQUIRES: mu_ held
  void PushDue(DueQueue& queue, Clock::TimePoint at, const SingleConnection& record);
  // The first entry of `queue` that is due at `now`, removed; nothing when none is.
  std::optional<Due> PopDue(DueQueue& queue, Clock::TimePoint now);
  // How long until the first entry of `queue` is due, at most kMaxWaitMs.
  std::int32_t WaitFor(const DueQueue& queue, Clock::TimePoint now) const;
  // Puts the record in line for the sender unless it is already.
  void Schedule(Slot& slot);  // REQUIRES: mu_ held
  // Gives the record an entry in retransmits_ while it has a command in flight.
  void ArmRetransmit(Slot& slot, const Stopwatch& now);  // REQUIRES: mu_ held
  // Takes a record that has left csConnecting out of the login counts.
  void UncountLogin(Slot& slot);  // REQUIRES: mu_ held
  bool LoginAllowed(const std::string& address) const;  // REQUIRES: mu_ held
  // Counts a received datagram and answers why it is rejected before any
  // record is looked at, or kNone.
  BufferFault Check(const Packet& packet);
  // Whether the packet is a login request (connection type 3, both ids 0).
  static bool IsLoginRequest(const Packet& packet);
  // Applies a valid packet of class `cls` to the records; sets the wake-ups
  // to give once the lock is released.
  BufferFault ReceiveLocked(std::unique_ptr<Packet> packet, PacketClass cls, bool& wake_listener,
                            bool& wake_sender);  // REQUIRES: mu_ held
  // Whether Incoming can take the packet.
  bool IncomingHasRoom(const Packet& packet) const;  // REQUIRES: mu_ held
  // Send without the lock and the wake-up; a full queue is answered
  // kQueueFull, not thrown, so that relaying to a backed-up receiver stays
  // cheap.
  BufferFault SendLocked(std::unique_ptr<Packet>&& packet, bool close_after);  // REQUIRES: mu_ held
  // Pushes onto one of the record's outgoing queues; false, the packet left
  // with the caller, when the queue is full or the record's queues would
  // exceed their byte bound.
  static bool PushQueued(SingleConnection& record, FIFOList& queue,
                         std::unique_ptr<Packet>&& packet);
  // Pushes onto Incoming unless it is full.
  bool PushIncoming(std::unique_ptr<Packet>&& packet);  // REQUIRES: mu_ held

  const Clock& clock_;
  PacketPool pool_;

  // The buffer's one lock. Guards the records and their queues, Incoming,
  // the sender's line, the deadlines, the login counts and StoppedThreads.
  // Taken inside the player-list and channel-list locks when the listener
  // calls; never held while waiting on an event.
  //
  // No operation scans all records: records are found by player id, the
  // sender takes records with something to send from ready_ (in turn, one
  // datagram each), retransmissions and time-outs come due through the two
  // deadline queues.
  std::mutex mu_;
  std::unordered_map<std::uint32_t, Slot> connections_;  // GUARDED_BY(mu_)
  FIFOList incoming_{512, 4096, 512};                     // GUARDED_BY(mu_)
  std::deque<std::pair<std::uint32_t, std::uint32_t>> ready_;  // player, connection
  DueQueue timeouts_;     // GUARDED_BY(mu_): when a record may time out or close
  DueQueue retransmits_;  // GUARDED_BY(mu_): when an in-flight command is due again
  std::uint64_t due_order_ = 0;                                 // GUARDED_BY(mu_)
  std::unordered_map<std::string, Logins> logins_by_address_;  // GUARDED_BY(mu_)
  int logins_ = 0;  // GUARDED_BY(mu_): pending plus connecting, all addresses
  std::uint8_t stopped_threads_ = 0;                            // GUARDED_BY(mu_)
  std::atomic<bool> stopping_{false};  // written under mu_, read anywhere

  AutoResetEvent receive_event_;  // wakes the listener
  AutoResetEvent send_event_;     // wakes the sender
  AutoResetEvent stopped_event_;  // both workers have reported

  // Written by the sender (sent) and under mu_ (received); read without it.
  std::atomic<std::uint32_t> packets_sent_{0};
  std::atomic<std::uint64_t> bytes_sent_{0};
  std::atomic<std::uint32_t> packets_received_{0};
  std::atomic<std::uint64_t> bytes_received_{0};
};

}  // namespace voxhall::transport
