#include "host/udp_socket.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifdef __linux__
#include <sys/socket.h>
#endif

namespace voxhall::host {

namespace {

int LastSocketError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

// Large enough for any UDP datagram; the protocol's own are far smaller.
[[maybe_unused]] constexpr std::size_t kMaxDatagram = 65536;
// Receive and send buffer size asked of the system.
constexpr int kSocketBufferBytes = 4 << 20;
// Dotted IPv4 text, as the protocol carries addresses; IPv4-mapped IPv6
// peers are shown in their IPv4 form.
std::string PeerText(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  }
  return address.to_string();
}

}  // namespace

struct UdpSocket::Impl {
  asio::io_context io;
  asio::ip::udp::socket socket{io};
  ReadHandler handler;
  std::thread reader;
  std::atomic<bool> active{false};
  std::atomic<bool> closing{false};
  // The descriptor and family, fixed while open; SendBatch uses only these.
  asio::ip::udp::socket::native_handle_type fd{};
  bool v6 = false;

  // Used by the reading thread only: a batch of received datagrams, and the
  // text of the last peer address seen (most datagrams come from addresses
  // seen just before, so the text is made once for them).
  std::array<Datagram, kMaxBatch> received;
  asio::ip::address last_peer;
  std::string last_peer_text;
  const std::string& PeerTextOf(const asio::ip::address& address) {
    if (last_peer_text.empty() || address != last_peer) {
      last_peer = address;
      last_peer_text = PeerText(address);
    }
    return last_peer_text;
  }

  // Used by the sending thread only.
  std::string last_text;
  asio::ip::address last_address;
#ifdef __linux__
  std::array<asio::ip::udp::endpoint, kMaxSendBatch> peers;
  std::array<iovec, kMaxSendBatch> iov;
  std::array<mmsghdr, kMaxSendBatch> messages;
#endif
  bool PeerEndpoint(const transport::Packet& p, asio::ip::udp::endpoint& out);

#ifdef __linux__
  // The reading thread: blocks in recvmmsg until at least one datagram is
  // there and takes up to a batch of those waiting with one system call.
  // Close wakes it with shutdown. A slot holds one byte more than the longest
  // datagram the server accepts, so a longer one shows as truncated and is
  // dropped here.
  static constexpr std::size_t kSlot = transport::kMaxDatagramLength + 1;
  void ReadLoop() {
    std::vector<std::uint8_t> storage(kMaxBatch * kSlot);
    std::array<asio::ip::udp::endpoint, kMaxBatch> from;
    std::array<iovec, kMaxBatch> slots;
    std::array<mmsghdr, kMaxBatch> in;
    while (!closing.load(std::memory_order_acquire)) {
      for (std::size_t i = 0; i < kMaxBatch; ++i) {
        slots[i] = {storage.data() + i * kSlot, kSlot};
        in[i] = {};
        in[i].msg_hdr.msg_name = from[i].data();
        in[i].msg_hdr.msg_namelen = static_cast<socklen_t>(from[i].capacity());
        in[i].msg_hdr.msg_iov = &slots[i];
        in[i].msg_hdr.msg_iovlen = 1;
      }
      const int n = ::recvmmsg(fd, in.data(), kMaxBatch, MSG_WAITFORONE, nullptr);
      if (closing.load(std::memory_order_acquire)) break;
      // Errors such as ICMP port-unreachable reports are per datagram: keep
      // reading.
      if (n <= 0) continue;
      std::size_t kept = 0;
      for (int i = 0; i < n; ++i) {
        const msghdr& h = in[i].msg_hdr;
        if ((h.msg_flags & MSG_TRUNC) != 0) continue;
        from[i].resize(h.msg_namelen);
        Datagram& d = received[kept++];
        d.bytes = {storage.data() + i * kSlot, in[i].msg_len};
        d.peer_address = PeerTextOf(from[i].address());
        d.peer_port = from[i].port();
      }
      if (kept > 0) handler(std::span<Datagram>(received.data(), kept));
    }
  }
#else
  // Elsewhere the reading thread runs Asio's receive loop, one datagram at a
  // time.
  asio::ip::udp::endpoint peer;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kMaxDatagram);
  void StartReceive() {
    socket.async_receive_from(
        asio::buffer(buffer), peer, [this](const asio::error_code& ec, std::size_t size) {
          if (ec == asio::error::operation_aborted || !socket.is_open()) return;
          if (!ec) {
            received[0].bytes = {buffer.data(), size};
            received[0].peer_address = PeerTextOf(peer.address());
            received[0].peer_port = peer.port();
            handler(std::span<Datagram>(received.data(), 1));
          }
          StartReceive();
        });
  }
#endif
};

UdpSocket::UdpSocket() : impl_(std::make_unique<Impl>()) {}

UdpSocket::~UdpSocket() { Close(); }

