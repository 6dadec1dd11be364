// The query commands that show or reach the players of a virtual server,
// with voice test clients logged in: the player list and server messages.
#include <gtest/gtest.h>

#include <sstream>

#include "query_fixture.h"
#include "support/voice_client.h"

namespace voxhall::testing {
namespace {

using Reply = std::vector<std::string>;
using std::chrono::milliseconds;

// The TAB-ended fields of a player line (the text behind the last TAB
// becomes a last, empty field).
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    out.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  out.push_back(line.substr(start));
  return out;
}

TEST(QueryPlayersTest, PlayerListShowsAddressesOnlyToALoggedInConnection) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  VoiceClient anna(server.udp_port());
  anna.Login("Anna");
  VoiceClient ben(server.udp_port());
  LoginRequest as_admin;
  as_admin.nickname = "Ben";
  as_admin.login_name = "admin";
  as_admin.password = kQueryAdminPassword;
  ben.Login(as_admin);

  auto client = server.Connect();
  const Reply anonymous = client->Command("pl " + server.port_text());
  ASSERT_EQ(anonymous.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::vector<std::string> fields = Fields(anonymous[i]);
    ASSERT_EQ(fields.size(), 17u) << anonymous[i];  // 16 TABs, nothing behind the last
    EXPECT_EQ(fields[16], "");
    EXPECT_EQ(fields[13], "0.0.0.0");
  }
  const std::vector<std::string> first = Fields(anonymous[0]);
  const std::vector<std::string> second = Fields(anonymous[1]);
  EXPECT_EQ(first[0], std::to_string(anna.player_id()));
  EXPECT_EQ(first[14], "Anna");
  EXPECT_EQ(first[15], "");
  EXPECT_EQ(second[0], std::to_string(ben.player_id()));
  EXPECT_EQ(second[14], "Ben");
  EXPECT_EQ(second[15], "admin");
  EXPECT_EQ(client->Command("si " + server.port_text())[18], "server_currentusers=2");

  EXPECT_EQ(client->Command(std::string("login admin ") + kQueryAdminPassword), OkReply());
  const Reply logged_in = client->Command("pl " + server.port_text());
  ASSERT_EQ(logged_in.size(), 3u);
  EXPECT_EQ(Fields(logged_in[0])[13], "127.0.0.1");
  EXPECT_EQ(Fields(logged_in[1])[13], "127.0.0.1");
}

TEST(QueryPlayersTest, ServerMessagesReachThePlayersOfTheirServers) {
  QueryServer server({"A", "B"});
  ASSERT_TRUE(server.started());
  VoiceClient anna(server.udp_port(0));
  anna.Login("Anna");
  VoiceClient ben(server.udp_port(1));
  ben.Login("Ben");
  auto admin = server.ConnectAdmin();

  // Without a selection the port is read, and stays part of the text.
  EXPECT_EQ(admin->Command("msg " + server.port_text(0) + " hello  world "), OkReply());
  const TextMessage to_anna = anna.WaitFor<TextMessage>();
  EXPECT_EQ(to_anna.message, server.port_text(0) + " hello world");
  EXPECT_EQ(to_anna.kind, 255);
  EXPECT_EQ(to_anna.sender, "SERVER");
  EXPECT_TRUE(ben.NoneWithin<TextMessage>(milliseconds(300)));

  EXPECT_EQ(admin->Command("sel " + server.port_text(1)), OkReply());
  EXPECT_EQ(admin->Command("msg   only\tBen "), OkReply());
  EXPECT_EQ(ben.WaitFor<TextMessage>().message, "only\tBen");
  const std::string long_text(300, 'x');
  EXPECT_EQ(admin->Command("msg " + long_text), OkReply());
  EXPECT_EQ(ben.WaitFor<TextMessage>().message, long_text.substr(0, 255));
  EXPECT_TRUE(anna.NoneWithin<TextMessage>(milliseconds(300)));

  // msgall reaches every server of the connection's list and keeps the selection.
  EXPECT_EQ(admin->Command("msgall to  all"), OkReply());
  EXPECT_EQ(anna.WaitFor<TextMessage>().message, "to all");
  EXPECT_EQ(ben.WaitFor<TextMessage>().message, "to all");
  EXPECT_EQ(admin->Command("si")[6], "server_udpport=" + server.port_text(1));
}

}  // namespace
}  // namespace voxhall::testing
