// The server's socket against plain sockets on loopback: datagrams arrive in
// order with their peer, batched when they wait together; a datagram longer
// than the protocol allows is dropped; a batch goes out to each packet's own
// peer; and Close ends a reading thread that is blocked waiting.
#include "host/udp_socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace voxhall::host {
namespace {

// A plain UDP socket on 127.0.0.1 with a port of the system's choosing.
class PlainSocket {
 public:
  PlainSocket() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    timeval t{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  }
  ~PlainSocket() { ::close(fd_); }
  std::uint16_t port() const { return port_; }
  void SendTo(std::uint16_t port, std::size_t size, std::uint8_t fill) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const std::vector<std::uint8_t> bytes(size, fill);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  std::vector<std::uint8_t> Receive() {
    std::vector<std::uint8_t> bytes(4096);
    const auto n = ::recv(fd_, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
  }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

struct Received {
  std::size_t size;
  std::uint8_t first;
  std::string peer;
  std::uint16_t port;
};

class UdpSocketTest : public ::testing::Test {
 protected:
  // Opens the socket on a free port with a handler that records every
  // datagram; the handler can be held up to let datagrams pile up.
  void Open() {
    std::string error;
    for (std::uint16_t port = 42000; port < 42100 && !socket_.Active(); ++port) {
      if (socket_.Open("127.0.0.1", port, [this](std::span<UdpSocket::Datagram> batch) {
            std::unique_lock lock(mu_);
            cv_.wait(lock, [this] { return !held_; });
            ++batches_;
            for (const auto& d : batch) {
              received_.push_back({d.bytes.size(), d.bytes[0], d.peer_address, d.peer_port});
            }
            cv_.notify_all();
          }, error)) {
        port_ = port;
      }
    }
    ASSERT_TRUE(socket_.Active()) << error;
  }
  bool WaitForReceived(std::size_t n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return received_.size() >= n; });
  }

  UdpSocket socket_;
  std::uint16_t port_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  bool held_ = false;
  int batches_ = 0;
  std::vector<Received> received_;
};

TEST_F(UdpSocketTest, DatagramsArriveInOrderInBatchesAndOverlongOnesAreDropped) {
  Open();
  PlainSocket peer;
  peer.SendTo(port_, 30, 1);
  ASSERT_TRUE(WaitForReceived(1));
  {
    std::lock_guard lock(mu_);
    held_ = true;
  }
  peer.SendTo(port_, 20, 9);  // the reading thread waits in the handler with it
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  peer.SendTo(port_, 40, 2);
  peer.SendTo(port_, 3000, 3);  // longer than any datagram of the protocol
  peer.SendTo(port_, 2048, 4);  // the longest accepted
  peer.SendTo(port_, 16, 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard lock(mu_);
    held_ = false;
  }
  cv_.notify_all();
  ASSERT_TRUE(WaitForReceived(5));
  std::lock_guard lock(mu_);
  ASSERT_EQ(received_.size(), 5u);
  const std::vector<std::pair<std::size_t, std::uint8_t>> expected = {
      {30, 1}, {20, 9}, {40, 2}, {2048, 4}, {16, 5}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(received_[i].size, expected[i].first);
    EXPECT_EQ(received_[i].first, expected[i].second);
    EXPECT_EQ(received_[i].peer, "127.0.0.1");
    EXPECT_EQ(received_[i].port, peer.port());
  }
  EXPECT_EQ(batches_, 3);  // the three that waited came together
}

TEST_F(UdpSocketTest, BatchGoesToEachPacketsPeer) {
  Open();
  PlainSocket a, b;
  std::vector<std::unique_ptr<transport::Packet>> batch;
  for (int i = 0; i < 5; ++i) {
    const std::vector<std::uint8_t> bytes(20 + i, static_cast<std::uint8_t>(i));
    batch.push_back(std::make_unique<transport::Packet>(bytes, "127.0.0.1",
                                                        i % 2 ? b.port() : a.port()));
  }
  std::size_t sent = 0;
  while (sent < batch.size()) {
    sent += socket_.SendBatch(std::span<const std::unique_ptr<transport::Packet>>(batch).subspan(sent));
  }
  for (int i : {0, 2, 4}) EXPECT_EQ(a.Receive(), std::vector<std::uint8_t>(20 + i, i));
  for (int i : {1, 3}) EXPECT_EQ(b.Receive(), std::vector<std::uint8_t>(20 + i, i));

  batch.clear();
  batch.push_back(std::make_unique<transport::Packet>(std::vector<std::uint8_t>(20, 9),
                                                      "not an address", a.port()));
  EXPECT_THROW(socket_.SendBatch(batch), std::runtime_error);
}

TEST_F(UdpSocketTest, CloseEndsAReaderThatIsWaiting) {
  Open();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader blocks
  const auto start = std::chrono::steady_clock::now();
  socket_.Close();
  EXPECT_FALSE(socket_.Active());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace voxhall::host
