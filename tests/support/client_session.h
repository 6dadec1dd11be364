// The client end of the voice protocol's transport, without a socket or a
// thread: it numbers the client's own commands and sends them stop-and-wait
// (one unacknowledged command at a time, resent until acknowledged),
// acknowledges every command packet it receives and delivers each sequence
// once and in order, drops older connection packets, counts voice, sends
// keep-alive pings and decodes what it receives into records.
//
// Whoever owns the socket feeds it received datagrams (Receive) and sends
// what NextOutgoing hands out, calling it again at NextWake at the latest.
// Used by VoiceClient (one thread per client, for tests) and by
// voxhall-bench (many sessions on one epoll loop). Not thread-safe: the
// owner serialises calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "support/client_records.h"
#include "support/client_requests.h"

namespace voxhall::testing {

struct SessionTiming {
  // Interval between transmissions of an unacknowledged command.
  std::chrono::milliseconds resend_interval{100};
  // Keep-alive: ping when nothing was sent for this long, or nothing was
  // received and no ping sent for this long (only once logged in).
  std::chrono::milliseconds keepalive{3000};
  bool keepalive_enabled = true;
  // Whether received command packets are acknowledged (tests of the
  // server's resends turn this off).
  bool acknowledge = true;
};

class ClientSession {
 public:
  using Clock = std::chrono::steady_clock;

  using Timing = SessionTiming;

  explicit ClientSession(Timing timing = {});

  // Queues the login request (connection packet type 3 with both ids 0).
  void StartLogin(const LoginRequest& request);
  // Queues a command; answers the Sequence it carries (commands are numbered
  // in the order they are queued, from 1).
  std::uint32_t QueueCommand(Command command);
  // Queues a ping; answers its Sequence.
  std::uint32_t QueuePing();
  // Queues a voice packet with the session's ids and next voice counter.
  void QueueVoice(std::uint8_t mode, std::span<const std::uint8_t> data,
                  std::span<const WhisperTarget> targets = {}, std::uint8_t voice_byte = 0,
                  std::uint16_t voice_word = 0);
  // Queues a datagram to go out exactly as given.
  void QueueRaw(std::vector<std::uint8_t> datagram);

  // Handles one received datagram. Answers its record, or nothing for an
  // acknowledgement, a repeated or out-of-order command, or an older
  // connection packet.
  std::optional<Record> Receive(std::span<const std::uint8_t> datagram, Clock::time_point now);

  // The next datagram to send at `now`, or nothing.
  std::optional<std::vector<std::uint8_t>> NextOutgoing(Clock::time_point now);
  // When NextOutgoing should be asked again at the latest.
  Clock::time_point NextWake(Clock::time_point now) const;

  void set_timing(const Timing& timing) { timing_ = timing; }
  const Timing& timing() const { return timing_; }

  // Ids the server gave in its login reply (0 before).
  std::uint32_t connection_id() const { return connection_id_; }
  std::uint32_t player_id() const { return player_id_; }
  // The login reply's result, 0 before it arrived.
  std::int32_t login_result() const { return login_result_; }
  // Whether login step 6 has arrived.
  bool logged_in() const { return logged_in_; }
  // Whether every queued command has been acknowledged.
  bool AllAcknowledged() const { return !in_flight_ && commands_.empty(); }

  // Counters.
  std::uint64_t commands_resent() const { return commands_resent_; }
  std::uint64_t acks_sent() const { return acks_sent_; }
  std::uint64_t duplicates_dropped() const { return duplicates_dropped_; }
  std::uint64_t voice_received() const { return voice_received_; }

  // The next voice counter and the connection-packet sequence, for owners
  // that build voice themselves (voxhall-bench).
  std::uint16_t TakeVoiceCounter();

 private:
  struct InFlight {
    Command command;
    std::uint32_t sequence = 0;
    std::uint16_t resend_count = 0;
    Clock::time_point last_sent{};
  };

  void NoteSent(Clock::time_point now) { last_send_ = now; }

  Timing timing_;
  std::uint32_t connection_id_ = 0;
  std::uint32_t player_id_ = 0;
  std::int32_t login_result_ = 0;
  bool logged_in_ = false;

  std::deque<std::vector<std::uint8_t>> ready_;  // acks, voice, connection and raw datagrams
  std::deque<std::pair<std::uint32_t, Command>> commands_;  // numbered, not yet sent
  std::optional<InFlight> in_flight_;
  std::uint32_t command_queued_seq_ = 0;
  std::uint32_t command_recv_next_ = 1;
  std::uint32_t connection_send_seq_ = 0;
  std::uint32_t connection_recv_next_ = 0;
  std::uint16_t voice_counter_ = 0;

  Clock::time_point last_send_{};
  Clock::time_point last_receive_{};
  Clock::time_point last_ping_{};
  bool clock_started_ = false;

  std::uint64_t commands_resent_ = 0;
  std::uint64_t acks_sent_ = 0;
  std::uint64_t duplicates_dropped_ = 0;
  std::uint64_t voice_received_ = 0;
};

}  // namespace voxhall::testing
