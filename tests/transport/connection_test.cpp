#include "transport/connection.h"

#include <gtest/gtest.h>

#include "test_packets.h"

namespace voxhall::transport {
namespace {

using testing::Outgoing;

constexpr std::uint32_t kPlayer = 7;
constexpr std::uint32_t kConn = 0xC0FFEE;

class ConnectionTest : public ::testing::Test {
 protected:
  ManualClock clock_;
  SingleConnection c_{clock_, kPlayer, kConn, "127.0.0.1", 6000, 1};

  std::unique_ptr<Packet> Next() { return c_.NextOutgoing(Stopwatch(clock_)); }
  void QueueCommand(std::uint16_t type = 100) {
    c_.ReliableQueue.Push(Outgoing(PacketClass::CommandPacket, kPlayer, type));
  }
};

TEST_F(ConnectionTest, FirstCommandIsNumberedOneAndReadyToGo) {
  EXPECT_EQ(c_.ResendTimeout, 60);
  EXPECT_EQ(c_.AverageRtt, 50);
  QueueCommand();
  auto p = Next();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Class(), PacketClass::CommandPacket);
  EXPECT_EQ(p->Sequence(), 1u);
  EXPECT_EQ(p->ResendCount(), 0);
  EXPECT_EQ(p->ConnectionId(), kConn);
  EXPECT_TRUE(p->IsValidPacket());
  EXPECT_EQ(p->PeerAddress(), "127.0.0.1");
  EXPECT_EQ(p->PeerPort(), 6000);
  ASSERT_NE(c_.InFlight, nullptr);
  EXPECT_EQ(c_.PacketsSent, 1u);
  EXPECT_EQ(c_.BytesSent, p->Size());
  EXPECT_EQ(Next(), nullptr);  // stop-and-wait: nothing else until it is due
}

TEST_F(ConnectionTest, UnacknowledgedCommandIsRetransmittedAfterResendTimeout) {
  QueueCommand();
  QueueCommand();
  auto first = Next();
  clock_.AdvanceMs(60);
  EXPECT_EQ(Next(), nullptr);  // not yet more than 60 ms
  EXPECT_EQ(c_.TimeUntilSend(Stopwatch(clock_)), 0);
  clock_.AdvanceMs(1);
  auto again = Next();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Sequence(), 1u);
  EXPECT_EQ(again->ResendCount(), 1);
  EXPECT_TRUE(again->IsValidPacket());
  EXPECT_NE(again->U32At(kCommandChecksumOffset), first->U32At(kCommandChecksumOffset));
  EXPECT_EQ(c_.CommandSendSeq, 1u);
  clock_.AdvanceMs(20);
  EXPECT_EQ(c_.TimeUntilSend(Stopwatch(clock_)), 40);
}

TEST_F(ConnectionTest, AcknowledgementOfFirstTransmissionGivesRttSample) {
  QueueCommand();
  Next();
  clock_.AdvanceMs(100);
  EXPECT_TRUE(c_.HandleAck(1, 0, Stopwatch(clock_)));
  EXPECT_EQ(c_.AverageRtt, 53);     // 850 / 16 = 53.125
  EXPECT_EQ(c_.ResendTimeout, 64);  // 53.125 * 1.2 = 63.75
  EXPECT_EQ(c_.InFlight, nullptr);
  EXPECT_EQ(c_.TimeUntilSend(Stopwatch(clock_)), SingleConnection::kIdleSendWaitMs);
}

TEST_F(ConnectionTest, AcknowledgementOfRetransmissionCountsLossAndNoSample) {
  QueueCommand();
  Next();
  clock_.AdvanceMs(500);
  EXPECT_TRUE(c_.HandleAck(1, 2, Stopwatch(clock_)));
  EXPECT_EQ(c_.PacketsLost, 2u);
  EXPECT_EQ(c_.AverageRtt, 50);
  EXPECT_EQ(c_.ResendTimeout, 60);
}

TEST_F(ConnectionTest, AcknowledgementOfAnotherSequenceOnlyCounts) {
  QueueCommand();
  Next();
  EXPECT_FALSE(c_.HandleAck(2, 0, Stopwatch(clock_)));
  EXPECT_NE(c_.InFlight, nullptr);
  EXPECT_EQ(c_.PacketsReceived, 1u);
  EXPECT_EQ(c_.BytesReceived, 16u);
  EXPECT_EQ(c_.PacketsLost, 0u);
  EXPECT_EQ(c_.AverageRtt, 50);
}

