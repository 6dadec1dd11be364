#include "host/udp_socket.h"

#include <array>
#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>

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
constexpr std::size_t kMaxDatagram = 65536;
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
  asio::ip::udp::endpoint peer;
  std::array<std::uint8_t, kMaxDatagram> buffer{};
  ReadHandler handler;
  std::thread reader;
  std::atomic<bool> active{false};
  // The descriptor and family, fixed while open; SendTo uses only these.
  asio::ip::udp::socket::native_handle_type fd{};
  bool v6 = false;

  void StartReceive() {
    socket.async_receive_from(
        asio::buffer(buffer), peer, [this](const asio::error_code& ec, std::size_t size) {
          if (ec == asio::error::operation_aborted || !socket.is_open()) return;
          if (!ec) handler(buffer.data(), size, PeerText(peer.address()), peer.port());
          // Errors such as ICMP port-unreachable reports are per datagram:
          // keep reading.
          StartReceive();
        });
  }
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
  impl_->fd = impl_->socket.native_handle();
  impl_->v6 = endpoint.protocol() == asio::ip::udp::v6();
  impl_->active = true;
  impl_->StartReceive();
  impl_->reader = std::thread([impl = impl_.get()] { impl->io.run(); });
  return true;
}

void UdpSocket::Close() {
  if (!impl_) return;
  if (impl_->reader.joinable()) {
    asio::post(impl_->io, [impl = impl_.get()] {
      asio::error_code ignored;
      impl->socket.close(ignored);
    });
    impl_->reader.join();
  }
  impl_->active = false;
  asio::error_code ignored;
  impl_->socket.close(ignored);
}

bool UdpSocket::Active() const { return impl_ && impl_->active; }

void UdpSocket::SendTo(const std::uint8_t* data, std::size_t size, const std::string& address,
                       std::uint16_t port) {
  asio::error_code ec;
  const asio::ip::address peer = asio::ip::make_address(address, ec);
  if (ec) throw std::runtime_error("invalid peer address " + address);
  asio::ip::udp::endpoint endpoint(peer, port);
  if (impl_->v6 && peer.is_v4()) {
    endpoint = asio::ip::udp::endpoint(
        asio::ip::make_address_v6(asio::ip::v4_mapped, peer.to_v4()), port);
  }
  // Straight to the operating system: the reading thread has a receive
  // pending on the Asio socket object, which is not safe to use from a second
  // thread, while the system call on the descriptor is.
  const auto sent = ::sendto(impl_->fd, reinterpret_cast<const char*>(data),
                             static_cast<int>(size), 0, endpoint.data(),
                             static_cast<int>(endpoint.size()));
  if (sent < 0) throw std::runtime_error(std::system_category().message(LastSocketError()));
}

}  // namespace voxhall::host
