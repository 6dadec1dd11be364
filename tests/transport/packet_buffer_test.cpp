#include "transport/packet_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "test_packets.h"

namespace voxhall::transport {
namespace {

using namespace testing;  // NOLINT: the packet builders

std::uint32_t ConnOf(std::uint32_t player) { return 1000 + player; }

class PacketBufferTest : public ::testing::Test {
 protected:
  ManualClock clock_;
  PacketBuffer buffer_{clock_};

  void Add(std::uint32_t player) {
    buffer_.AddConnection(player, ConnOf(player), kPeer, kPeerPort, 1);
  }

  // Brings a new record to csConnected as a login does: login step 6 is
  // sent and acknowledged.
  void Connect(std::uint32_t player) {
    Add(player);
    buffer_.Send(Outgoing(PacketClass::CommandPacket, player, SingleConnection::kLoginStep6Type,
                          ConnOf(player)),
                 false);
    auto step6 = buffer_.PollOutgoing();
    ASSERT_NE(step6, nullptr);
    EXPECT_EQ(buffer_.ReceivePacket(Ack(player, ConnOf(player), step6->Sequence())),
              BufferFault::kNone);
    ASSERT_EQ(Record(player).State, csConnected);
  }

  SingleConnection& Record(std::uint32_t player) { return *buffer_.TEST_FindConnection(player); }

  std::vector<std::unique_ptr<Packet>> DrainOutgoing() {
    std::vector<std::unique_ptr<Packet>> out;
    while (auto p = buffer_.PollOutgoing()) out.push_back(std::move(p));
    return out;
  }

  // The next incoming event, which must be a packet.
  std::unique_ptr<Packet> NextPacket() {
    auto event = buffer_.PollIncoming();
    if (!event || event->kind != bePacket) return nullptr;
    return std::move(event->packet);
  }

  void ExpectNoIncoming() { EXPECT_FALSE(buffer_.PollIncoming().has_value()); }
};

TEST_F(PacketBufferTest, LoginRequestIsDeliveredWithoutAConnection) {
  auto login = Connection(0, 0, kLoginRequestType, 1);
  login->Resize(180);
  login->UpdateChecksum();
  EXPECT_EQ(buffer_.ReceivePacket(std::move(login)), BufferFault::kNone);
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, bePacket);
  EXPECT_EQ(event->player_id, 0u);
  ASSERT_NE(event->packet, nullptr);
  EXPECT_EQ(event->packet->PeerPort(), kPeerPort);

  // The same type with a player id that has no record is dropped.
  EXPECT_EQ(buffer_.ReceivePacket(Connection(5, 0, kLoginRequestType, 1)), BufferFault::kNone);
  ExpectNoIncoming();
}

TEST_F(PacketBufferTest, RejectedDatagramsAreCountedAndDropped) {
  Add(1);
  auto bad_checksum = Command(1, ConnOf(1), 1);
  bad_checksum->Buffer()[6] ^= 0xFF;
  auto too_short = std::make_unique<Packet>(std::vector<std::uint8_t>{0xF0, 0xBE, 0, 0});
  auto s2c = MakePacket(PacketClass::VoiceS2CPacket, 0, ConnOf(1), 1);

  EXPECT_EQ(buffer_.ReceivePacket(std::move(bad_checksum)), BufferFault::kInvalidPacket);
  EXPECT_EQ(buffer_.ReceivePacket(std::move(too_short)), BufferFault::kInvalidPacket);
  EXPECT_EQ(buffer_.ReceivePacket(std::move(s2c)), BufferFault::kS2CRecvOnServer);
  EXPECT_EQ(buffer_.ReceivePacket(Command(99, 5, 1)), BufferFault::kNone);  // no record
  ExpectNoIncoming();
  EXPECT_TRUE(DrainOutgoing().empty());
  EXPECT_EQ(Record(1).PacketsReceived, 0u);
  const BufferStats stats = buffer_.GetBufferStats();
  EXPECT_EQ(stats.packets_received, 4u);
  EXPECT_EQ(stats.bytes_received, 24u + 4u + 22u + 24u);
  EXPECT_STREQ(FaultText(BufferFault::kInvalidPacket), "Invalid Packet");
  EXPECT_STREQ(PacketBufferError(BufferFault::kWrongConnection).what(),
               "wrong Connection + player combo");
}

TEST_F(PacketBufferTest, RepeatedCommandIsAcknowledgedAgainButDeliveredOnce) {
  Connect(1);
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 1)), BufferFault::kNone);
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 1, 1)), BufferFault::kNone);
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 5)), BufferFault::kNone);  // ahead
  auto delivered = NextPacket();
  ASSERT_NE(delivered, nullptr);
  EXPECT_EQ(delivered->Sequence(), 1u);
  ExpectNoIncoming();

  auto acks = DrainOutgoing();
  ASSERT_EQ(acks.size(), 3u);
  const std::uint32_t sequences[] = {1, 1, 5};
  const std::uint16_t resends[] = {0, 1, 0};
  for (std::size_t i = 0; i < acks.size(); ++i) {
    EXPECT_EQ(acks[i]->Class(), PacketClass::AckPacket);
    EXPECT_EQ(acks[i]->Size(), kAckLength);
    EXPECT_EQ(acks[i]->Sequence(), sequences[i]);
    EXPECT_EQ(acks[i]->PacketType(), resends[i]);
    EXPECT_EQ(acks[i]->ConnectionId(), ConnOf(1));
  }
}

