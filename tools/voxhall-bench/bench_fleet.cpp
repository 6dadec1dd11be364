#include "bench_fleet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <random>

#include "support/client_session.h"

namespace voxhall::bench {

namespace {

using Clock = std::chrono::steady_clock;
using testing::ClientSession;

constexpr int kBatch = 64;                 // datagrams per recvmmsg / sendmmsg
constexpr std::size_t kDatagramMax = 2048;  // larger than any voice packet we send
constexpr int kReceiveBuffer = 4 << 20;
// How often every session is given the chance to resend and to ping.
constexpr std::chrono::milliseconds kMaintenance{20};
// Relayed voice: 22-byte header, then our data: marker (4), send time in
// nanoseconds of the steady clock (8), the speaker's packet number (4).
constexpr std::size_t kRelayedHeader = 22;
constexpr std::size_t kC2SHeader = 16;
// Latencies are kept in units of 100 ns; at most this many samples.
constexpr std::size_t kMaxLatencySamples = 50'000'000;

std::uint64_t NowNs(Clock::time_point t) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

void Store32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Store64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t Load64(const std::uint8_t* p) {
  return Load32(p) | (static_cast<std::uint64_t>(Load32(p + 4)) << 32);
}

// Lets the process open one socket per client.
void RaiseFileLimit(std::size_t needed) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed) return;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, needed);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

double Percentile(std::vector<std::uint32_t>& samples, double fraction) {
  if (samples.empty()) return 0;
  const std::size_t index = std::min(
      samples.size() - 1, static_cast<std::size_t>(std::ceil(fraction * samples.size())) - 1);
  std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index),
                   samples.end());
  return samples[index] / 10000.0;  // 100 ns units to ms
}

enum class LoginState { kNone, kRequested, kReplied, kLoggedIn, kRefused };

}  // namespace

struct BenchFleet::Client {
  int fd = -1;
  std::string nickname;
  std::mutex mutex;
  ClientSession session;                       // GUARDED_BY(mutex)
  std::atomic<LoginState> state{LoginState::kNone};
  std::atomic<std::int32_t> refusal{0};
  std::atomic<std::int32_t> channel_id{-1};     // from its own entry in the player list
  std::uint32_t socket_drops = 0;               // receiving thread only: last SO_RXQ_OVFL value
  std::uint64_t sent = 0;                       // speaking thread only

  ~Client() {
    if (fd >= 0) ::close(fd);
  }
};

struct BenchFleet::Receiver {
  int epoll_fd = -1;
  std::vector<Client*> clients;
  std::thread thread;
  // Written by the receiving thread only; read after it was joined.
  std::uint64_t received = 0;
  std::uint64_t foreign = 0;
  std::uint32_t max_latency = 0;
  std::vector<std::uint32_t> latencies;
  double cpu_seconds = 0;

  ~Receiver() {
    if (epoll_fd >= 0) ::close(epoll_fd);
  }
};

BenchFleet::BenchFleet(BenchOptions options) : options_(std::move(options)) {
  std::random_device random;
  marker_ = random() | 1u;
}

BenchFleet::~BenchFleet() {
  stop_ = true;
  for (auto& r : receivers_) {
    if (r->thread.joinable()) r->thread.join();
  }
  if (blaster_fd_ >= 0) ::close(blaster_fd_);
}

