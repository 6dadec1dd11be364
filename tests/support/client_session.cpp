#include "support/client_session.h"

#include <algorithm>

#include "transport/packet.h"

namespace voxhall::testing {

namespace {

using transport::kAckMagic;
using transport::kCommandMagic;
using transport::kConnectionMagic;
using transport::kPingType;
using transport::kVoiceS2CMagic;

// The server opens a connection expecting connection packets from Sequence
// 3 on (the login request went out as 1).
constexpr std::uint32_t kFirstConnectionSequence = 3;

}  // namespace

ClientSession::ClientSession(Timing timing) : timing_(timing) {
  const Clock::time_point now = Clock::now();
  last_send_ = last_receive_ = last_ping_ = now;
}

void ClientSession::StartLogin(const LoginRequest& request) {
  ready_.push_back(LoginRequestDatagram(request, ++connection_send_seq_));
}

std::uint32_t ClientSession::QueueCommand(Command command) {
  commands_.emplace_back(++command_queued_seq_, std::move(command));
  return command_queued_seq_;
}

std::uint32_t ClientSession::QueuePing() {
  connection_send_seq_ = std::max(connection_send_seq_ + 1, kFirstConnectionSequence);
  ready_.push_back(ConnectionDatagram(kPingType, connection_id_, player_id_, connection_send_seq_));
  return connection_send_seq_;
}

std::uint16_t ClientSession::TakeVoiceCounter() { return ++voice_counter_; }

void ClientSession::QueueVoice(std::uint8_t mode, std::span<const std::uint8_t> data,
                               std::span<const WhisperTarget> targets, std::uint8_t voice_byte,
                               std::uint16_t voice_word) {
  ready_.push_back(VoiceDatagram(mode, voice_byte, voice_word, connection_id_, player_id_,
                                 TakeVoiceCounter(), targets, data));
}

void ClientSession::QueueRaw(std::vector<std::uint8_t> datagram) {
  ready_.push_back(std::move(datagram));
}

std::optional<Record> ClientSession::Receive(std::span<const std::uint8_t> d,
                                             Clock::time_point now) {
  last_receive_ = now;
  const std::uint16_t magic = d.size() >= 2 ? LoadU16(d, 0) : 0;

  if (magic == kAckMagic && d.size() >= 16) {
    if (in_flight_ && LoadU32(d, 12) == in_flight_->sequence) in_flight_.reset();
    return std::nullopt;
  }

  if (magic == kCommandMagic && d.size() >= 24 && ChecksumOk(d)) {
    const std::uint32_t sequence = LoadU32(d, 12);
    if (timing_.acknowledge) {
      ready_.push_front(AckDatagram(connection_id_, player_id_, sequence, LoadU16(d, 16)));
      ++acks_sent_;
    }
    if (sequence != command_recv_next_) {
      ++duplicates_dropped_;
      return std::nullopt;
    }
    ++command_recv_next_;
    Record record = DecodeDatagram(d, now);
    if (std::holds_alternative<LoginFinished>(record)) logged_in_ = true;
    return record;
  }

  if (magic == kConnectionMagic && d.size() >= 20 && ChecksumOk(d)) {
    const std::uint32_t sequence = LoadU32(d, 12);
    if (sequence < connection_recv_next_) return std::nullopt;
    connection_recv_next_ = sequence + 1;
    Record record = DecodeDatagram(d, now);
    if (const auto* reply = std::get_if<LoginReply>(&record)) {
      connection_id_ = reply->given_connection_id;
      player_id_ = reply->given_player_id;
      login_result_ = reply->result;
    }
    return record;
  }

  if (magic == kVoiceS2CMagic) ++voice_received_;
  return DecodeDatagram(d, now);
}

std::optional<std::vector<std::uint8_t>> ClientSession::NextOutgoing(Clock::time_point now) {
  std::optional<std::vector<std::uint8_t>> out;
  if (!ready_.empty()) {
    out = std::move(ready_.front());
    ready_.pop_front();
  } else if (in_flight_ && now - in_flight_->last_sent >= timing_.resend_interval) {
    ++in_flight_->resend_count;
    ++commands_resent_;
    in_flight_->last_sent = now;
    out = CommandDatagram(in_flight_->command, connection_id_, player_id_, in_flight_->sequence,
                          in_flight_->resend_count);
  } else if (!in_flight_ && !commands_.empty()) {
    auto& [sequence, command] = commands_.front();
    in_flight_ = InFlight{std::move(command), sequence, 0, now};
    commands_.pop_front();
    out = CommandDatagram(in_flight_->command, connection_id_, player_id_, in_flight_->sequence, 0);
  } else if (logged_in_ && timing_.keepalive_enabled &&
             (now - last_send_ >= timing_.keepalive ||
              (now - last_receive_ >= timing_.keepalive && now - last_ping_ >= timing_.keepalive))) {
    QueuePing();
    last_ping_ = now;
    out = std::move(ready_.front());
    ready_.pop_front();
  }
  if (out) NoteSent(now);
  return out;
}

ClientSession::Clock::time_point ClientSession::NextWake(Clock::time_point now) const {
  if (!ready_.empty() || (!in_flight_ && !commands_.empty())) return now;
  Clock::time_point wake = now + std::chrono::seconds(1);
  if (in_flight_) wake = std::min(wake, in_flight_->last_sent + timing_.resend_interval);
  if (logged_in_ && timing_.keepalive_enabled) {
    wake = std::min(wake, last_send_ + timing_.keepalive);
    wake = std::min(wake, std::max(last_receive_, last_ping_) + timing_.keepalive);
  }
  return std::max(wake, now);
}

}  // namespace voxhall::testing
