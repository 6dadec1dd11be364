// The client session against the server's own packet buffer, in process and
// on a manual clock: every datagram the client builds must be accepted by
// the server's transport (checksums, ids, sequences), and what the server's
// transport sends must be acknowledged and decoded.
#include <gtest/gtest.h>

#include "protocol/client_object.h"
#include "protocol/text_message.h"
#include "protocol/wire.h"
#include "support/client_session.h"
#include "transport/packet_buffer.h"

namespace voxhall::testing {
namespace {

using transport::BufferFault;
using transport::Packet;
using transport::PacketClass;

constexpr std::uint32_t kPlayer = 7;
constexpr std::uint32_t kConnection = 4242;

class SessionTransportTest : public ::testing::Test {
 protected:
  transport::ManualClock clock_;
  transport::PacketBuffer buffer_{clock_};
  ClientSession session_;
  ClientSession::Clock::time_point now_ = ClientSession::Clock::now();

  // Hands every datagram the client has due to the server's buffer.
  std::vector<BufferFault> ClientToServer() {
    std::vector<BufferFault> faults;
    while (auto d = session_.NextOutgoing(now_)) {
      auto packet = std::make_unique<Packet>(*d, "127.0.0.1", 5000);
      faults.push_back(buffer_.ReceivePacket(std::move(packet)));
    }
    return faults;
  }

  // Hands every datagram the server's buffer has due to the client.
  std::vector<Record> ServerToClient() {
    std::vector<Record> records;
    while (auto p = buffer_.PollOutgoing()) {
      if (auto r = session_.Receive(p->Bytes(), now_)) records.push_back(std::move(*r));
    }
    return records;
  }

  std::unique_ptr<Packet> NextDelivered() {
    auto event = buffer_.PollIncoming();
    if (!event || event->kind != transport::bePacket) return nullptr;
    return std::move(event->packet);
  }

  // The server's side of an accepted login request.
  void AcceptLogin() {
    session_.StartLogin(LoginRequest{.nickname = "Anna"});
    ASSERT_EQ(ClientToServer(), std::vector<BufferFault>{BufferFault::kNone});
    auto request = NextDelivered();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->Size(), 180u);
    EXPECT_EQ(request->PacketType(), transport::kLoginRequestType);

    buffer_.AddConnection(kPlayer, kConnection, "127.0.0.1", 5000, 1);
    auto reply = transport::MakePacket(PacketClass::ConnectionPacket, transport::kLoginReplyType,
                                       0, kPlayer);
    reply->Resize(372);
    protocol::WireWriter w(reply->Buffer(), 88);
    w.PutI32(1);
    w.Seek(108).PutU32(kConnection).PutU32(kPlayer);
    buffer_.Send(std::move(reply), false);
    auto records = ServerToClient();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::get<LoginReply>(records[0]).result, 1);
    EXPECT_EQ(session_.player_id(), kPlayer);
    EXPECT_EQ(session_.connection_id(), kConnection);
  }

  std::unique_ptr<Packet> ServerCommand(std::uint16_t type, std::size_t size = 24) {
    auto p = transport::MakePacket(PacketClass::CommandPacket, type, kConnection, kPlayer);
    p->Resize(size);
    return p;
  }
};

TEST_F(SessionTransportTest, LoginCommandsPingAndVoiceAreAcceptedByTheServerTransport) {
  AcceptLogin();

  // Step 3 is numbered 1, delivered once and acknowledged.
  EXPECT_EQ(session_.QueueCommand(LoginStep3({.channel = "Lobby"})), 1u);
  EXPECT_EQ(ClientToServer(), std::vector<BufferFault>{BufferFault::kNone});
  auto step3 = NextDelivered();
  ASSERT_NE(step3, nullptr);
  EXPECT_EQ(step3->Size(), 116u);
  EXPECT_EQ(step3->PacketType(), 5);
  EXPECT_EQ(step3->Sequence(), 1u);
  EXPECT_FALSE(session_.AllAcknowledged());
  EXPECT_TRUE(ServerToClient().empty());  // the acknowledgement
  EXPECT_TRUE(session_.AllAcknowledged());

  // Login step 6: decoded, acknowledged, and the server's connection is up.
  buffer_.Send(ServerCommand(8), false);
  auto records = ServerToClient();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<LoginFinished>(records[0]));
  EXPECT_TRUE(session_.logged_in());
  EXPECT_EQ(ClientToServer(), std::vector<BufferFault>{BufferFault::kNone});
  EXPECT_EQ(buffer_.TEST_FindConnection(kPlayer)->State, transport::csConnected);

  // A ping is answered with a pong carrying its sequence.
  const std::uint32_t ping = session_.QueuePing();
  EXPECT_GE(ping, 3u);
  EXPECT_EQ(ClientToServer(), std::vector<BufferFault>{BufferFault::kNone});
  records = ServerToClient();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::get<Pong>(records[0]).ping_sequence, ping);

  // Voice in each mode reaches the listener with the client's ids.
  const std::vector<std::uint8_t> data = {1, 2, 3, 4};
  const WhisperTarget targets[] = {{1, 9}, {0, 2}};
  session_.QueueVoice(kOwnChannel, data);
  session_.QueueVoice(kWhisper, data, targets);
  session_.QueueVoice(kParentChannel, data, {}, 0x55, 0x1234);
  EXPECT_EQ(ClientToServer(), std::vector<BufferFault>(3, BufferFault::kNone));
  for (std::uint16_t counter = 1; counter <= 3; ++counter) {
    auto voice = NextDelivered();
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->Class(), PacketClass::VoiceC2SPacket);
    EXPECT_EQ(voice->VoiceCounter(), counter);
    EXPECT_EQ(voice->PlayerId(), kPlayer);
    EXPECT_EQ(voice->ConnectionId(), kConnection);
    EXPECT_EQ(voice->Size(), counter == 2 ? 16u + 1 + 10 + 4 : 20u);
  }
  EXPECT_EQ(buffer_.TEST_FindConnection(kPlayer)->PacketsLost, 0u);
}

TEST_F(SessionTransportTest, ServerResendsAreAcknowledgedAgainAndDeliveredOnce) {
  AcceptLogin();
  protocol::ClientObject receiver;
  receiver.PlayerId = kPlayer;
  receiver.ConnectionId = kConnection;
  buffer_.Send(protocol::NewNotifyTextMessage(receiver, "hello", 3, "Ben"), false);

  auto first = buffer_.PollOutgoing();
  ASSERT_NE(first, nullptr);
  clock_.AdvanceMs(100);  // no acknowledgement yet: the buffer resends
  auto again = buffer_.PollOutgoing();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->ResendCount(), 1);

  auto record = session_.Receive(first->Bytes(), now_);
  ASSERT_TRUE(record.has_value());
  const auto& text = std::get<TextMessage>(*record);
  EXPECT_EQ(text.message, "hello");
  EXPECT_EQ(text.kind, 3);
  EXPECT_EQ(text.sender, "Ben");
  EXPECT_EQ(text.raw.size(), 314u);
  EXPECT_FALSE(session_.Receive(again->Bytes(), now_).has_value());
  EXPECT_EQ(session_.duplicates_dropped(), 1u);

  // Both copies are acknowledged; the second acknowledgement, carrying
  // resend count 1, completes the command on the server.
  EXPECT_EQ(ClientToServer(), std::vector<BufferFault>(2, BufferFault::kNone));
  EXPECT_EQ(buffer_.TEST_FindConnection(kPlayer)->InFlight, nullptr);
}

}  // namespace
}  // namespace voxhall::testing
