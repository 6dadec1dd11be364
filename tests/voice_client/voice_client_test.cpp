// The voice client against a scripted UDP peer that plays the server: the
// login exchange, acknowledgements of every command packet received (each
// sequence delivered once, in order), stop-and-wait resends of the client's
// own commands, and the waiting helpers.
#include "support/voice_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/wire.h"
#include "transport/crc.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kPlayer = 3;
constexpr std::uint32_t kConnection = 777;

// A UDP socket on 127.0.0.1 that answers one client by hand.
class ScriptedPeer {
 public:
  ScriptedPeer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      throw std::runtime_error("ScriptedPeer: bind failed");
    }
    port_ = ntohs(addr.sin_port);
  }
  ~ScriptedPeer() { ::close(fd_); }

  int port() const { return port_; }

  // The next datagram from the client, or an empty vector after `timeout`.
  std::vector<std::uint8_t> Receive(std::chrono::milliseconds timeout = 2s) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return {};
    std::vector<std::uint8_t> buffer(65536);
    socklen_t length = sizeof client_;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&client_), &length);
    buffer.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return buffer;
  }

  void Send(const std::vector<std::uint8_t>& datagram) {
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&client_),
             sizeof client_);
  }

  // A server command packet with its checksum.
  static std::vector<std::uint8_t> Command(std::int16_t type, std::uint32_t sequence,
                                           std::size_t size, std::uint16_t resend = 0) {
    std::vector<std::uint8_t> d(size, 0);
    protocol::WireWriter(d).PutU16(0xBEF0).PutI16(type).PutU32(kConnection).PutU32(kPlayer)
        .PutU32(sequence).PutU16(resend);
    protocol::WireWriter(d, 20).PutU32(transport::Crc32WithZeroedField(d.data(), d.size(), 20));
    return d;
  }

  // Plays the login request and an accepting reply; answers the request.
  std::vector<std::uint8_t> AcceptLogin() {
    std::vector<std::uint8_t> request = Receive();
    std::vector<std::uint8_t> reply(372, 0);
    protocol::WireWriter w(reply);
    w.PutU16(0xBEF4).PutU16(4).PutU32(0).PutU32(kPlayer).PutU32(2).PutU32(0);
    w.PutText("Scripted", 29);
    w.Seek(88).PutI32(1);
    w.Seek(108).PutU32(kConnection).PutU32(kPlayer);
    w.PutText("Welcome", 255);
    protocol::WireWriter(reply, 16)
        .PutU32(transport::Crc32WithZeroedField(reply.data(), reply.size(), 16));
    Send(reply);
    return request;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  sockaddr_in client_{};
};

std::uint16_t U16(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 2 <= d.size() ? LoadU16(d, at) : 0;
}
std::uint32_t U32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 4 <= d.size() ? LoadU32(d, at) : 0;
}

TEST(VoiceClientTest, LoginRequestCarriesItsFieldsAtTheirOffsets) {
  ScriptedPeer server;
  VoiceClient client(server.port());
  LoginRequest request{.nickname = "Anna", .login_name = "anna", .password = "secret",
                       .unique_nickname = 1, .server_password_flag = 1};
  client.SendLoginRequest(request);
  const std::vector<std::uint8_t> d = server.Receive();
  ASSERT_EQ(d.size(), 180u);
  protocol::WireReader r(d);
  EXPECT_EQ(r.GetU16(), 0xBEF4);
  EXPECT_EQ(r.GetU16(), 3);
  EXPECT_EQ(r.GetU32(), 0u);  // connection id
  EXPECT_EQ(r.GetU32(), 0u);  // player id
  r.Seek(20);
  EXPECT_EQ(r.GetText(29), "Voxhall Test Client");
  EXPECT_EQ(r.GetText(29), "Linux");
  EXPECT_EQ(r.GetU16(), 2);
  EXPECT_EQ(r.GetU16(), 0);
  EXPECT_EQ(r.GetU16(), 20);
  EXPECT_EQ(r.GetU16(), 1);
  EXPECT_EQ(r.GetU8(), 1);
  EXPECT_EQ(r.GetU8(), 1);
  EXPECT_EQ(r.GetText(29), "anna");
  EXPECT_EQ(r.GetText(29), "secret");
  EXPECT_EQ(r.GetText(29), "Anna");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(transport::Crc32WithZeroedField(d.data(), d.size(), 16), U32(d, 16));

  // A shortened request keeps its first bytes and a valid checksum.
  request.length = 88;
  client.SendLoginRequest(request);
  const std::vector<std::uint8_t> shortened = server.Receive();
  ASSERT_EQ(shortened.size(), 88u);
  EXPECT_EQ(transport::Crc32WithZeroedField(shortened.data(), 88, 16), U32(shortened, 16));
}

