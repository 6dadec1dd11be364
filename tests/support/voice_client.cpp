#include "support/voice_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

namespace voxhall::testing {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

namespace {

// A UDP socket on a free port of 127.0.0.1, connected to the server's port;
// its descriptor and local port.
std::pair<int, int> OpenSocket(int server_port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("VoiceClient: socket failed");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in server = local;
  server.sin_port = htons(static_cast<std::uint16_t>(server_port));
  socklen_t length = sizeof local;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("VoiceClient: bind or connect failed");
  }
  return {fd, ntohs(local.sin_port)};
}

}  // namespace

VoiceClient::VoiceClient(int server_port, ClientSession::Timing timing)
    : server_port_(server_port), session_(timing) {
  std::tie(fd_, local_port_) = OpenSocket(server_port);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    ::close(fd_);
    throw std::runtime_error("VoiceClient: eventfd failed");
  }
  thread_ = std::thread([this] { Run(); });
}

void VoiceClient::ChangeLocalPort() {
  auto [fd, port] = OpenSocket(server_port_);
  std::lock_guard lock(mutex_);
  retired_fds_.push_back(fd_);  // the thread may be polling it; it closes it
  fd_ = fd;
  local_port_ = port;
  Kick();
}

int VoiceClient::local_port() const {
  std::lock_guard lock(mutex_);
  return local_port_;
}

VoiceClient::~VoiceClient() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Kick();
  thread_.join();
  for (const int fd : retired_fds_) ::close(fd);
  ::close(fd_);
  ::close(wake_fd_);
}

void VoiceClient::Run() {
  std::vector<std::uint8_t> buffer(65536);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const Clock::time_point now = Clock::now();
    FlushLocked(now);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(session_.NextWake(now) - now);
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    lock.unlock();

    ::poll(fds, 2, static_cast<int>(std::clamp<std::int64_t>(wait.count(), 1, 1000)));
    std::uint64_t kicks = 0;
    [[maybe_unused]] const ssize_t drained = ::read(wake_fd_, &kicks, sizeof kicks);

    lock.lock();
    for (const int fd : retired_fds_) ::close(fd);
    retired_fds_.clear();
    bool any = false;
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0) break;
      std::optional<Record> record = session_.Receive(
          std::span(buffer.data(), static_cast<std::size_t>(n)), Clock::now());
      if (record) records_.push_back(Entry{std::move(*record)});
      any = true;
    }
    if (any) arrived_.notify_all();
  }
}

void VoiceClient::FlushLocked(Clock::time_point now) {
  while (std::optional<std::vector<std::uint8_t>> d = session_.NextOutgoing(now)) {
    ::send(fd_, d->data(), d->size(), 0);
  }
}

void VoiceClient::SendNowLocked() {
  FlushLocked(Clock::now());
  Kick();
}

void VoiceClient::Kick() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

LoginResult VoiceClient::Login(const std::string& nickname) {
  LoginRequest request;
  request.nickname = nickname;
  return Login(request);
}

LoginResult VoiceClient::Login(const LoginRequest& request, const LoginStep3Request& step3) {
  SendLoginRequest(request);
  LoginResult result;
  result.reply = WaitFor<LoginReply>();
  if (result.reply.result != 1) {
    throw std::runtime_error("login of '" + request.nickname + "' refused with " +
                             std::to_string(result.reply.result));
  }
  SendLoginStep3(step3);
  WaitFor<LoginFinished>();
  result.channel_packets = TakeAll<ChannelList>();
  result.player_packets = TakeAll<PlayerList>();
  for (const ChannelList& l : result.channel_packets) {
    result.channels.insert(result.channels.end(), l.channels.begin(), l.channels.end());
  }
  for (const PlayerList& l : result.player_packets) {
    result.players.insert(result.players.end(), l.players.begin(), l.players.end());
  }
  return result;
}

void VoiceClient::SendLoginRequest(const LoginRequest& request) {
  std::lock_guard lock(mutex_);
  nickname_ = request.nickname;
  session_.StartLogin(request);
  SendNowLocked();
}

std::uint32_t VoiceClient::SendLoginStep3(const LoginStep3Request& step3) {
  return Send(LoginStep3(step3));
}

std::uint32_t VoiceClient::Send(Command command) {
  std::lock_guard lock(mutex_);
  const std::uint32_t sequence = session_.QueueCommand(std::move(command));
  SendNowLocked();
  return sequence;
}