bool BenchFleet::Open(std::string& error) {
  RaiseFileLimit(static_cast<std::size_t>(options_.clients) + options_.receivers + 64);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (options_.receiver_check) {
    blaster_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (blaster_fd_ < 0 ||
        ::bind(blaster_fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(blaster_fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = "cannot open the local sender's socket";
      return false;
    }
    peer = local;
  } else {
    peer.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    if (::inet_pton(AF_INET, options_.host.c_str(), &peer.sin_addr) != 1) {
      error = "not an IPv4 address: " + options_.host;
      return false;
    }
  }

  for (int i = 0; i < options_.receivers; ++i) {
    auto r = std::make_unique<Receiver>();
    r->epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (r->epoll_fd < 0) {
      error = "epoll_create1 failed";
      return false;
    }
    receivers_.push_back(std::move(r));
  }

  for (int i = 0; i < options_.clients; ++i) {
    auto c = std::make_unique<Client>();
    c->nickname = options_.nickname + std::to_string(i + 1);
    c->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c->fd < 0) {
      error = "cannot open socket " + std::to_string(i + 1) + ": " + std::strerror(errno);
      return false;
    }
    int size = kReceiveBuffer;
    if (::setsockopt(c->fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
      ::setsockopt(c->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    socklen_t length = sizeof size;
    ::getsockopt(c->fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    result_.receive_buffer_bytes = size;
    const int on = 1;
    ::setsockopt(c->fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    if (::connect(c->fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
      error = std::string("connect failed: ") + std::strerror(errno);
      return false;
    }
    Receiver& r = *receivers_[static_cast<std::size_t>(i % options_.receivers)];
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = c.get();
    if (::epoll_ctl(r.epoll_fd, EPOLL_CTL_ADD, c->fd, &event) != 0) {
      error = "epoll_ctl failed";
      return false;
    }
    r.clients.push_back(c.get());
    clients_.push_back(std::move(c));
  }

  const double expected = options_.rate * options_.duration *
                          (options_.receiver_check ? options_.clients
                                                   : options_.speakers * (options_.clients - 1.0));
  for (auto& r : receivers_) {
    r->latencies.reserve(std::min<std::size_t>(
        kMaxLatencySamples, static_cast<std::size_t>(expected / options_.receivers * 1.1) + 1024));
    r->thread = std::thread([this, receiver = r.get()] { ReceiverLoop(*receiver); });
  }
  return true;
}

void BenchFleet::ReceiverLoop(Receiver& receiver) {
  std::array<epoll_event, 256> events;
  Clock::time_point next_maintenance = Clock::now() + kMaintenance;
  while (!stop_.load(std::memory_order_relaxed)) {
    const int n = ::epoll_wait(receiver.epoll_fd, events.data(), static_cast<int>(events.size()),
                               static_cast<int>(kMaintenance.count()));
    for (int i = 0; i < n; ++i) DrainSocket(*static_cast<Client*>(events[i].data.ptr), receiver);
    if (Clock::now() >= next_maintenance) {
      Maintain(receiver);
      next_maintenance = Clock::now() + kMaintenance;
    }
  }
  timespec cpu{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  receiver.cpu_seconds = static_cast<double>(cpu.tv_sec) + cpu.tv_nsec / 1e9;
}

void BenchFleet::DrainSocket(Client& client, Receiver& receiver) {
  // Buffers reused across calls; one set per receiving thread.
  thread_local std::vector<std::uint8_t> storage(kBatch * kDatagramMax);
  thread_local std::array<iovec, kBatch> iov;
  thread_local std::array<mmsghdr, kBatch> messages;
  thread_local std::array<std::array<char, CMSG_SPACE(sizeof(std::uint32_t))>, kBatch> control;

  // A few batches per readiness event, so one busy socket cannot starve the
  // others; level-triggered epoll reports the rest again.
  for (int round = 0; round < 8; ++round) {
    for (int i = 0; i < kBatch; ++i) {
      iov[i] = {storage.data() + i * kDatagramMax, kDatagramMax};
      messages[i].msg_hdr = {};
      messages[i].msg_hdr.msg_iov = &iov[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_control = control[i].data();
      messages[i].msg_hdr.msg_controllen = control[i].size();
    }
    const int n = ::recvmmsg(client.fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (n <= 0) return;
    const Clock::time_point now = Clock::now();
    const std::uint64_t now_ns = NowNs(now);
    const bool measuring = measuring_.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
      msghdr& header = messages[i].msg_hdr;
      for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
          std::memcpy(&client.socket_drops, CMSG_DATA(c), sizeof client.socket_drops);
        }
      }
      const std::uint8_t* d = storage.data() + i * kDatagramMax;
      const std::size_t size = messages[i].msg_len;
      const bool relayed_voice = size >= 2 && d[0] == 0xF3 && d[1] == 0xBE;
      if (!relayed_voice) {
        HandleControl(client, d, size, now, receiver);
      } else if (size >= kRelayedHeader + kMinVoiceSize && Load32(d + kRelayedHeader) == marker_) {
        if (!measuring) continue;
        ++receiver.received;
        const std::uint64_t sent_ns = Load64(d + kRelayedHeader + 4);
        const std::uint64_t latency = now_ns > sent_ns ? (now_ns - sent_ns) / 100 : 0;
        const auto sample = static_cast<std::uint32_t>(std::min<std::uint64_t>(latency, UINT32_MAX));
        receiver.max_latency = std::max(receiver.max_latency, sample);
        if (receiver.latencies.size() < kMaxLatencySamples) receiver.latencies.push_back(sample);
      } else {
        ++receiver.foreign;
      }
    }
    if (n < kBatch) return;
  }
}

void BenchFleet::HandleControl(Client& client, const std::uint8_t* data, std::size_t size,
                               Clock::time_point now, Receiver&) {
  if (options_.raw) {  // the bare relay's answer to the registration
    if (client.state == LoginState::kRequested) client.state = LoginState::kLoggedIn;
    return;
  }
  std::lock_guard lock(client.mutex);
  std::optional<testing::Record> record = client.session.Receive(std::span(data, size), now);
  if (record) {
    if (const auto* reply = std::get_if<testing::LoginReply>(&*record)) {
      if (reply->result == 1) {
        client.session.QueueCommand(testing::LoginStep3({.channel = options_.channel,
                                                         .sub_channel = options_.sub_channel,
                                                         .channel_password =
                                                             options_.channel_password}));
        client.state = LoginState::kReplied;
      } else {
        client.refusal = reply->result;
        client.state = LoginState::kRefused;
      }
    } else if (const auto* list = std::get_if<testing::PlayerList>(&*record)) {
      for (const testing::PlayerEntry& p : list->players) {
        if (p.player_id == client.session.player_id()) client.channel_id = p.channel_id;
      }
    } else if (std::holds_alternative<testing::LoginFinished>(*record)) {
      client.state = LoginState::kLoggedIn;
    }
  }
  FlushLocked(client, now);
}

void BenchFleet::Maintain(Receiver& receiver) {
  if (options_.raw) return;
  const Clock::time_point now = Clock::now();
  for (Client* client : receiver.clients) {
    std::lock_guard lock(client->mutex);
    FlushLocked(*client, now);
  }
}

void BenchFleet::FlushLocked(Client& client, Clock::time_point now) {
  while (std::optional<std::vector<std::uint8_t>> d = client.session.NextOutgoing(now)) {
    ::send(client.fd, d->data(), d->size(), 0);
  }
}

bool BenchFleet::LogIn(std::string& error) {
  const Clock::time_point deadline = Clock::now() + options_.login_timeout;
  if (options_.raw) return Register(deadline, error);
  // Requests go out in groups, each after the previous group has logged in,
  // so that a burst neither overruns the server's receive queue nor exceeds
  // its cap on logins in progress from one address.
  constexpr std::size_t kGroup = 32;
  for (std::size_t first = 0; first < clients_.size(); first += kGroup) {
    const std::size_t last = std::min(clients_.size(), first + kGroup);
    for (std::size_t i = first; i < last; ++i) {
      Client& c = *clients_[i];
      std::lock_guard lock(c.mutex);
      c.session.StartLogin({.nickname = c.nickname, .password = options_.server_password});
      c.state = LoginState::kRequested;
      FlushLocked(c, Clock::now());
    }
    while (std::any_of(clients_.begin() + static_cast<std::ptrdiff_t>(first),
                       clients_.begin() + static_cast<std::ptrdiff_t>(last),
                       [](const auto& c) {
                         // Until the group is fully in: logins in progress
                         // from one address are capped by the server.
                         return c->state == LoginState::kRequested ||
                                c->state == LoginState::kReplied;
                       })) {
      if (Clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (;;) {
    int done = 0, refused = 0;
    for (const auto& c : clients_) {
      const LoginState s = c->state;
      if (s == LoginState::kLoggedIn) ++done;
      if (s == LoginState::kRefused) {
        ++refused;
        if (result_.first_refusal == 0) result_.first_refusal = c->refusal;
      }
    }
    result_.clients_logged_in = done;
    result_.clients_refused = refused;
    if (done + refused == options_.clients) break;
    if (Clock::now() > deadline) {
      error = "only " + std::to_string(done) + " of " + std::to_string(options_.clients) +
              " clients logged in within " + std::to_string(options_.login_timeout.count()) +
              " ms";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (result_.clients_refused > 0) {
    error = std::to_string(result_.clients_refused) + " logins refused, first with code " +
            std::to_string(result_.first_refusal);
    return false;
  }
  return true;
}

bool BenchFleet::Register(Clock::time_point deadline, std::string& error) {
  // One byte from each client registers its address at the relay, which
  // answers it; unanswered clients ask again every 100 ms.
  for (const auto& c : clients_) c->state = LoginState::kRequested;
  const std::uint8_t hello = 1;
  for (;;) {
    int waiting = 0;
    for (const auto& c : clients_) {
      if (c->state != LoginState::kRequested) continue;
      ++waiting;
      ::send(c->fd, &hello, 1, 0);
    }
    result_.clients_logged_in = options_.clients - waiting;
    if (waiting == 0) return true;
    if (Clock::now() > deadline) {
      error = std::to_string(waiting) + " clients not registered at the relay";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void BenchFleet::StampVoiceData(std::uint8_t* data, std::uint32_t number) const {
  Store32(data, marker_);
  Store64(data + 4, NowNs(Clock::now()));
  Store32(data + 12, number);
}

void BenchFleet::Speak() {
  struct Speaker {
    Client* client;
    std::vector<std::uint8_t> datagram;
    std::uint16_t counter = 0;
  };
  std::vector<Speaker> speakers;
  for (int i = 0; i < options_.speakers; ++i) {
    Client& c = *clients_[static_cast<std::size_t>(i)];
    std::lock_guard lock(c.mutex);
    const std::vector<std::uint8_t> data(options_.size, 0x5A);
    if (options_.raw) {  // what the server would send on: relayed-voice shape
      std::vector<std::uint8_t> datagram(kRelayedHeader + options_.size, 0x5A);
      datagram[0] = 0xF3;
      datagram[1] = 0xBE;
      speakers.push_back({&c, std::move(datagram)});
      continue;
    }
    speakers.push_back({&c, testing::VoiceDatagram(testing::kOwnChannel, 0, 0,
                                                   c.session.connection_id(),
                                                   c.session.player_id(), 0, {}, data)});
  }
  const std::size_t data_offset = options_.raw ? kRelayedHeader : kC2SHeader;

  const auto per_speaker = static_cast<std::uint64_t>(std::llround(options_.rate * options_.duration));
  const std::chrono::nanoseconds interval(static_cast<std::int64_t>(1e9 / options_.rate));
  const std::size_t count = speakers.size();
  measuring_ = true;
  const Clock::time_point start = Clock::now();
  for (std::uint64_t k = 0; count > 0 && k < per_speaker * count; ++k) {
    Speaker& s = speakers[k % count];
    const std::uint64_t round = k / count;
    const Clock::time_point due = start + interval * static_cast<std::int64_t>(round) +
                                  interval * static_cast<std::int64_t>(k % count) /
                                      static_cast<std::int64_t>(count);
    if (due > Clock::now()) std::this_thread::sleep_until(due);
    ++s.counter;
    s.datagram[12] = static_cast<std::uint8_t>(s.counter);
    s.datagram[13] = static_cast<std::uint8_t>(s.counter >> 8);
    StampVoiceData(s.datagram.data() + data_offset, static_cast<std::uint32_t>(round));
    if (::send(s.client->fd, s.datagram.data(), s.datagram.size(), 0) ==
        static_cast<ssize_t>(s.datagram.size())) {
      ++s.client->sent;
    } else {
      ++result_.send_errors;
    }
  }
  result_.speak_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(options_.drain);
  measuring_ = false;

  // Each speaker's packets are expected at every other client of its channel.
  std::map<std::int32_t, std::uint64_t> members;
  for (const auto& c : clients_) ++members[c->channel_id];
  for (const Speaker& s : speakers) {
    result_.sent += s.client->sent;
    result_.expected += s.client->sent * (members[s.client->channel_id] - 1);
  }
}

void BenchFleet::Blast() {
  // One datagram shape for all clients; a batch of kBatch goes to kBatch
  // clients in turn, each batch with a fresh send time.
  std::vector<sockaddr_in> addresses;
  for (const auto& c : clients_) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(c->fd, reinterpret_cast<sockaddr*>(&a), &length);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addresses.push_back(a);
  }
  std::vector<std::uint8_t> datagram(kRelayedHeader + options_.size, 0x5A);
  datagram[0] = 0xF3;
  datagram[1] = 0xBE;
  std::array<iovec, kBatch> iov;
  std::array<mmsghdr, kBatch> messages{};

  const double total_rate = options_.rate * options_.clients;
  const auto total = static_cast<std::uint64_t>(std::llround(total_rate * options_.duration));
  const std::chrono::nanoseconds batch_interval(static_cast<std::int64_t>(1e9 * kBatch / total_rate));
  std::size_t next_client = 0;
  std::uint64_t attempted = 0;
  measuring_ = true;
  const Clock::time_point start = Clock::now();
  for (std::uint64_t batch = 0; attempted < total; ++batch) {
    const Clock::time_point due = start + batch_interval * static_cast<std::int64_t>(batch);
    if (due > Clock::now()) std::this_thread::sleep_until(due);
    StampVoiceData(datagram.data() + kRelayedHeader, static_cast<std::uint32_t>(batch));
    const int n = static_cast<int>(std::min<std::uint64_t>(kBatch, total - attempted));
    for (int i = 0; i < n; ++i) {
      iov[i] = {datagram.data(), datagram.size()};
      messages[i].msg_hdr = {};
      messages[i].msg_hdr.msg_iov = &iov[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = &addresses[next_client];
      messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
      next_client = (next_client + 1) % addresses.size();
    }
    const int done = std::max(::sendmmsg(blaster_fd_, messages.data(), static_cast<unsigned>(n), 0), 0);
    result_.sent += static_cast<std::uint64_t>(done);
    result_.send_errors += static_cast<std::uint64_t>(n - done);
    attempted += static_cast<std::uint64_t>(n);
  }
  result_.speak_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(options_.drain);
  measuring_ = false;
  result_.expected = result_.sent;
  result_.clients_logged_in = options_.clients;
}

void BenchFleet::Quit() {
  if (options_.raw) return;
  for (const auto& c : clients_) {
    if (c->state != LoginState::kLoggedIn) continue;
    std::lock_guard lock(c->mutex);
    c->session.QueueCommand(testing::PlayerQuit());
    FlushLocked(*c, Clock::now());
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
  for (const auto& c : clients_) {
    for (;;) {
      {
        std::lock_guard lock(c->mutex);
        if (c->session.AllAcknowledged()) break;
      }
      if (Clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

BenchResult BenchFleet::Finish() {
  stop_ = true;
  for (auto& r : receivers_) {
    if (r->thread.joinable()) r->thread.join();
  }
  std::vector<std::uint32_t> latencies;
  std::uint32_t max_latency = 0;
  for (auto& r : receivers_) {
    result_.received += r->received;
    result_.foreign_voice += r->foreign;
    result_.receiver_cpu_seconds += r->cpu_seconds;
    max_latency = std::max(max_latency, r->max_latency);
    latencies.insert(latencies.end(), r->latencies.begin(), r->latencies.end());
    r->latencies = {};
  }
  for (const auto& c : clients_) result_.socket_drops += c->socket_drops;
  result_.latency_p50_ms = Percentile(latencies, 0.50);
  result_.latency_p99_ms = Percentile(latencies, 0.99);
  result_.latency_max_ms = max_latency / 10000.0;
  return result_;
}

}  // namespace voxhall::bench
