// A UDP socket on 127.0.0.1 for integration tests: sends datagrams to a
// server port and receives its answers with a timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace voxhall::testing {

class UdpClient {
 public:
  UdpClient();
  ~UdpClient();
  UdpClient(const UdpClient&) = delete;
  UdpClient& operator=(const UdpClient&) = delete;

  void SendTo(int port, const std::vector<std::uint8_t>& datagram);
  // The next datagram that arrives within `timeout`, or nothing.
  std::optional<std::vector<std::uint8_t>> Receive(
      std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

 private:
  int fd_ = -1;
};

// Whether some process has UDP port `port` bound (our own bind fails).
bool UdpPortInUse(int port);

}  // namespace voxhall::testing
