// A voice client for integration tests: one UDP socket on 127.0.0.1 talking
// to a server port, with a background thread that acknowledges every command
// packet the server sends, resends the client's own commands until they are
// acknowledged, sends keep-alive pings and files everything received as
// typed records (see client_records.h). Tests read like a story:
//
//   VoiceClient anna(port), ben(port), carl(port);
//   anna.Login("Anna");
//   ben.Login("Ben");
//   carl.Login("Carl");
//   anna.Speak(Bytes("hello"));
//   EXPECT_EQ(ben.WaitFor<Voice>().data, Bytes("hello"));
//   EXPECT_EQ(carl.WaitFor<Voice>().speaker_id, anna.player_id());
//   EXPECT_TRUE(anna.NoneWithin<Voice>(300ms));  // the speaker hears nothing
//
//   const std::uint32_t seq = anna.Send(InfoSendText("hi", 0, 4711));
//   const auto error = anna.WaitFor<ErrorPacket>();
//   EXPECT_EQ(error.code, -102);
//   EXPECT_EQ(error.refused_sequence, seq);
//
// WaitFor<T> hands out the oldest record of type T not handed out before
// (optionally the oldest one a predicate accepts) and throws
// std::runtime_error, naming what did arrive, when none comes in time; a
// thrown exception fails the test that called it. NoneWithin<T>(d) is true
// when no unread record of T is present or arrives within d. History<T> lists
// every record of T received so far, read or not. Records keep their raw
// datagram in `raw`.
//
// The methods may be called from any thread. The destructor stops the thread;
// it sends nothing (call Quit() to leave properly).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/client_records.h"
#include "support/client_requests.h"
#include "support/client_session.h"

namespace voxhall::testing {

// The default time a waiting helper waits.
inline constexpr std::chrono::milliseconds kDefaultWait{2000};

// The bytes of a text, for voice data in tests.
std::vector<std::uint8_t> Bytes(std::string_view text);

// What a completed login gave: the reply, and the channel and player lists
// (the first `count` entries of each list packet, in order).
struct LoginResult {
  LoginReply reply;
  std::vector<ChannelEntry> channels;
  std::vector<PlayerEntry> players;
  std::vector<ChannelList> channel_packets;
  std::vector<PlayerList> player_packets;
};

class VoiceClient {
 public:
  using Clock = std::chrono::steady_clock;

  explicit VoiceClient(int server_port, ClientSession::Timing timing = {});
  ~VoiceClient();
  VoiceClient(const VoiceClient&) = delete;
  VoiceClient& operator=(const VoiceClient&) = delete;

  // Logs in completely: the request, the reply (which must accept), step 3
  // and the wait for the end of the login. Throws std::runtime_error when
  // the server refuses or does not answer in time.
  LoginResult Login(const std::string& nickname);
  LoginResult Login(const LoginRequest& request, const LoginStep3Request& step3 = {});

  // The single steps, for tests of refusals and incomplete logins.
  void SendLoginRequest(const LoginRequest& request);
  // Sends login step 3; answers its Sequence.
  std::uint32_t SendLoginStep3(const LoginStep3Request& step3 = {});

  // Sends a command reliably; answers the Sequence it carries.
  std::uint32_t Send(Command command);
  // Sends PlayerQuit and waits until it is acknowledged.
  void Quit(std::chrono::milliseconds timeout = kDefaultWait);
  // Sends a ping now; answers its Sequence (the Pong record carries it).
  std::uint32_t Ping();
  // Sends a datagram exactly as given.
  void SendDatagram(std::vector<std::uint8_t> datagram);

  // Voice in the three relay modes, with the client's ids and voice counter.
  void Speak(std::span<const std::uint8_t> data, std::uint8_t voice_byte = 0,
             std::uint16_t voice_word = 0);
  void SpeakToParent(std::span<const std::uint8_t> data);
  void Whisper(std::span<const WhisperTarget> targets, std::span<const std::uint8_t> data);
  void SendVoice(std::uint8_t mode, std::span<const std::uint8_t> data,
                 std::span<const WhisperTarget> targets = {}, std::uint8_t voice_byte = 0,
                 std::uint16_t voice_word = 0);

  // Moves the client to a new socket on another local port, as when a NAT
  // changes a client's mapping. The server learns the new port from the next
  // datagram the client sends.
  void ChangeLocalPort();

