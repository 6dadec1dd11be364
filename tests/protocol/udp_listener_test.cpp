// The listener's own work, driven through a real packet buffer on a manual
// clock: departures when a connection times out, the stop notice of
// RemoveAllClients, and commands from strangers or of unknown types.
#include "protocol/udp_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "protocol/client_object.h"
#include "transport/clock.h"

namespace voxhall::protocol {
namespace {

using transport::ManualClock;
using transport::Packet;
using transport::PacketBuffer;
using transport::PacketClass;

constexpr const char* kPeer = "127.0.0.1";

std::uint32_t ConnOf(std::uint32_t player) { return 100 + player; }

class ListenerTest : public ::testing::Test {
 protected:
  ListenerTest() : channels_("server_cfg Test") {}

  ~ListenerTest() override {
    listener_.Terminate();
    buffer_.ThreadStopped(PacketBuffer::kSenderStoppedBit);  // no sender runs here
    if (!started_) buffer_.ThreadStopped(PacketBuffer::kListenerStoppedBit);
    buffer_.StopBuffer();
    listener_.Join();
  }

  void StartListener() {
    started_ = true;
    listener_.Start();
  }

  // A logged-in player with its connection record.
  void AddPlayer(std::int32_t id, std::int32_t channel) {
    auto p = std::make_unique<ClientObject>();
    p->PlayerId = id;
    p->ConnectionId = static_cast<std::int32_t>(ConnOf(id));
    p->ChannelId = channel;
    p->NickName = "player" + std::to_string(id);
    {
      std::lock_guard<ClientList> lock(clients_);
      clients_.Add(std::move(p));
    }
    buffer_.AddConnection(id, ConnOf(id), kPeer, static_cast<std::uint16_t>(5000 + id), 1);
  }

  // Completes the login of a connection: login step 6 sent and acknowledged.
  void Connect(std::uint32_t player) {
    auto step6 = transport::MakePacket(PacketClass::CommandPacket,
                                       transport::SingleConnection::kLoginStep6Type,
                                       ConnOf(player), player);
    buffer_.Send(std::move(step6), false);
    auto sent = buffer_.PollOutgoing();
    ASSERT_NE(sent, nullptr);
    auto ack = transport::MakePacket(PacketClass::AckPacket, 0, ConnOf(player), player);
    ack->SetSequence(sent->Sequence());
    ack->UpdateChecksum();
    ack->SetPeer(kPeer, static_cast<std::uint16_t>(5000 + player));
    ASSERT_EQ(buffer_.ReceivePacket(std::move(ack)), transport::BufferFault::kNone);
  }

  std::vector<std::unique_ptr<Packet>> DrainOutgoing() {
    std::vector<std::unique_ptr<Packet>> out;
    while (auto p = buffer_.PollOutgoing()) {
      if (p->Class() == PacketClass::CommandPacket) out.push_back(std::move(p));
    }
    return out;
  }

  bool WaitForConnectionCount(int n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (buffer_.ConnectionCount() != n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  std::size_t PlayerCount() {
    std::lock_guard<ClientList> lock(clients_);
    return clients_.Count();
  }

  ServerData server_;  // clan server: every player sees every other
  ManualClock clock_;
  PacketBuffer buffer_{clock_};
  ClientList clients_;
  Channels channels_;
  VHUDPListener listener_{server_, buffer_, clients_, channels_, nullptr};
  bool started_ = false;
};

TEST_F(ListenerTest, RemoveAllClientsTellsEachPlayerOnlyOfItself) {
  for (int id = 1; id <= 3; ++id) AddPlayer(id, 0);
  listener_.RemoveAllClients();
  EXPECT_EQ(PlayerCount(), 0u);

  auto sent = DrainOutgoing();
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& p : sent) {
    EXPECT_EQ(p->PacketType(), kNotifyPlayerLeftScope);
    EXPECT_EQ(p->Size(), 64u);
    EXPECT_EQ(p->U32At(24), p->PlayerId());  // about the receiver itself
    EXPECT_EQ(p->U16At(28), kLeftServerStopped);
    EXPECT_EQ(p->U32At(30), 0u);
    EXPECT_EQ(p->Data()[34], 0);  // empty message
  }
}

TEST_F(ListenerTest, TimedOutPlayerIsAnnouncedToOthersAndRemoved) {
  AddPlayer(1, 0);
  AddPlayer(2, 0);
  Connect(2);  // a connected record may stay silent far longer
  StartListener();

  clock_.AdvanceMs(2000);  // the still-connecting record of player 1 times out
  ASSERT_TRUE(WaitForConnectionCount(1));
  EXPECT_EQ(PlayerCount(), 1u);

  auto sent = DrainOutgoing();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]->PlayerId(), 2u);
  EXPECT_EQ(sent[0]->PacketType(), kNotifyPlayerLeftScope);
  EXPECT_EQ(sent[0]->U32At(24), 1u);
  EXPECT_EQ(sent[0]->U16At(28), kLeftTimeout);
}

TEST_F(ListenerTest, PlayerWithAFullQueueMissesNoticesAloneAndTimesOut) {
  AddPlayer(1, 0);  // still connecting: times out first
  AddPlayer(2, 0);
  Connect(2);
  AddPlayer(3, 0);
  Connect(3);
  // Player 2 stops acknowledging: its command queue fills up.
  for (int i = 0; i < 1024; ++i) {
    buffer_.Send(transport::MakePacket(PacketClass::CommandPacket, 999, ConnOf(2), 2), false);
  }
  StartListener();
  clock_.AdvanceMs(2000);
  ASSERT_TRUE(WaitForConnectionCount(1));
  EXPECT_EQ(PlayerCount(), 1u);

  // Player 3, behind player 2 in the list, hears of both departures.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> heard;  // who left, why
  while (auto p = buffer_.PollOutgoing()) {
    if (p->PlayerId() != 3 || p->Class() != PacketClass::CommandPacket) continue;
    heard.emplace_back(p->U32At(24), p->U16At(28));
    auto ack = transport::MakePacket(PacketClass::AckPacket, 0, ConnOf(3), 3);
    ack->SetSequence(p->Sequence());
    ack->UpdateChecksum();
    ack->SetPeer(kPeer, 5003);
    buffer_.ReceivePacket(std::move(ack));
  }
  EXPECT_EQ(heard, (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                       {1, kLeftTimeout}, {2, kLeftTimeout}}));
}