TEST_F(PacketBufferTest, VoiceIsAlwaysDeliveredAndGapsCountAsLoss) {
  Connect(1);
  for (std::uint16_t counter : {4, 5, 9, 7}) {
    EXPECT_EQ(buffer_.ReceivePacket(Voice(1, ConnOf(1), counter)), BufferFault::kNone);
  }
  for (std::uint16_t counter : {4, 5, 9, 7}) {
    auto p = NextPacket();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->VoiceCounter(), counter);
  }
  // 4 is counted from 1: 3 lost, then 3 more at 9.
  EXPECT_EQ(Record(1).PacketsLost, 6u);
  EXPECT_EQ(Record(1).VoiceRecvNext, 10u);

  Add(2);  // still logging in
  EXPECT_EQ(buffer_.ReceivePacket(Voice(2, ConnOf(2), 1)), BufferFault::kVoiceDuringLogin);
  ExpectNoIncoming();
}

TEST_F(PacketBufferTest, PingIsAnsweredWithOnePongOnlyWhenConnected) {
  Add(2);
  EXPECT_EQ(buffer_.ReceivePacket(Connection(2, ConnOf(2), kPingType, 3)), BufferFault::kNone);
  EXPECT_TRUE(DrainOutgoing().empty());

  Connect(1);
  EXPECT_EQ(buffer_.ReceivePacket(Connection(1, ConnOf(1), kPingType, 3)), BufferFault::kNone);
  ExpectNoIncoming();
  auto out = DrainOutgoing();
  ASSERT_EQ(out.size(), 1u);
  const Packet& pong = *out[0];
  EXPECT_EQ(pong.Size(), kPongLength);
  EXPECT_EQ(pong.Class(), PacketClass::ConnectionPacket);
  EXPECT_EQ(pong.PacketType(), kPongType);
  EXPECT_EQ(pong.U32At(kPongSequenceOffset), 3u);
  EXPECT_EQ(pong.Sequence(), 2u);  // the record's own counter, from 1
  EXPECT_EQ(pong.ConnectionId(), ConnOf(1));
  EXPECT_EQ(pong.PlayerId(), 1u);
  EXPECT_TRUE(pong.IsValidPacket());

  // The same ping again is old and dropped.
  buffer_.ReceivePacket(Connection(1, ConnOf(1), kPingType, 3));
  EXPECT_TRUE(DrainOutgoing().empty());
}

TEST_F(PacketBufferTest, WrongConnectionIdLeavesTheRecordUntouched) {
  Connect(1);
  clock_.AdvanceMs(500);
  const auto heard = Record(1).LastReceiveTimer.StartTime();
  auto voice = Voice(1, ConnOf(1) + 1, 1);
  voice->SetPeer("127.0.0.9", 7000);
  EXPECT_EQ(buffer_.ReceivePacket(std::move(voice)), BufferFault::kWrongConnection);
  EXPECT_EQ(Record(1).LastReceiveTimer.StartTime(), heard);
  EXPECT_EQ(Record(1).PeerAddress, kPeer);
  EXPECT_EQ(Record(1).PeerPort, kPeerPort);
  ExpectNoIncoming();
}

