// The voice client and voxhall-bench against the real server binary: two
// clients log in and one hears the other, and the bench's figures add up
// (nothing lost: datagrams sent x receivers = datagrams received).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>

#include "support/server_process.h"
#include "support/voice_client.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

// The server with its first start's defaults on a free port, allowing
// `max_users` players.
class RunningServer {
 public:
  explicit RunningServer(int max_users = 12) : port_(FreeUdpPort()) {
    WriteFile(dir_.File("server.ini"),
              "[Servers]\n0=server_cfg Default\n[server_cfg Default]\nServerUDPPort=" +
                  std::to_string(port_) + "\nServerMaxUsers=" + std::to_string(max_users) + "\n");
    process_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{});
    if (!WaitForText(dir_.File("server.log"), "Server startup finished")) {
      throw std::runtime_error("server did not start: " + process_->Stderr());
    }
  }
  int port() const { return port_; }

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<ServerProcess> process_;
};

// Runs voxhall-bench with `arguments`; its standard output.
std::string RunBench(const std::string& arguments) {
  const std::string command = std::string(VOXHALL_BENCH_BINARY) + " " + arguments + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string output;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  return output;
}

// The number after "key": in a JSON text, or -1.
double JsonNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":([-0-9.]+)"))) return -1;
  return std::stod(m[1]);
}

TEST(EndToEndTest, TwoClientsLogInAndOneHearsTheOther) {
  RunningServer server;
  VoiceClient anna(server.port(), {.keepalive = 300ms});
  VoiceClient ben(server.port());
  const LoginResult first = anna.Login("Anna");
  EXPECT_EQ(first.reply.given_player_id, anna.player_id());
  ASSERT_FALSE(first.channels.empty());
  ben.Login("Ben");
  EXPECT_EQ(anna.WaitFor<PlayerEnteredScope>().player.nickname, "Ben");

  anna.Speak(Bytes("can you hear me"));
  const Voice heard = ben.WaitFor<Voice>();
  EXPECT_EQ(heard.speaker_id, anna.player_id());
  EXPECT_EQ(heard.data, Bytes("can you hear me"));
  EXPECT_TRUE(anna.NoneWithin<Voice>(200ms));

  // The client keeps its connection alive by itself.
  EXPECT_EQ(anna.WaitFor<Pong>(1s).raw.size(), 24u);

  // After a change of Ben's source port, his next datagram tells the server
  // where he is now.
  const int old_port = ben.local_port();
  ben.ChangeLocalPort();
  EXPECT_NE(ben.local_port(), old_port);
  ben.Ping();
  ben.WaitFor<Pong>();
  anna.Speak(Bytes("still there?"));
  EXPECT_EQ(ben.WaitFor<Voice>().data, Bytes("still there?"));
}

TEST(EndToEndTest, BenchCountsEveryRelayedDatagram) {
  RunningServer server(20);
  const std::string json =
      RunBench("--port=" + std::to_string(server.port()) +
               " --clients=6 --speakers=2 --rate=50 --duration=1 --size=40 --json");
  ASSERT_NE(json.find("\"mode\":\"server\""), std::string::npos) << json;
  EXPECT_EQ(JsonNumber(json, "clients"), 6) << json;
  EXPECT_EQ(JsonNumber(json, "sent"), 100) << json;
  EXPECT_EQ(JsonNumber(json, "expected"), 100 * 5) << json;
  EXPECT_EQ(JsonNumber(json, "received"), 100 * 5) << json;
  EXPECT_EQ(JsonNumber(json, "socket_drops"), 0) << json;
  EXPECT_GT(JsonNumber(json, "p50"), 0) << json;
  EXPECT_LE(JsonNumber(json, "p50"), JsonNumber(json, "p99")) << json;
}

}  // namespace
}  // namespace voxhall::testing