TEST(VoiceClientTest, EveryCommandIsAcknowledgedAndEachSequenceDeliveredOnceInOrder) {
  ScriptedPeer server;
  VoiceClient client(server.port());
  client.SendLoginRequest({.nickname = "Anna"});
  server.AcceptLogin();
  const LoginReply reply = client.WaitFor<LoginReply>();
  EXPECT_EQ(reply.result, 1);
  EXPECT_EQ(reply.server_name, "Scripted");
  EXPECT_EQ(reply.welcome, "Welcome");
  EXPECT_EQ(client.player_id(), kPlayer);

  // Sequence 1, then 1 again (a resend), then 3 (too early), then 2 and 3.
  const struct {
    std::uint32_t sequence;
    std::uint16_t resend;
  } script[] = {{1, 0}, {1, 1}, {3, 0}, {2, 0}, {3, 1}};
  for (const auto& step : script) {
    server.Send(ScriptedPeer::Command(8, step.sequence, 24, step.resend));
    const std::vector<std::uint8_t> ack = server.Receive();
    ASSERT_EQ(ack.size(), 16u);
    EXPECT_EQ(U16(ack, 0), 0xBEF1);
    EXPECT_EQ(U16(ack, 2), step.resend);
    EXPECT_EQ(U32(ack, 4), kConnection);
    EXPECT_EQ(U32(ack, 8), kPlayer);
    EXPECT_EQ(U32(ack, 12), step.sequence);
  }
  EXPECT_EQ(client.WaitFor<LoginFinished>().sequence, 1u);
  EXPECT_EQ(client.WaitFor<LoginFinished>().sequence, 2u);
  EXPECT_EQ(client.WaitFor<LoginFinished>().sequence, 3u);
  EXPECT_TRUE(client.NoneWithin<LoginFinished>(100ms));
  EXPECT_EQ(client.acks_sent(), 5u);
}

TEST(VoiceClientTest, OwnCommandsAreResentUntilAcknowledgedOneAtATime) {
  ScriptedPeer server;
  VoiceClient client(server.port(), {.resend_interval = 50ms, .keepalive_enabled = false});
  client.SendLoginRequest({.nickname = "Anna"});
  server.AcceptLogin();
  client.WaitFor<LoginReply>();

  EXPECT_EQ(client.Send(InfoSendText("hello", 2, -1)), 1u);
  EXPECT_EQ(client.Send(InfoRequestServerInfo()), 2u);
  const std::vector<std::uint8_t> first = server.Receive();
  const std::vector<std::uint8_t> resent = server.Receive();
  ASSERT_EQ(first.size(), 288u);
  ASSERT_EQ(resent.size(), 288u);
  for (const auto* d : {&first, &resent}) {
    EXPECT_EQ(U16(*d, 2), 430);
    EXPECT_EQ(U32(*d, 4), kConnection);
    EXPECT_EQ(U32(*d, 8), kPlayer);
    EXPECT_EQ(U32(*d, 12), 1u);  // the second command waits for the first
    EXPECT_EQ(transport::Crc32WithZeroedField(d->data(), d->size(), 20), U32(*d, 20));
  }
  EXPECT_EQ(U16(first, 16), 0);
  EXPECT_EQ(U16(resent, 16), 1);
  EXPECT_EQ(protocol::WireReader(first, 24).GetText(255), "hello");
  EXPECT_EQ(protocol::WireReader(first, 284).GetI32(), -1);
  EXPECT_FALSE(client.WaitAcknowledged(10ms));

  server.Send(AckDatagram(kConnection, kPlayer, 1, 1));
  std::vector<std::uint8_t> second = server.Receive();
  while (!second.empty() && U32(second, 12) == 1) second = server.Receive();  // late resends
  ASSERT_EQ(second.size(), 24u);
  EXPECT_EQ(U16(second, 2), 405);
  EXPECT_EQ(U32(second, 12), 2u);
  server.Send(AckDatagram(kConnection, kPlayer, 2, 0));
  EXPECT_TRUE(client.WaitAcknowledged());
  EXPECT_GE(client.commands_resent(), 1u);
}

TEST(VoiceClientTest, WaitingHelpersReportWhatArrived) {
  ScriptedPeer server;
  VoiceClient client(server.port());
  client.SendLoginRequest({.nickname = "Anna"});
  server.AcceptLogin();
  client.WaitFor<LoginReply>();

  // An error answer for request 9, and a 34-byte wrong-password answer.
  std::vector<std::uint8_t> error = ScriptedPeer::Command(-102, 1, 30);
  protocol::WireWriter(error, 24).PutI16(430).PutU32(9);
  protocol::WireWriter(error, 20).PutU32(transport::Crc32WithZeroedField(error.data(), 30, 20));
  server.Send(error);
  std::vector<std::uint8_t> password = ScriptedPeer::Command(-111, 2, 34);
  protocol::WireWriter(password, 24).PutI16(303).PutU32(10).PutI32(5);
  protocol::WireWriter(password, 20)
      .PutU32(transport::Crc32WithZeroedField(password.data(), 34, 20));
  server.Send(password);

  const ErrorPacket wrong = client.WaitFor<ErrorPacket>([](const ErrorPacket& e) {
    return e.code == -111;
  });
  EXPECT_EQ(wrong.refused_type, 303);
  EXPECT_EQ(wrong.channel_id, 5);
  const ErrorPacket refused = client.WaitFor<ErrorPacket>();
  EXPECT_EQ(refused.code, -102);
  EXPECT_EQ(refused.refused_type, 430);
  EXPECT_EQ(refused.refused_sequence, 9u);
  EXPECT_FALSE(refused.channel_id.has_value());
  EXPECT_EQ(refused.raw.size(), 30u);
  EXPECT_EQ(client.History<ErrorPacket>().size(), 2u);

  // A type this client does not know, and a text message cut short.
  server.Send(ScriptedPeer::Command(999, 3, 40));
  server.Send(ScriptedPeer::Command(130, 4, 100));
  try {
    client.WaitFor<TextMessage>(100ms);
    ADD_FAILURE() << "no TextMessage was sent";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "VoiceClient 'Anna' (player 3): no TextMessage within 100 ms; unread: "
                 "OtherCommand 999, OtherCommand 130 (truncated)");
  }
  EXPECT_FALSE(client.NoneWithin<OtherCommand>(0ms));
  client.Forget();
  EXPECT_TRUE(client.NoneWithin<OtherCommand>(50ms));
}

}  // namespace
}  // namespace voxhall::testing