TEST_F(PacketBufferTest, OnlyADatagramThatPassesEveryCheckMovesThePeer) {
  Connect(1);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false);
  auto in_flight = buffer_.PollOutgoing();
  ASSERT_NE(in_flight, nullptr);
  struct Case {
    const char* what;
    std::unique_ptr<Packet> datagram;
    const char* address;
    BufferFault fault;
  };
  Case cases[] = {
      {"voice from another address", Voice(1, ConnOf(1), 1), "127.0.0.9",
       BufferFault::kWrongConnection},
      {"command from another address", Command(1, ConnOf(1), 1), "10.0.0.1",
       BufferFault::kWrongConnection},
      {"acknowledgement of nothing sent", Ack(1, ConnOf(1), in_flight->Sequence() + 1), kPeer,
       BufferFault::kNone},
      {"old connection packet", Connection(1, ConnOf(1), kPingType, 1), kPeer, BufferFault::kNone},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    clock_.AdvanceMs(100);
    const auto heard = Record(1).LastReceiveTimer.StartTime();
    c.datagram->SetPeer(c.address, 7777);
    EXPECT_EQ(buffer_.ReceivePacket(std::move(c.datagram)), c.fault);
    EXPECT_EQ(Record(1).PeerAddress, kPeer);
    EXPECT_EQ(Record(1).PeerPort, kPeerPort);
    EXPECT_EQ(Record(1).LastReceiveTimer.StartTime(), heard);
    ExpectNoIncoming();
  }
  // The acknowledgement that matches, from a new port of the same address.
  auto ack = Ack(1, ConnOf(1), in_flight->Sequence());
  ack->SetPeer(kPeer, 7777);
  EXPECT_EQ(buffer_.ReceivePacket(std::move(ack)), BufferFault::kNone);
  EXPECT_EQ(Record(1).PeerPort, 7777);
}

TEST_F(PacketBufferTest, RepliesFollowAChangedSourcePort) {
  Connect(1);
  EXPECT_EQ(buffer_.ReceivePacket(Voice(1, ConnOf(1), 1, 6123)), BufferFault::kNone);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false);
  auto out = DrainOutgoing();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->PeerPort(), 6123);
  EXPECT_EQ(buffer_.GetConnectionStats(1)->peer_port, 6123);
}

TEST_F(PacketBufferTest, SendRefusesWithoutTellingTheCaller) {
  Add(2);  // connecting
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::VoiceS2CPacket, 2), false),
            BufferFault::kVoiceToUnconnected);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::AckPacket, 2), false),
            BufferFault::kInvalidPacketOnBuffer);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::VoiceC2SPacket, 2), false),
            BufferFault::kVoiceToUnconnected);
  EXPECT_EQ(buffer_.Send(std::make_unique<Packet>(), false), BufferFault::kInvalidPacketOnBuffer);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::CommandPacket, 99), false), BufferFault::kNone);

  Connect(1);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::VoiceC2SPacket, 1), false),
            BufferFault::kInvalidPacketOnBuffer);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::CommandPacket, 1), true), BufferFault::kNone);
  EXPECT_EQ(Record(1).State, csClosing);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::CommandPacket, 1), false),
            BufferFault::kSendToClosing);
  EXPECT_EQ(buffer_.Send(Outgoing(PacketClass::ConnectionPacket, 1), false),
            BufferFault::kSendToClosing);
  EXPECT_EQ(Record(1).ReliableQueue.Count(), 1);
  EXPECT_EQ(Record(1).ConnectionQueue.Count(), 0);
}