TEST_F(ConnectionTest, RttRoundingIsHalfToEvenWithAFloorOfTen) {
  struct Case {
    std::int32_t sample;  // written into all 16 slots
    std::int32_t average, resend;
  };
  // 16 equal samples s: average s, resend s * 1.2 rounded half to even.
  const Case cases[] = {{0, 0, 10}, {5, 5, 10}, {10, 10, 12}, {25, 25, 30}, {100, 100, 120}};
  for (const Case& c : cases) {
    for (int i = 0; i < SingleConnection::kRttSampleCount; ++i) c_.AddRttSample(c.sample);
    EXPECT_EQ(c_.AverageRtt, c.average) << c.sample;
    EXPECT_EQ(c_.ResendTimeout, c.resend) << c.sample;
  }
  // Sum 808: 50.5 rounds to 50; sum 824: 51.5 rounds to 52.
  for (int i = 0; i < 16; ++i) c_.AddRttSample(50);
  c_.AddRttSample(58);
  EXPECT_EQ(c_.AverageRtt, 50);
  c_.AddRttSample(66);
  EXPECT_EQ(c_.AverageRtt, 52);
  // Sum 460: average 28.75 rounds to 29, resend 34.5 to 34.
  for (int i = 0; i < 15; ++i) c_.AddRttSample(29);
  c_.AddRttSample(25);
  EXPECT_EQ(c_.AverageRtt, 29);
  EXPECT_EQ(c_.ResendTimeout, 34);
}

TEST_F(ConnectionTest, CommandsAreAcknowledgedAndDeliveredOnceInOrder) {
  EXPECT_TRUE(c_.AcceptCommand(1, 0, 30));
  EXPECT_FALSE(c_.AcceptCommand(1, 1, 30));  // repetition
  EXPECT_FALSE(c_.AcceptCommand(3, 0, 30));  // out of order
  EXPECT_TRUE(c_.AcceptCommand(2, 0, 30));
  EXPECT_EQ(c_.CommandRecvNext, 3u);
  EXPECT_EQ(c_.PacketsReceived, 4u);
  EXPECT_EQ(c_.BytesReceived, 120u);
  ASSERT_EQ(c_.DirectQueue.Count(), 4);
  auto ack = c_.DirectQueue.Pop();
  ack = c_.DirectQueue.Pop();  // the one for the repetition
  EXPECT_EQ(ack->Size(), kAckLength);
  EXPECT_EQ(ack->Magic(), kAckMagic);
  EXPECT_EQ(ack->PacketType(), 1);  // the ResendCount acknowledged
  EXPECT_EQ(ack->ConnectionId(), kConn);
  EXPECT_EQ(ack->PlayerId(), kPlayer);
  EXPECT_EQ(ack->Sequence(), 1u);
}

TEST_F(ConnectionTest, OutputOrderIsAckRetransmissionVoiceConnection) {
  QueueCommand();
  Next();  // command 1 in flight
  clock_.AdvanceMs(61);
  c_.ConnectionQueue.Push(Outgoing(PacketClass::ConnectionPacket, kPlayer, kLoginReplyType));
  c_.VoiceQueue.Push(Outgoing(PacketClass::VoiceS2CPacket, kPlayer, 0));
  c_.AcceptCommand(1, 0, 24);

  auto p1 = Next();
  auto p2 = Next();
  auto p3 = Next();
  auto p4 = Next();
  ASSERT_TRUE(p1 && p2 && p3 && p4);
  EXPECT_EQ(p1->Class(), PacketClass::AckPacket);
  EXPECT_EQ(p2->Class(), PacketClass::CommandPacket);
  EXPECT_EQ(p2->ResendCount(), 1);
  EXPECT_EQ(p3->Class(), PacketClass::VoiceS2CPacket);
  EXPECT_EQ(p3->VoiceCounter(), 1);
  EXPECT_EQ(p3->ConnectionId(), kConn);
  EXPECT_EQ(p4->Class(), PacketClass::ConnectionPacket);
  EXPECT_EQ(p4->Sequence(), 2u);  // the initial sequence was 1
  EXPECT_EQ(p4->ConnectionId(), 0u);  // login reply
  EXPECT_TRUE(p4->IsValidPacket());
  EXPECT_EQ(Next(), nullptr);
}