TEST_F(ListenerTest, CommandLeftUnacknowledgedTimesTheClientOut) {
  AddPlayer(2, 0);
  Connect(2);
  buffer_.Send(transport::MakePacket(PacketClass::CommandPacket, 999, ConnOf(2), 2), false);
  ASSERT_NE(buffer_.PollOutgoing(), nullptr);
  StartListener();
  // The client keeps pinging, so it is never silent, but never acknowledges.
  for (std::uint32_t seq = 2; seq < 17; ++seq) {
    clock_.AdvanceMs(1000);
    auto ping = transport::MakePacket(PacketClass::ConnectionPacket, transport::kPingType,
                                      ConnOf(2), 2);
    ping->SetSequence(seq);
    ping->UpdateChecksum();
    ping->SetPeer(kPeer, 5002);
    buffer_.ReceivePacket(std::move(ping));
  }
  ASSERT_TRUE(WaitForConnectionCount(0));
  EXPECT_EQ(PlayerCount(), 0u);
}

TEST_F(ListenerTest, ConnectionWithoutPlayerOnlyLosesItsRecord) {
  buffer_.AddConnection(9, ConnOf(9), kPeer, 5009, 1);  // e.g. after a refused login
  AddPlayer(2, 0);
  Connect(2);
  StartListener();
  clock_.AdvanceMs(2000);
  ASSERT_TRUE(WaitForConnectionCount(1));
  EXPECT_EQ(PlayerCount(), 1u);
  EXPECT_TRUE(DrainOutgoing().empty());
}

TEST_F(ListenerTest, LingeringRecordOfARefusedLoginNeverActsOnAnotherPlayer) {
  // A refused login leaves its record for about 2 s under the id it was given.
  ASSERT_TRUE(buffer_.AddConnection(1, 555, kPeer, 5001, 1));
  {
    std::lock_guard<ClientList> lock(clients_);
    std::int32_t next = 1;
    EXPECT_EQ(clients_.GetNewPlayerID(
                  next, [this](std::int32_t id) { return buffer_.HasConnection(id); }),
              2);
  }
  EXPECT_FALSE(buffer_.AddConnection(1, 556, kPeer, 5001, 1));

  // Should a player be listed under that id with another connection, the old
  // record's time-out removes the record and nothing else.
  auto p = std::make_unique<ClientObject>();
  p->PlayerId = 1;
  p->ConnectionId = 556;
  p->NickName = "newer";
  {
    std::lock_guard<ClientList> lock(clients_);
    clients_.Add(std::move(p));
  }
  AddPlayer(2, 0);
  Connect(2);
  StartListener();
  clock_.AdvanceMs(2000);
  ASSERT_TRUE(WaitForConnectionCount(1));
  EXPECT_EQ(PlayerCount(), 2u);
  EXPECT_TRUE(DrainOutgoing().empty());  // nobody is told of a departure
}

TEST_F(ListenerTest, UnknownCommandsGetNoAnswerButRefreshTheSender) {
  AddPlayer(2, 0);
  Connect(2);
  StartListener();
  ClientObject* player = nullptr;
  {
    std::lock_guard<ClientList> lock(clients_);
    player = clients_.GetClientObject(2);
    player->LastPacketTime = 0;
  }
  auto command = transport::MakePacket(PacketClass::CommandPacket, 999, ConnOf(2), 2);
  command->SetSequence(1);
  command->UpdateChecksum();
  command->SetPeer(kPeer, 5002);
  ASSERT_EQ(buffer_.ReceivePacket(std::move(command)), transport::BufferFault::kNone);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard<ClientList> lock(clients_);
      if (player->LastPacketTime != 0) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Only the transport's acknowledgement goes out; the listener says nothing.
  EXPECT_TRUE(DrainOutgoing().empty());
}