bool UdpSocket::Open(const std::string& bound_ip, std::uint16_t port, ReadHandler handler,
                     std::string& error) {
  Close();
  impl_ = std::make_unique<Impl>();
  impl_->handler = std::move(handler);
  asio::error_code ec;
  asio::ip::address address = asio::ip::address_v4::any();
  if (!bound_ip.empty()) {
    address = asio::ip::make_address(bound_ip, ec);
    if (ec) {
      error = "invalid address " + bound_ip + ": " + ec.message();
      return false;
    }
  }
  const asio::ip::udp::endpoint endpoint(address, port);
  impl_->socket.open(endpoint.protocol(), ec);
  if (!ec) impl_->socket.bind(endpoint, ec);
  if (ec) {
    error = ec.message();
    asio::error_code ignored;
    impl_->socket.close(ignored);
    return false;
  }
  // Room for bursts: voice arrives and leaves in bursts of many datagrams,
  // and the system's default buffers hold only a few hundred. The system
  // may grant less; that is not an error.
  asio::error_code ignored;
  impl_->socket.set_option(asio::socket_base::receive_buffer_size(kSocketBufferBytes), ignored);
  impl_->socket.set_option(asio::socket_base::send_buffer_size(kSocketBufferBytes), ignored);
  impl_->fd = impl_->socket.native_handle();
  impl_->v6 = endpoint.protocol() == asio::ip::udp::v6();
  impl_->active = true;
#ifdef __linux__
  impl_->reader = std::thread([impl = impl_.get()] { impl->ReadLoop(); });
#else
  impl_->StartReceive();
  impl_->reader = std::thread([impl = impl_.get()] { impl->io.run(); });
#endif
  return true;
}

void UdpSocket::Close() {
  if (!impl_) return;
  if (impl_->reader.joinable()) {
#ifdef __linux__
    impl_->closing.store(true, std::memory_order_release);
    // Wakes the blocked recvmmsg, even on an unconnected socket.
    ::shutdown(impl_->fd, SHUT_RD);
#else
    asio::post(impl_->io, [impl = impl_.get()] {
      asio::error_code ignored;
      impl->socket.close(ignored);
    });
#endif
    impl_->reader.join();
  }
  impl_->active = false;
  asio::error_code ignored;
  impl_->socket.close(ignored);
}

bool UdpSocket::Active() const { return impl_ && impl_->active; }

// The peer of a packet as a socket address for the socket's family (an IPv4
// peer of an IPv6 socket in its mapped form). Peers are kept as text, so the
// text of the last address parsed is remembered with its result: the copies
// of one voice frame go to players who mostly share few addresses, and only
// the port then changes. False for text that is no address.
bool UdpSocket::Impl::PeerEndpoint(const transport::Packet& p, asio::ip::udp::endpoint& out) {
  if (p.PeerAddress() != last_text) {
    asio::error_code ec;
    asio::ip::address peer = asio::ip::make_address(p.PeerAddress(), ec);
    if (ec) return false;
    if (v6 && peer.is_v4()) peer = asio::ip::make_address_v6(asio::ip::v4_mapped, peer.to_v4());
    last_text = p.PeerAddress();
    last_address = peer;
  }
  out = asio::ip::udp::endpoint(last_address, p.PeerPort());
  return true;
}

// Straight to the operating system: the reading thread has a receive pending
// on the Asio socket object, which is not safe to use from a second thread,
// while the system call on the descriptor is.
std::size_t UdpSocket::SendBatch(std::span<const std::unique_ptr<transport::Packet>> packets) {
  if (packets.empty()) return 0;
  Impl& impl = *impl_;
#ifdef __linux__
  const std::size_t count = std::min(kMaxSendBatch, packets.size());
  std::size_t n = 0;
  for (; n < count; ++n) {
    const transport::Packet& p = *packets[n];
    if (!impl.PeerEndpoint(p, impl.peers[n])) break;
    impl.iov[n] = {const_cast<std::uint8_t*>(p.Data()), p.Size()};
    mmsghdr& m = impl.messages[n];
    m = {};
    m.msg_hdr.msg_name = impl.peers[n].data();
    m.msg_hdr.msg_namelen = static_cast<socklen_t>(impl.peers[n].size());
    m.msg_hdr.msg_iov = &impl.iov[n];
    m.msg_hdr.msg_iovlen = 1;
  }
  if (n == 0) throw std::runtime_error("invalid peer address " + packets[0]->PeerAddress());
  int sent;
  do {
    // Never blocks: the socket's send buffer is full only while receivers on
    // this host leave their datagrams unread, and waiting for them would let
    // one such receiver stall every other player.
    sent = ::sendmmsg(impl.fd, impl.messages.data(), static_cast<unsigned>(n), MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
    // The batch is dropped, as a congested network drops datagrams (voice is
    // not resent, commands are, when their acknowledgement does not come):
    // with the buffer full, the rest of it would not go either.
    return n;
  }
  if (sent <= 0) throw std::runtime_error(std::system_category().message(LastSocketError()));
  return static_cast<std::size_t>(sent);
#else
  const transport::Packet& p = *packets[0];
  asio::ip::udp::endpoint peer;
  if (!impl.PeerEndpoint(p, peer)) throw std::runtime_error("invalid peer address " + p.PeerAddress());
  const auto sent = ::sendto(impl.fd, reinterpret_cast<const char*>(p.Data()),
                             static_cast<int>(p.Size()), 0, peer.data(),
                             static_cast<int>(peer.size()));
  if (sent < 0) throw std::runtime_error(std::system_category().message(LastSocketError()));
  return 1;
#endif
}

}  // namespace voxhall::host