TEST_F(ConnectionTest, VoiceCounterWrapsToZeroAfter65535) {
  std::uint16_t last = 0;
  for (int i = 1; i <= 65537; ++i) {
    c_.VoiceQueue.Push(Outgoing(PacketClass::VoiceS2CPacket, kPlayer, 0));
    last = Next()->VoiceCounter();
    if (i == 65535) {
      EXPECT_EQ(last, 65535);
    } else if (i == 65536) {
      EXPECT_EQ(last, 0);
    }
  }
  EXPECT_EQ(last, 1);
}

TEST_F(ConnectionTest, LoginStepSixAcknowledgementConnects) {
  QueueCommand(7);
  Next();
  c_.HandleAck(1, 0, Stopwatch(clock_));
  EXPECT_EQ(c_.State, csConnecting);
  QueueCommand(SingleConnection::kLoginStep6Type);
  Next();
  c_.HandleAck(2, 0, Stopwatch(clock_));
  EXPECT_EQ(c_.State, csConnected);
}

TEST_F(ConnectionTest, IncomingVoiceCountersCountGapsAsLoss) {
  c_.AcceptVoiceCounter(4);
  EXPECT_EQ(c_.PacketsLost, 3u);  // 1 to 3
  for (std::uint16_t counter : {5, 9, 7}) c_.AcceptVoiceCounter(counter);
  EXPECT_EQ(c_.PacketsLost, 6u);  // 6 to 8; 7 came late
  EXPECT_EQ(c_.VoiceRecvNext, 10u);
  c_.AcceptVoiceCounter(20000);  // a jump this far is no loss
  EXPECT_EQ(c_.PacketsLost, 6u);
  c_.AcceptVoiceCounter(65534);
  EXPECT_EQ(c_.VoiceRecvNext, 0u);
}

TEST_F(ConnectionTest, ConnectionSequencesDropOldOnesAndCountGaps) {
  EXPECT_EQ(c_.ConnectionRecvNext, 3u);
  EXPECT_FALSE(c_.AcceptConnectionSequence(2));
  EXPECT_TRUE(c_.AcceptConnectionSequence(5));
  EXPECT_EQ(c_.PacketsLost, 2u);
  EXPECT_FALSE(c_.AcceptConnectionSequence(5));
  EXPECT_TRUE(c_.AcceptConnectionSequence(6));
  EXPECT_EQ(c_.PacketsLost, 2u);
}

TEST_F(ConnectionTest, StateTimeoutsAndClosing) {
  const Stopwatch start(clock_);
  EXPECT_EQ(c_.TimeUntilTimeout(start), 2000);
  clock_.AdvanceMs(1500);
  EXPECT_EQ(c_.TimeUntilTimeout(Stopwatch(clock_)), 500);
  clock_.AdvanceMs(500);
  EXPECT_EQ(c_.TimeUntilTimeout(Stopwatch(clock_)), 0);

  c_.State = csConnected;
  EXPECT_EQ(c_.TimeUntilTimeout(Stopwatch(clock_)), 13000);

  c_.BeginClosing();
  clock_.AdvanceMs(1000);
  c_.LastReceiveTimer.Start();  // datagrams do not postpone the close
  clock_.AdvanceMs(999);
  EXPECT_FALSE(c_.IsClosed(Stopwatch(clock_)));
  clock_.AdvanceMs(1);
  EXPECT_TRUE(c_.IsClosed(Stopwatch(clock_)));
  EXPECT_EQ(c_.StateTimeout(), 0);
}

TEST_F(ConnectionTest, ClockJumpNeverTimesOutOrRetransmits) {
  QueueCommand();
  Next();
  clock_.AdvanceMs(-5000);  // every timer now lies in the future
  const Stopwatch now(clock_);
  EXPECT_EQ(c_.TimeUntilTimeout(now), 2000);
  EXPECT_EQ(Next(), nullptr);
  EXPECT_EQ(c_.TimeUntilSend(Stopwatch(clock_)), 60);
}

}  // namespace
}  // namespace voxhall::transport
