#include "host/udp_socket.h"

#include <array>
#include <asio.hpp>
#include <atomic>
#include <stdexcept>

namespace voxhall::host {

namespace {
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
  impl_->socket.send_to(asio::buffer(data, size), asio::ip::udp::endpoint(peer, port), 0, ec);
  if (ec) throw std::runtime_error(ec.message());
}

}  // namespace voxhall::host