  // Waits until every command sent so far is acknowledged; false on time-out.
  bool WaitAcknowledged(std::chrono::milliseconds timeout = kDefaultWait);

  template <typename T>
  T WaitFor(std::chrono::milliseconds timeout = kDefaultWait) {
    return WaitFor<T>([](const T&) { return true; }, timeout);
  }
  template <typename T>
  T WaitFor(std::function<bool(const T&)> accept, std::chrono::milliseconds timeout = kDefaultWait) {
    std::optional<T> found = TryWaitFor<T>(std::move(accept), timeout);
    if (!found) throw std::runtime_error(TimeoutText(Record(T{}), timeout));
    return std::move(*found);
  }
  template <typename T>
  std::optional<T> TryWaitFor(std::function<bool(const T&)> accept,
                              std::chrono::milliseconds timeout = kDefaultWait) {
    std::optional<Record> r = Take(Matcher<T>(std::move(accept)), timeout);
    if (!r) return std::nullopt;
    return std::get<T>(std::move(*r));
  }
  template <typename T>
  std::optional<T> TryWaitFor(std::chrono::milliseconds timeout = kDefaultWait) {
    return TryWaitFor<T>([](const T&) { return true; }, timeout);
  }

  template <typename T>
  bool NoneWithin(std::chrono::milliseconds duration) {
    return NoneWithin<T>([](const T&) { return true; }, duration);
  }
  template <typename T>
  bool NoneWithin(std::function<bool(const T&)> accept, std::chrono::milliseconds duration) {
    return !Peek(Matcher<T>(std::move(accept)), duration);
  }

  // Every record of type T received so far, read or not, oldest first.
  template <typename T>
  std::vector<T> History() const {
    std::vector<T> out;
    std::lock_guard lock(mutex_);
    for (const Entry& e : records_) {
      if (const T* t = std::get_if<T>(&e.record)) out.push_back(*t);
    }
    return out;
  }
  // Hands out every unread record of type T present now.
  template <typename T>
  std::vector<T> TakeAll() {
    std::vector<T> out;
    std::lock_guard lock(mutex_);
    for (Entry& e : records_) {
      if (!e.read && std::holds_alternative<T>(e.record)) {
        e.read = true;
        out.push_back(std::get<T>(e.record));
      }
    }
    return out;
  }
  // Marks everything received so far as read.
  void Forget();
  // Descriptions of the unread records, oldest first.
  std::vector<std::string> Unread() const;

  std::uint32_t player_id() const;
  std::uint32_t connection_id() const;
  const std::string& nickname() const { return nickname_; }
  int local_port() const;
  std::uint64_t commands_resent() const;
  std::uint64_t acks_sent() const;
  // Switches acknowledgements and keep-alive pings on or off from now on.
  void SetAcknowledge(bool on);
  void SetKeepAlive(bool on);

 private:
  struct Entry {
    Record record;
    bool read = false;
  };
  using Match = std::function<bool(const Record&)>;

  template <typename T>
  static Match Matcher(std::function<bool(const T&)> accept) {
    return [accept = std::move(accept)](const Record& r) {
      const T* t = std::get_if<T>(&r);
      return t != nullptr && accept(*t);
    };
  }

  // Marks and answers the oldest unread record `match` accepts, waiting up
  // to `timeout` for one.
  std::optional<Record> Take(const Match& match, std::chrono::milliseconds timeout);
  // Whether an unread record `match` accepts is present or arrives within
  // `duration` (it stays unread).
  bool Peek(const Match& match, std::chrono::milliseconds duration);
  std::string TimeoutText(const Record& wanted, std::chrono::milliseconds timeout) const;

  void Run();
  // Sends everything the session has due. REQUIRES: mutex_ held.
  void FlushLocked(Clock::time_point now);
  // FlushLocked from a caller's thread, then wakes the thread so that it
  // plans its next wake-up (a resend) anew. REQUIRES: mutex_ held.
  void SendNowLocked();
  void Kick();

  const int server_port_;
  int wake_fd_ = -1;
  std::string nickname_;

  mutable std::mutex mutex_;
  int fd_ = -1;           // GUARDED_BY(mutex_)
  int local_port_ = 0;    // GUARDED_BY(mutex_)
  std::vector<int> retired_fds_;  // GUARDED_BY(mutex_): closed by the thread
  std::condition_variable arrived_;
  ClientSession session_;
  std::vector<Entry> records_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace voxhall::testing