TEST_F(PacketBufferTest, CloseAfterCompletesWithTheAcknowledgement) {
  Connect(1);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 101, ConnOf(1)), true);
  ExpectNoIncoming();
  auto notice = buffer_.PollOutgoing();
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->PacketType(), 101);

  // While closing, a new command is acknowledged but not delivered.
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 1)), BufferFault::kCommandWhileClosing);
  auto ack = buffer_.PollOutgoing();
  ASSERT_NE(ack, nullptr);
  EXPECT_EQ(ack->Class(), PacketClass::AckPacket);

  buffer_.ReceivePacket(Ack(1, ConnOf(1), notice->Sequence()));
  for (int i = 0; i < 2; ++i) {  // reported until removed
    auto event = buffer_.PollIncoming();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, beClosed);
    EXPECT_EQ(event->player_id, 1u);
  }
  EXPECT_EQ(buffer_.ReceivePacket(Voice(1, ConnOf(1), 1)), BufferFault::kRecvAfterClose);
  EXPECT_EQ(buffer_.PollOutgoing(), nullptr);
  buffer_.RemoveConnection(1);
  ExpectNoIncoming();
  EXPECT_EQ(buffer_.ConnectionCount(), 0);
}

TEST_F(PacketBufferTest, CloseAfterWithoutAcknowledgementClosesAfterTwoSeconds) {
  Connect(1);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 101, ConnOf(1)), true);
  buffer_.PollOutgoing();
  clock_.AdvanceMs(1999);
  ExpectNoIncoming();
  clock_.AdvanceMs(1);
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beClosed);
}

TEST_F(PacketBufferTest, ClientThatKeepsTalkingCannotHoldAClosingConnectionOpen) {
  Connect(1);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 101, ConnOf(1)), true);  // kicked
  DrainOutgoing();
  for (std::uint16_t i = 1; i <= 3; ++i) {
    clock_.AdvanceMs(600);
    EXPECT_EQ(buffer_.ReceivePacket(Voice(1, ConnOf(1), i)), BufferFault::kNone);
    buffer_.ReceivePacket(Connection(1, ConnOf(1), kPingType, 2 + i));
    ExpectNoIncoming();  // neither the voice nor a pong nor an event
  }
  clock_.AdvanceMs(200);  // 2000 ms after the close request
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beClosed);
}

TEST_F(PacketBufferTest, CloseAfterWhileACommandIsInFlightStillSendsTheLastPacket) {
  Connect(1);
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false);
  auto earlier = buffer_.PollOutgoing();
  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 101, ConnOf(1)), true);
  EXPECT_EQ(buffer_.PollOutgoing(), nullptr);  // stop-and-wait

  buffer_.ReceivePacket(Ack(1, ConnOf(1), earlier->Sequence()));
  ExpectNoIncoming();
  EXPECT_EQ(Record(1).State, csClosing);
  auto notice = buffer_.PollOutgoing();
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->PacketType(), 101);

  buffer_.ReceivePacket(Ack(1, ConnOf(1), notice->Sequence()));
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beClosed);
}

TEST_F(PacketBufferTest, TimedOutRecordIsReportedUntilRemoved) {
  Add(1);
  Connect(2);
  clock_.AdvanceMs(1999);
  ExpectNoIncoming();
  clock_.AdvanceMs(1);
  for (int i = 0; i < 3; ++i) {
    auto event = buffer_.PollIncoming();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, beTimeout);
    EXPECT_EQ(event->player_id, 1u);
  }
  buffer_.RemoveConnection(1);
  ExpectNoIncoming();
  clock_.AdvanceMs(13000);  // the connected record is allowed 15000 ms
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beTimeout);
  EXPECT_EQ(event->player_id, 2u);
}

TEST_F(PacketBufferTest, ConnectionEventsComeBeforePacketsInTurn) {
  Add(1);
  Add(2);
  buffer_.ReceivePacket(Connection(0, 0, kLoginRequestType, 1));
  clock_.AdvanceMs(2000);
  std::vector<std::uint32_t> order;
  for (int i = 0; i < 4; ++i) {
    auto event = buffer_.PollIncoming();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, beTimeout);
    order.push_back(event->player_id);
  }
  EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 2, 1, 2}));
  buffer_.RemoveConnection(1);
  buffer_.RemoveConnection(2);
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, bePacket);
}