void VoiceClient::Quit(std::chrono::milliseconds timeout) {
  Send(PlayerQuit());
  if (!WaitAcknowledged(timeout)) {
    throw std::runtime_error("VoiceClient '" + nickname_ + "': quit not acknowledged");
  }
}

std::uint32_t VoiceClient::Ping() {
  std::lock_guard lock(mutex_);
  const std::uint32_t sequence = session_.QueuePing();
  SendNowLocked();
  return sequence;
}

void VoiceClient::SendDatagram(std::vector<std::uint8_t> datagram) {
  std::lock_guard lock(mutex_);
  session_.QueueRaw(std::move(datagram));
  SendNowLocked();
}

void VoiceClient::Speak(std::span<const std::uint8_t> data, std::uint8_t voice_byte,
                        std::uint16_t voice_word) {
  SendVoice(kOwnChannel, data, {}, voice_byte, voice_word);
}

void VoiceClient::SpeakToParent(std::span<const std::uint8_t> data) {
  SendVoice(kParentChannel, data);
}

void VoiceClient::Whisper(std::span<const WhisperTarget> targets,
                          std::span<const std::uint8_t> data) {
  SendVoice(kWhisper, data, targets);
}

void VoiceClient::SendVoice(std::uint8_t mode, std::span<const std::uint8_t> data,
                            std::span<const WhisperTarget> targets, std::uint8_t voice_byte,
                            std::uint16_t voice_word) {
  std::lock_guard lock(mutex_);
  session_.QueueVoice(mode, data, targets, voice_byte, voice_word);
  SendNowLocked();
}

bool VoiceClient::WaitAcknowledged(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [this] { return session_.AllAcknowledged(); });
}

std::optional<Record> VoiceClient::Take(const Match& match, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::size_t checked = 0;  // records before this index were already looked at
  std::optional<Record> found;
  arrived_.wait_for(lock, timeout, [&] {
    for (; checked < records_.size(); ++checked) {
      Entry& e = records_[checked];
      if (!e.read && match(e.record)) {
        e.read = true;
        found = e.record;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool VoiceClient::Peek(const Match& match, std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  std::size_t checked = 0;
  return arrived_.wait_for(lock, duration, [&] {
    for (; checked < records_.size(); ++checked) {
      if (!records_[checked].read && match(records_[checked].record)) return true;
    }
    return false;
  });
}

void VoiceClient::Forget() {
  std::lock_guard lock(mutex_);
  for (Entry& e : records_) e.read = true;
}

std::vector<std::string> VoiceClient::Unread() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Entry& e : records_) {
    if (!e.read) out.push_back(Describe(e.record));
  }
  return out;
}

std::string VoiceClient::TimeoutText(const Record& wanted, std::chrono::milliseconds timeout) const {
  // Unread records, counted by kind in order of first appearance.
  std::vector<std::pair<std::string, int>> unread;
  for (const std::string& d : Unread()) {
    auto it = std::find_if(unread.begin(), unread.end(), [&](const auto& p) { return p.first == d; });
    if (it == unread.end()) {
      unread.emplace_back(d, 1);
    } else {
      ++it->second;
    }
  }
  std::string text = "VoiceClient '" + nickname_ + "' (player " + std::to_string(player_id()) +
                     "): no " + TypeName(wanted) + " within " + std::to_string(timeout.count()) +
                     " ms; unread:";
  if (unread.empty()) text += " nothing";
  for (const auto& [name, count] : unread) {
    text += " " + name + (count > 1 ? " x" + std::to_string(count) : "") + ",";
  }
  if (text.back() == ',') text.pop_back();
  return text;
}

std::uint32_t VoiceClient::player_id() const {
  std::lock_guard lock(mutex_);
  return session_.player_id();
}

std::uint32_t VoiceClient::connection_id() const {
  std::lock_guard lock(mutex_);
  return session_.connection_id();
}

std::uint64_t VoiceClient::commands_resent() const {
  std::lock_guard lock(mutex_);
  return session_.commands_resent();
}

std::uint64_t VoiceClient::acks_sent() const {
  std::lock_guard lock(mutex_);
  return session_.acks_sent();
}

void VoiceClient::SetAcknowledge(bool on) {
  std::lock_guard lock(mutex_);
  ClientSession::Timing timing = session_.timing();
  timing.acknowledge = on;
  session_.set_timing(timing);
}

void VoiceClient::SetKeepAlive(bool on) {
  std::lock_guard lock(mutex_);
  ClientSession::Timing timing = session_.timing();
  timing.keepalive_enabled = on;
  session_.set_timing(timing);
}

}  // namespace voxhall::testing
