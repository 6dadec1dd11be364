#include "support/udp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace voxhall::testing {

namespace {
sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}
}  // namespace

UdpClient::UdpClient() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr = Loopback(0);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("bind failed");
  }
}

UdpClient::~UdpClient() {
  if (fd_ >= 0) ::close(fd_);
}

void UdpClient::SendTo(int port, const std::vector<std::uint8_t>& datagram) {
  sockaddr_in addr = Loopback(port);
  ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&addr),
           sizeof addr);
}

std::optional<std::vector<std::uint8_t>> UdpClient::Receive(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  std::vector<std::uint8_t> buffer(65536);
  const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

bool UdpPortInUse(int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr = Loopback(port);
  const bool in_use = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
  ::close(fd);
  return in_use;
}

}  // namespace voxhall::testing