TEST_F(PacketBufferTest, WaitsFollowTheEarliestDeadline) {
  std::int32_t wait = -1;
  EXPECT_FALSE(buffer_.PollIncoming(&wait).has_value());
  EXPECT_EQ(wait, PacketBuffer::kMaxWaitMs);
  EXPECT_EQ(buffer_.PollOutgoing(&wait), nullptr);
  EXPECT_EQ(wait, PacketBuffer::kMaxWaitMs);

  Connect(1);
  clock_.AdvanceMs(14700);
  EXPECT_FALSE(buffer_.PollIncoming(&wait).has_value());
  EXPECT_EQ(wait, 300);

  buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false);
  buffer_.PollOutgoing();
  clock_.AdvanceMs(25);
  EXPECT_EQ(buffer_.PollOutgoing(&wait), nullptr);
  EXPECT_EQ(wait, 35);  // the retransmission is due in 60 - 25 ms
}

TEST_F(PacketBufferTest, RoundRobinKeepsALongQueueFromStarvingOthers) {
  for (std::uint32_t player : {1, 2, 3}) Connect(player);
  for (int i = 0; i < 50; ++i) buffer_.Send(Outgoing(PacketClass::VoiceS2CPacket, 1), false);
  for (std::uint32_t player : {2, 3}) {
    buffer_.Send(Outgoing(PacketClass::VoiceS2CPacket, player), false);
    buffer_.Send(Outgoing(PacketClass::VoiceS2CPacket, player), false);
  }
  std::vector<std::uint32_t> order;
  for (auto& p : DrainOutgoing()) order.push_back(p->PlayerId());
  ASSERT_EQ(order.size(), 54u);
  // Each call moves on to the next connection: the short queues are done
  // within the first six datagrams.
  const std::vector<std::uint32_t> head(order.begin(), order.begin() + 6);
  std::vector<std::uint32_t> sorted_head = head;
  std::sort(sorted_head.begin(), sorted_head.end());
  EXPECT_EQ(sorted_head, (std::vector<std::uint32_t>{1, 1, 2, 2, 3, 3}));
  for (std::size_t i = 6; i < order.size(); ++i) EXPECT_EQ(order[i], 1u);
}

TEST_F(PacketBufferTest, OnePlayerIdNamesOneRecord) {
  EXPECT_TRUE(buffer_.AddConnection(1, 10, kPeer, 1111, 1));
  EXPECT_FALSE(buffer_.AddConnection(1, 20, kPeer, 2222, 1));
  EXPECT_TRUE(buffer_.HasConnection(1));
  EXPECT_EQ(buffer_.GetConnectionStats(1)->connection_id, 10u);
  clock_.AdvanceMs(2000);
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beTimeout);
  EXPECT_EQ(event->connection_id, 10u);
  buffer_.RemoveConnection(1, 20);  // another connection's: stays
  EXPECT_TRUE(buffer_.HasConnection(1));
  buffer_.RemoveConnection(1, 10);
  EXPECT_FALSE(buffer_.HasConnection(1));
  buffer_.RemoveConnection(1);  // none left: nothing happens
}

TEST_F(PacketBufferTest, ConnectionStats) {
  Connect(1);
  SingleConnection& r = Record(1);
  r.BytesSent = (std::uint64_t{1} << 32) + 5;
  r.BytesReceived = (std::uint64_t{3} << 32) + 7;
  r.PacketsReceived = 997;
  r.PacketsLost = 3;
  const auto stats = buffer_.GetConnectionStats(1);
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->connection_id, ConnOf(1));
  EXPECT_EQ(stats->bytes_sent, 5u);
  EXPECT_EQ(stats->bytes_received, 7u);
  EXPECT_EQ(stats->packets_received, 997u);
  EXPECT_EQ(stats->loss, 30);  // 0.30 %
  EXPECT_EQ(stats->ping, 50);
  EXPECT_EQ(stats->peer_address, kPeer);

  r.PacketsReceived = 0;
  EXPECT_EQ(buffer_.GetConnectionStats(1)->loss, 0);
  r.PacketsReceived = 19999;  // 1 lost in 20000: 0.5 rounds to the even 0
  r.PacketsLost = 1;
  EXPECT_EQ(buffer_.GetConnectionStats(1)->loss, 0);
  r.PacketsReceived = 6665;  // 3 lost in 6668: 4.499 rounds to 4
  r.PacketsLost = 3;
  EXPECT_EQ(buffer_.GetConnectionStats(1)->loss, 4);
}

