// The sender thread: every datagram is written as it stands, a failed send
// is logged once and the thread goes on, and a stopping buffer ends it.
#include "transport/udp_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "log/log.h"
#include "support/temp_dir.h"
#include "test_packets.h"

namespace voxhall::transport {
namespace {

using testing::Outgoing;

TEST(VHUDPSenderTest, SendsEveryDatagramLogsFailuresAndStopsWithTheBuffer) {
  voxhall::testing::TempDir dir;
  const std::string log_path = dir.File("server.log");
  log::ServerLog = std::make_unique<log::LogFile>(log_path);
  log::ServerLog->set_options(0xFF, 0xFF);

  PacketBuffer buffer;
  for (std::uint32_t player = 1; player <= 3; ++player) {
    buffer.AddConnection(player, 10 + player, testing::kPeer, 5000, 1);
  }
  std::mutex mu;
  std::vector<std::vector<std::uint8_t>> written;
  int calls = 0;
  VHUDPSender sender(buffer, [&](std::span<const std::unique_ptr<Packet>> packets) {
    std::lock_guard<std::mutex> lock(mu);
    if (++calls == 1) throw std::runtime_error("host unreachable");
    const Packet& p = *packets.front();
    written.emplace_back(p.Bytes().begin(), p.Bytes().end());
    return std::size_t{1};
  });
  sender.Start();
  for (std::uint32_t player = 1; player <= 3; ++player) {
    buffer.Send(Outgoing(PacketClass::CommandPacket, player, 100, 10 + player), false);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (written.size() == 2) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (const auto& bytes : written) {
    Packet p(bytes);
    EXPECT_EQ(p.Size(), kCommandHeaderLength + 8);
    EXPECT_TRUE(p.ChecksumValid());
    EXPECT_EQ(p.Sequence(), 1u);
  }

  sender.Terminate();
  const auto stop_started = std::chrono::steady_clock::now();
  buffer.ThreadStopped(PacketBuffer::kListenerStoppedBit);
  EXPECT_TRUE(buffer.StopBuffer());
  EXPECT_LT(std::chrono::steady_clock::now() - stop_started, std::chrono::milliseconds(1500));
  sender.Join();

  log::ServerLog.reset();
  const std::string log = voxhall::testing::ReadFile(log_path);
  const std::string line = "ERROR,All,TVHUDPSender.Execute,\tException std::runtime_error : host unreachable\r\n";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line));  // exactly once
}

}  // namespace
}  // namespace voxhall::transport
