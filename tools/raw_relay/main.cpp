// raw_relay: the fastest relay this machine allows, as the reference the voice
// server is measured against. It receives datagrams with recvmmsg and re-sends
// each one, unchanged, to every registered listener except its sender with
// sendmmsg. It knows no protocol: a one-byte datagram registers its sender as
// a listener and is answered with one byte (so the client knows it is
// registered; asking again is harmless) instead of being relayed. Datagrams
// from addresses that are not registered are dropped.
//
//   raw_relay [--port=PORT] [--max-listeners=N]
//
// Binds 127.0.0.1:PORT (0, the default, picks a free port), prints
// "raw_relay listening on PORT" and relays until SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr unsigned kBatch = 64;          // datagrams per recvmmsg
constexpr unsigned kSendBatch = 256;     // datagrams per sendmmsg
constexpr std::size_t kDatagramMax = 2048;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

std::uint64_t Key(const sockaddr_in& a) {
  return (std::uint64_t{a.sin_addr.s_addr} << 16) | a.sin_port;
}

bool Flag(const char* arg, const char* name, long& value) {
  const std::size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  value = std::strtol(arg + n + 1, nullptr, 10);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0, max_listeners = 10000;
  for (int i = 1; i < argc; ++i) {
    if (!Flag(argv[i], "--port", port) && !Flag(argv[i], "--max-listeners", max_listeners)) {
      std::fprintf(stderr, "usage: raw_relay [--port=PORT] [--max-listeners=N]\n");
      return 2;
    }
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  const int buffer = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    std::perror("raw_relay");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: recvmmsg returns EINTR
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::printf("raw_relay listening on %u\n", ntohs(local.sin_port));
  std::fflush(stdout);

  std::vector<sockaddr_in> listeners;
  std::unordered_set<std::uint64_t> known;
  std::vector<std::uint8_t> storage(kBatch * kDatagramMax);
  std::vector<sockaddr_in> from(kBatch);
  std::vector<iovec> in_iov(kBatch);
  std::vector<mmsghdr> in(kBatch);
  std::vector<iovec> out_iov(kSendBatch);
  std::vector<mmsghdr> out(kSendBatch);
  unsigned pending = 0;
  const auto flush = [&] {
    for (unsigned done = 0; done < pending;) {
      const int n = ::sendmmsg(fd, out.data() + done, pending - done, 0);
      if (n <= 0) break;  // a full socket buffer drops the rest, as the network would
      done += static_cast<unsigned>(n);
    }
    pending = 0;
  };
  const auto queue = [&](const void* data, std::size_t size, sockaddr_in& to) {
    out_iov[pending] = {const_cast<void*>(data), size};
    out[pending].msg_hdr = {};
    out[pending].msg_hdr.msg_iov = &out_iov[pending];
    out[pending].msg_hdr.msg_iovlen = 1;
    out[pending].msg_hdr.msg_name = &to;
    out[pending].msg_hdr.msg_namelen = sizeof to;
    if (++pending == kSendBatch) flush();
  };
  static const std::uint8_t kRegistered = 0;

  while (!g_stop) {
    for (unsigned i = 0; i < kBatch; ++i) {
      in_iov[i] = {storage.data() + i * kDatagramMax, kDatagramMax};
      in[i].msg_hdr = {};
      in[i].msg_hdr.msg_iov = &in_iov[i];
      in[i].msg_hdr.msg_iovlen = 1;
      in[i].msg_hdr.msg_name = &from[i];
      in[i].msg_hdr.msg_namelen = sizeof from[i];
    }
    const int n = ::recvmmsg(fd, in.data(), kBatch, MSG_WAITFORONE, nullptr);
    if (n <= 0) continue;
    for (int i = 0; i < n; ++i) {
      const std::uint64_t sender = Key(from[i]);
      if (in[i].msg_len == 1) {
        if (!known.contains(sender) && known.size() < static_cast<std::size_t>(max_listeners)) {
          known.insert(sender);
          listeners.push_back(from[i]);
        }
        queue(&kRegistered, 1, from[i]);
        continue;
      }
      if (!known.contains(sender)) continue;
      const std::uint8_t* data = storage.data() + i * kDatagramMax;
      for (sockaddr_in& to : listeners) {
        if (Key(to) != sender) queue(data, in[i].msg_len, to);
      }
    }
    flush();  // before the next receive reuses the storage
  }
  ::close(fd);
  return 0;
}