TEST_F(PacketBufferTest, FullQueueRefusesTheSend) {
  Add(1);
  for (int i = 0; i < 1024; ++i) {
    buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false);
  }
  EXPECT_THROW(buffer_.Send(Outgoing(PacketClass::CommandPacket, 1, 100, ConnOf(1)), false),
               FIFOListError);
}

TEST_F(PacketBufferTest, LoginsInProgressAreCappedPerAddressAndPerServer) {
  auto login_from = [](const std::string& address) {
    auto login = Connection(0, 0, kLoginRequestType, 1);
    login->SetPeer(address, 4000);
    return login;
  };
  auto pending = [this] {
    int n = 0;
    while (auto event = buffer_.PollIncoming()) n += event->kind == bePacket;
    return n;
  };
  const int per_address = PacketBuffer::kMaxLoginsPerAddress;
  for (int i = 0; i < per_address + 10; ++i) buffer_.ReceivePacket(login_from(kPeer));
  EXPECT_FALSE(buffer_.AddConnection(100, 1, kPeer, 4000, 1));  // the requests count
  EXPECT_EQ(pending(), per_address);

  // The records made from them count in their place.
  for (std::uint32_t id = 1; id <= static_cast<std::uint32_t>(per_address); ++id) Add(id);
  EXPECT_FALSE(buffer_.AddConnection(100, 1, kPeer, 4000, 1));
  buffer_.ReceivePacket(login_from(kPeer));
  EXPECT_EQ(pending(), 0);
  EXPECT_EQ(buffer_.ReceivePacket(login_from("127.0.0.2")), BufferFault::kNone);
  EXPECT_EQ(pending(), 1);  // another address is not held up

  // A finished login leaves the count, a refused one once it is removed.
  Record(1).State = csConnected;  // as the acknowledgement of login step 6 does
  buffer_.RemoveConnection(1);
  buffer_.RemoveConnection(2);
  EXPECT_TRUE(buffer_.AddConnection(101, 1, kPeer, 4000, 1));
  EXPECT_TRUE(buffer_.AddConnection(102, 1, kPeer, 4000, 1));
  EXPECT_FALSE(buffer_.AddConnection(103, 1, kPeer, 4000, 1));

  // However many addresses a flood comes from, the server takes only so many.
  for (int i = 0; i < PacketBuffer::kMaxLoginsPerServer; ++i) {
    buffer_.ReceivePacket(login_from("10.0." + std::to_string(i / 250) + "." +
                                     std::to_string(i % 250 + 1)));
  }
  EXPECT_EQ(pending(), PacketBuffer::kMaxLoginsPerServer - per_address);
}

TEST_F(PacketBufferTest, CommandThatFindsIncomingFullIsNotAcknowledged) {
  Connect(1);
  Connect(2);
  // Another client's voice fills Incoming.
  for (std::uint16_t i = 1; buffer_.ReceivePacket(Voice(2, ConnOf(2), i)) == BufferFault::kNone;) {
    ++i;
  }
  DrainOutgoing();
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 1)), BufferFault::kQueueFull);
  EXPECT_TRUE(DrainOutgoing().empty());  // no acknowledgement: the client sends it again
  EXPECT_EQ(Record(1).CommandRecvNext, 1u);

  while (buffer_.PollIncoming()) {
  }
  EXPECT_EQ(buffer_.ReceivePacket(Command(1, ConnOf(1), 1, 1)), BufferFault::kNone);
  auto out = DrainOutgoing();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->Class(), PacketClass::AckPacket);
  auto delivered = NextPacket();
  ASSERT_NE(delivered, nullptr);
  EXPECT_EQ(delivered->Class(), PacketClass::CommandPacket);
  EXPECT_EQ(delivered->PlayerId(), 1u);
}