// Voice that is next in line is relayed by the thread that received it;
// the first command stops it, so nothing overtakes an earlier event, and the
// caller learns that the listener has to be woken.
TEST_F(ListenerTest, VoiceNextInLineIsRelayedByTheCallerUpToTheFirstCommand) {
  std::int32_t channel = 0;
  {
    std::lock_guard<Channels> lock(channels_);
    channel = channels_.CreateDefaultChannel();
  }
  for (std::uint32_t id = 1; id <= 3; ++id) {
    AddPlayer(static_cast<std::int32_t>(id), channel);
    Connect(id);
    std::lock_guard<ClientList> lock(clients_);
    clients_.GetClientObject(static_cast<std::int32_t>(id))->LoginComplete = true;
  }
  while (buffer_.PollOutgoing()) {
  }
  auto voice = [](std::uint16_t counter) {
    auto p = transport::MakePacket(PacketClass::VoiceC2SPacket, 0, ConnOf(1), 1);
    p->SetVoiceCounter(counter);
    p->Resize(16 + 10);
    p->SetPeer(kPeer, 5001);
    return p;
  };
  auto command = transport::MakePacket(PacketClass::CommandPacket, 999, ConnOf(2), 2);
  command->SetSequence(1);
  command->UpdateChecksum();
  command->SetPeer(kPeer, 5002);
  std::vector<std::unique_ptr<Packet>> batch;
  batch.push_back(voice(1));
  batch.push_back(std::move(command));
  batch.push_back(voice(2));
  buffer_.ReceivePackets(batch, nullptr, false);

  // Relayed copies, by the speaker's counter they carry (offset 20).
  auto relayed = [&] {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
    while (auto p = buffer_.PollOutgoing()) {
      if (p->Class() == PacketClass::VoiceS2CPacket) out.emplace_back(p->PlayerId(), p->U16At(20));
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  using Copies = std::vector<std::pair<std::uint32_t, std::uint16_t>>;
  EXPECT_FALSE(listener_.RelayReadyVoice());  // the command waits for the listener
  EXPECT_EQ(relayed(), (Copies{{2, 1}, {3, 1}}));
  auto next = buffer_.PollIncoming();
  ASSERT_TRUE(next.has_value());
  ASSERT_NE(next->packet, nullptr);
  EXPECT_EQ(next->packet->Class(), PacketClass::CommandPacket);
  EXPECT_TRUE(listener_.RelayReadyVoice());  // nothing else waits
  EXPECT_EQ(relayed(), (Copies{{2, 2}, {3, 2}}));
}

// The reading thread and the listener thread take turns on one stream of
// events: voice relayed by the caller, commands by the listener. Every frame
// is relayed once and in order, whichever thread took it.
TEST_F(ListenerTest, ReadingThreadAndListenerKeepTheOrderOfOneStream) {
  std::int32_t channel = 0;
  {
    std::lock_guard<Channels> lock(channels_);
    channel = channels_.CreateDefaultChannel();
  }
  for (std::uint32_t id = 1; id <= 2; ++id) {
    AddPlayer(static_cast<std::int32_t>(id), channel);
    Connect(id);
    std::lock_guard<ClientList> lock(clients_);
    clients_.GetClientObject(static_cast<std::int32_t>(id))->LoginComplete = true;
  }
  while (buffer_.PollOutgoing()) {
  }
  StartListener();

  constexpr std::uint16_t kFrames = 300;
  for (std::uint16_t k = 1; k <= kFrames; ++k) {
    std::vector<std::unique_ptr<Packet>> batch;
    auto voice = transport::MakePacket(PacketClass::VoiceC2SPacket, 0, ConnOf(1), 1);
    voice->SetVoiceCounter(k);
    voice->Resize(16 + 10);
    voice->SetPeer(kPeer, 5001);
    batch.push_back(std::move(voice));
    if (k % 3 == 0) {  // now and then a command of player 1 in between
      auto command = transport::MakePacket(PacketClass::CommandPacket, 999, ConnOf(1), 1);
      command->SetSequence(k / 3);
      command->UpdateChecksum();
      command->SetPeer(kPeer, 5001);
      batch.push_back(std::move(command));
    }
    buffer_.ReceivePackets(batch, nullptr, false);
    if (!listener_.RelayReadyVoice()) buffer_.WakeListener();
  }

  std::vector<std::uint16_t> counters;  // the speaker's counters player 2 got
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (counters.size() < kFrames && std::chrono::steady_clock::now() < deadline) {
    while (auto p = buffer_.PollOutgoing()) {
      if (p->Class() == PacketClass::VoiceS2CPacket) counters.push_back(p->U16At(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(counters.size(), kFrames);
  for (std::uint16_t k = 1; k <= kFrames; ++k) EXPECT_EQ(counters[k - 1], k);
}

}  // namespace
}  // namespace voxhall::protocol
