#include "support/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace voxhall::testing {

TcpClient::TcpClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

TcpClient::~TcpClient() {
  if (fd_ >= 0) ::close(fd_);
}

void TcpClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool TcpClient::Fill(std::chrono::steady_clock::time_point deadline) {
  if (closed_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[4096];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> TcpClient::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t end = buffer_.find("\r\n");
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 2);
      return line;
    }
    if (!Fill(deadline)) return std::nullopt;
  }
}

std::vector<std::string> TcpClient::Command(std::string_view line,
                                            std::chrono::milliseconds timeout) {
  Send(std::string(line) + "\r\n");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::string> reply;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::optional<std::string> next = ReadLine(left);
    if (!next) return reply;
    reply.push_back(*next);
    if (*next == "OK" || *next == "error" || next->starts_with("ERROR, ")) return reply;
  }
}

std::optional<std::string> TcpClient::ReadUntilClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Fill(deadline)) {
  }
  if (!closed_) return std::nullopt;
  std::string out;
  out.swap(buffer_);
  return out;
}

std::vector<std::string> OkReply(std::vector<std::string> lines) {
  lines.push_back("OK");
  return lines;
}

}  // namespace voxhall::testing