TEST_F(PacketBufferTest, MemoryIsBoundedInBytes) {
  Connect(1);
  auto voice_of = [](std::size_t size) {
    auto voice = Voice(1, ConnOf(1), 1);
    voice->Resize(size);
    return voice;
  };
  EXPECT_EQ(buffer_.ReceivePacket(voice_of(kMaxDatagramLength + 1)), BufferFault::kInvalidPacket);
  ExpectNoIncoming();

  // Received datagrams of the longest size fill Incoming by bytes long before
  // its 4096 packets.
  std::size_t taken = 0;
  while (buffer_.ReceivePacket(voice_of(kMaxDatagramLength)) == BufferFault::kNone) ++taken;
  EXPECT_EQ(taken, PacketBuffer::kMaxIncomingBytes / kMaxDatagramLength);
  auto first = NextPacket();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Buffer().capacity(), kMaxDatagramLength);  // sized exactly

  // The same for what is queued for one connection.
  std::size_t queued = 0;
  for (;;) {
    auto out = Outgoing(PacketClass::VoiceS2CPacket, 1);
    out->Resize(kMaxDatagramLength);
    try {
      buffer_.Send(std::move(out), false);
    } catch (const FIFOListError&) {
      break;
    }
    ++queued;
  }
  EXPECT_EQ(queued, PacketBuffer::kMaxQueuedBytesPerConnection / kMaxDatagramLength);
}

// One frame's copies go in with one call: each is handled as Send would, a
// full queue is counted, not thrown, and the others still go out; the sender
// takes them in batches, the records in turn.
TEST_F(PacketBufferTest, SendAllQueuesEveryCopyAndCountsFullQueues) {
  Connect(1);
  Connect(2);
  Connect(3);
  Add(4);  // still logging in: voice is refused silently
  while (true) {  // fill player 3's queues
    auto big = Outgoing(PacketClass::VoiceS2CPacket, 3);
    big->Resize(kMaxDatagramLength);
    try {
      buffer_.Send(std::move(big), false);
    } catch (const FIFOListError&) {
      break;
    }
  }
  std::vector<std::unique_ptr<Packet>> copies;
  for (std::uint32_t player : {1u, 2u, 3u, 4u, 99u, 1u}) {
    copies.push_back(Outgoing(PacketClass::VoiceS2CPacket, player));
  }
  EXPECT_EQ(buffer_.SendAll(copies), 1u);  // player 3's
  for (const auto& c : copies) EXPECT_EQ(c, nullptr);

  std::vector<std::unique_ptr<Packet>> batch;
  EXPECT_EQ(buffer_.PollOutgoing(batch, 2), 2u);  // at most what was asked for
  EXPECT_EQ(buffer_.PollOutgoing(batch, 64), 64u);
  std::vector<std::uint32_t> order;
  for (const auto& p : batch) order.push_back(p->PlayerId());
  // Records take turns in the order they got something to send: player 3
  // (its backlog) first, then 1 and 2; 1's second copy in its next turn.
  EXPECT_EQ((std::vector<std::uint32_t>(order.begin(), order.begin() + 6)),
            (std::vector<std::uint32_t>{3, 1, 2, 3, 1, 3}));
  EXPECT_EQ(std::count(order.begin(), order.end(), 1u), 2);
  EXPECT_EQ(std::count(order.begin(), order.end(), 2u), 1);
  EXPECT_EQ(std::count(order.begin(), order.end(), 4u), 0);
}

// A batch of datagrams is applied in order under one lock; the voice at the
// front of Incoming can be taken on its own, and stops at anything else: a
// command next in line, or a connection event that has come due.
TEST_F(PacketBufferTest, VoiceAtTheFrontIsTakenAloneInOrder) {
  Connect(1);
  Connect(2);
  DrainOutgoing();
  std::vector<std::unique_ptr<Packet>> batch;
  batch.push_back(Voice(1, ConnOf(1), 1));
  batch.push_back(Voice(2, ConnOf(2), 1));
  batch.push_back(Command(1, ConnOf(1), 1));
  batch.push_back(Voice(1, ConnOf(1), 2));
  batch.push_back(Voice(1, ConnOf(1) + 1, 3));  // wrong connection: rejected
  BufferFault fault = BufferFault::kNone;
  buffer_.ReceivePackets(batch, &fault, false);
  EXPECT_EQ(fault, BufferFault::kWrongConnection);
  for (const auto& p : batch) EXPECT_EQ(p, nullptr);
  EXPECT_EQ(buffer_.GetBufferStats().packets_received, 2u + 5u);  // two acks, then the batch

  bool other_work = true;
  std::vector<std::uint32_t> voice_from;
  while (auto event = buffer_.PollIncomingVoice(other_work)) {
    voice_from.push_back(event->player_id);
    EXPECT_EQ(event->connection_id, ConnOf(event->player_id));
  }
  EXPECT_EQ(voice_from, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_TRUE(other_work);  // the command is next
  auto command = NextPacket();
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->Class(), PacketClass::CommandPacket);
  auto voice = buffer_.PollIncomingVoice(other_work);
  ASSERT_TRUE(voice.has_value());
  EXPECT_EQ(voice->packet->VoiceCounter(), 2);
  EXPECT_FALSE(buffer_.PollIncomingVoice(other_work).has_value());
  EXPECT_FALSE(other_work);  // nothing left

  Add(3);  // still logging in: times out after 2 s
  buffer_.ReceivePacket(Voice(1, ConnOf(1), 4));
  clock_.AdvanceMs(2000);
  EXPECT_FALSE(buffer_.PollIncomingVoice(other_work).has_value());
  EXPECT_TRUE(other_work);
  auto event = buffer_.PollIncoming();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, beTimeout);
  EXPECT_EQ(event->player_id, 3u);
}

