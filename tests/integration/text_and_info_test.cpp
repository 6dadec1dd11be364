// Text messages and the two information requests against the real server,
// through the voice test client: who receives a message for everybody or
// for one channel, the refusals and what they echo, what a connection
// report shows to whom, and the server's uptime.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "session_server.h"
#include "support/voice_client.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kQuiet = 300ms;

class TextAndInfoTest : public ::testing::Test {
 protected:
  TextAndInfoTest() : server_(TwoChannels()) {}

  static SessionServerSetup TwoChannels() {
    SessionServerSetup setup;
    setup.channels.push_back(StoredChannelNamed("Default", 16));  // id 0
    setup.channels.push_back(StoredChannelNamed("Other"));        // id 1
    return setup;
  }

  VoiceClient& Join(const std::string& nickname, const std::string& channel = "",
                    const std::string& login_name = "", const std::string& password = "") {
    clients_.push_back(std::make_unique<VoiceClient>(server_.port()));
    LoginRequest r;
    r.nickname = nickname;
    r.login_name = login_name;
    r.password = password;
    clients_.back()->Login(r, {.channel = channel});
    return *clients_.back();
  }

  // Taken before the server starts, so that it bounds the uptime from above.
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  SessionServer server_;
  std::vector<std::unique_ptr<VoiceClient>> clients_;
};

TEST_F(TextAndInfoTest, TextReachesEverybodyOrOneChannel) {
  VoiceClient& anna = Join("Anna");
  VoiceClient& ben = Join("Ben");
  VoiceClient& carl = Join("Carl", "Other");

  anna.Send(InfoSendText("hello all", 3, -1));
  for (VoiceClient* c : {&anna, &ben, &carl}) {
    const TextMessage m = c->WaitFor<TextMessage>();
    EXPECT_EQ(m.message, "hello all");
    EXPECT_EQ(m.kind, 3);
    EXPECT_EQ(m.sender, "Anna");
    EXPECT_EQ(m.raw.size(), 314u);
  }

  carl.Send(InfoSendText("default only", 0, 0));
  EXPECT_EQ(anna.WaitFor<TextMessage>().sender, "Carl");
  EXPECT_EQ(ben.WaitFor<TextMessage>().message, "default only");
  EXPECT_TRUE(carl.NoneWithin<TextMessage>(kQuiet));

  const std::uint32_t seq = ben.Send(InfoSendText("lost", 0, 4711));
  const ErrorPacket error = ben.WaitFor<ErrorPacket>();
  EXPECT_EQ(error.code, -102);
  EXPECT_EQ(error.refused_type, 430);
  EXPECT_EQ(error.refused_sequence, seq);
  EXPECT_EQ(error.raw.size(), 30u);
  for (VoiceClient* c : {&anna, &ben, &carl}) EXPECT_TRUE(c->NoneWithin<TextMessage>(kQuiet));
}

TEST_F(TextAndInfoTest, ConnectionInfoShowsTheAddressToAdministratorsOnly) {
  VoiceClient& anna = Join("Anna");
  VoiceClient& boss = Join("Boss", "", "admin", kAdminPassword);

  struct Case {
    VoiceClient* asker;
    std::string address;
    std::uint16_t port;
  };
  for (const Case& c : std::vector<Case>{
           {&anna, "", 0}, {&boss, "127.0.0.1", static_cast<std::uint16_t>(anna.local_port())}}) {
    SCOPED_TRACE(c.asker->nickname());
    c.asker->Send(InfoRequestPlayerConnectionInfoOnId(anna.player_id()));
    const PlayerConnectionInfo info = c.asker->WaitFor<PlayerConnectionInfo>();
    EXPECT_EQ(info.raw.size(), 164u);
    EXPECT_EQ(info.about_player_id, anna.player_id());
    EXPECT_EQ(info.address, c.address);
    EXPECT_EQ(info.port, c.port);
    EXPECT_EQ(info.version, (std::array<std::uint16_t, 4>{2, 0, 20, 1}));
    EXPECT_EQ(info.client_platform, "Linux");
    EXPECT_EQ(info.channel_id, 0);
    EXPECT_GT(info.packets_sent, 0u);
    EXPECT_GT(info.packets_received, 0u);
  }
  boss.Send(InfoRequestPlayerConnectionInfoOnId(anna.player_id()));
  EXPECT_EQ(boss.WaitFor<PlayerConnectionInfo>().login_name, "");
  anna.Send(InfoRequestPlayerConnectionInfoOnId(boss.player_id()));
  EXPECT_EQ(anna.WaitFor<PlayerConnectionInfo>().login_name, "admin");

  const std::uint32_t seq = anna.Send(InfoRequestPlayerConnectionInfoOnId(999));
  const ErrorPacket error = anna.WaitFor<ErrorPacket>();
  EXPECT_EQ(error.code, -100);
  EXPECT_EQ(error.refused_type, 400);
  EXPECT_EQ(error.refused_sequence, seq);
}

TEST_F(TextAndInfoTest, ServerInfoCarriesTheUptime) {
  VoiceClient& anna = Join("Anna");
  std::this_thread::sleep_for(2s);
  anna.Send(InfoRequestServerInfo());
  const ServerInfo info = anna.WaitFor<ServerInfo>();
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - started_)
                           .count();
  EXPECT_EQ(info.raw.size(), 56u);
  EXPECT_GE(info.uptime_seconds, 2u);
  EXPECT_LE(info.uptime_seconds, static_cast<std::uint32_t>(elapsed) + 1);
  EXPECT_EQ(info.version, (std::array<std::uint16_t, 4>{2, 0, 18, 31}));
  EXPECT_GT(info.packets_received, 0u);
  EXPECT_GT(info.bytes_received, info.packets_received);
  EXPECT_GT(info.packets_sent, 0u);
}

}  // namespace
}  // namespace voxhall::testing