// The pool hands out what the sender gave back and keeps no more than its
// bounds: a packet with a large buffer, or one beyond the count, is freed.
TEST(PacketPoolTest, ReusesGivenPacketsWithinItsBounds) {
  PacketPool pool;
  std::vector<std::unique_ptr<Packet>> given;
  given.push_back(std::make_unique<Packet>(std::vector<std::uint8_t>(122, 7)));
  given.push_back(std::make_unique<Packet>(
      std::vector<std::uint8_t>(PacketPool::kMaxPooledCapacity + 1, 7)));
  given.push_back(nullptr);
  const Packet* small = given[0].get();
  pool.Give(given);
  EXPECT_TRUE(given.empty());
  EXPECT_EQ(pool.Size(), 1u);

  std::vector<std::unique_ptr<Packet>> taken;
  pool.Take(3, taken);
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].get(), small);
  EXPECT_EQ(pool.Size(), 0u);
  // Filling a pooled packet reuses its buffer and leaves exactly the bytes.
  const std::vector<std::uint8_t> bytes(100, 1);
  taken[0]->Assign(bytes);
  EXPECT_EQ(taken[0]->Size(), 100u);
  EXPECT_EQ(taken[0]->Capacity(), 122u);

  std::vector<std::unique_ptr<Packet>> many;
  pool.Take(PacketPool::kMaxPooled + 10, many);
  pool.Give(many);
  EXPECT_EQ(pool.Size(), PacketPool::kMaxPooled);
}

TEST(PacketBufferThreadsTest, DatagramWakesABlockedListenerAtOnce) {
  PacketBuffer buffer;
  std::thread listener([&] {
    IncomingEvent event = buffer.GetNextIncoming();
    EXPECT_EQ(event.kind, bePacket);
    buffer.ThreadStopped(PacketBuffer::kListenerStoppedBit);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto sent = std::chrono::steady_clock::now();
  buffer.ReceivePacket(Connection(0, 0, kLoginRequestType, 1));
  listener.join();
  // Far below the 1000 ms the listener would sleep without the signal.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(500));
}

TEST(PacketBufferThreadsTest, StopBufferReturnsAsSoonAsBothWorkersReport) {
  PacketBuffer buffer;
  bool sender_got_null = false;
  BufferEvent listener_kind = bePacket;
  std::thread sender([&] {
    while (buffer.GetNextOutgoing()) {
    }
    sender_got_null = true;
    buffer.ThreadStopped(PacketBuffer::kSenderStoppedBit);
  });
  std::thread listener([&] {
    listener_kind = buffer.GetNextIncoming().kind;
    buffer.ThreadStopped(PacketBuffer::kListenerStoppedBit);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both are asleep now
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(buffer.StopBuffer());
  const auto took = std::chrono::steady_clock::now() - start;
  sender.join();
  listener.join();
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_TRUE(sender_got_null);
  EXPECT_EQ(listener_kind, beStopping);
  EXPECT_TRUE(buffer.StopBuffer());  // already stopped: answers at once
  EXPECT_EQ(buffer.GetNextOutgoing(), nullptr);
}

}  // namespace
}  // namespace voxhall::transport
