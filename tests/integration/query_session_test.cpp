// The query interface's sessions as a client sees them: the greeting, the
// line framing and command matching, the login rules with their pause and
// log lines, quit, the longest line, the connection cap, and a shut-down
// that idle connections do not hold up.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "query_fixture.h"
#include "support/udp_client.h"

namespace voxhall::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(QuerySessionTest, GreetingComesFirstAndLinesMatchCommandsAsWritten) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  TcpClient client(server.query_port());
  ASSERT_TRUE(client.connected());
  // Nothing has been sent yet: the greeting arrives on its own.
  EXPECT_EQ(client.ReadLine(), "[VH]");

  const auto port_list = OkReply({server.port_text()});
  EXPECT_EQ(client.Command("sl"), port_list);
  EXPECT_EQ(client.Command("SL"), port_list);
  EXPECT_EQ(client.Command("Sl"), port_list);
  EXPECT_EQ(client.Command("sl 1 2"), port_list);
  for (const char* unknown : {"slx", "sl\tx", "   ", "\tsl", "nonsense with words"}) {
    EXPECT_EQ(client.Command(unknown), std::vector<std::string>{"error"}) << unknown;
  }
  // An empty line gets no reply; a bare LF ends a line as well as CR LF.
  client.Send("\r\n\nver\n");
  EXPECT_EQ(client.ReadLine(), "2.0.18.31 Linux");
  EXPECT_EQ(client.ReadLine(), "OK");
  // Several requests in one packet are answered in order.
  client.Send("ver\r\nslx\r\n");
  EXPECT_EQ(client.ReadLine(), "2.0.18.31 Linux");
  EXPECT_EQ(client.ReadLine(), "OK");
  EXPECT_EQ(client.ReadLine(), "error");
}

TEST(QuerySessionTest, LoginRules) {
  QueryServer server({"Default", "Second"});
  ASSERT_TRUE(server.started());
  auto admin = server.ConnectAdmin();
  // Accounts on the second server: one with the server-admin right only,
  // one with the super-server-admin right only.
  EXPECT_EQ(admin->Command("sel " + server.port_text(1)), OkReply());
  EXPECT_EQ(admin->Command("adduser op oppw 1 0"), OkReply());
  EXPECT_EQ(admin->Command("adduser boss bosspw 0 1"), OkReply());

  auto client = server.Connect();
  const std::string msg = "msg " + server.port_text() + " hello";
  EXPECT_EQ(client->Command(msg), std::vector<std::string>{"ERROR, not logged in"});

  // The super-server-admin right counts from any server's accounts.
  EXPECT_EQ(client->Command("login boss bosspw"), OkReply());
  EXPECT_EQ(client->Command(msg), OkReply());
  // A malformed login logs out before it fails.
  EXPECT_EQ(client->Command("login boss"), std::vector<std::string>{"ERROR, paramcount invalid"});
  EXPECT_EQ(client->Command(msg), std::vector<std::string>{"ERROR, not logged in"});
  EXPECT_EQ(client->Command("login boss bosspw extra"),
            std::vector<std::string>{"ERROR, paramcount invalid"});

  // Refused: the server-admin right alone, a password in the wrong case, an
  // unknown name. Each answer comes only after the pause and is logged.
  for (const char* line : {"login op oppw", "login admin SECRET", "login nobody secret"}) {
    const auto start = steady_clock::now();
    EXPECT_EQ(client->Command(line), std::vector<std::string>{"ERROR, invalid login"}) << line;
    EXPECT_GE(steady_clock::now() - start, milliseconds(950)) << line;
  }
  EXPECT_EQ(client->Command(msg), std::vector<std::string>{"ERROR, not logged in"});

  const std::string log = server.Log();
  EXPECT_NE(log.find("WARNING,Important,TCPQUERY,\tinvalid query login from 127.0.0.1\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ALL,Info,TCPQUERY,\tquery login accepted from 127.0.0.1\r\n"),
            std::string::npos)
      << log;
}

TEST(QuerySessionTest, QuitAndOverlongLinesCloseTheConnection) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  {
    auto client = server.Connect();
    client->Send("quit\r\n");
    EXPECT_EQ(client->ReadUntilClosed(), "");
  }
  {
    auto client = server.Connect();
    client->Send("QUIT now\r\nver\r\n");
    EXPECT_EQ(client->ReadUntilClosed(), "");
  }
  {
    // 4096 bytes is still a line (of an unknown command).
    auto client = server.Connect();
    EXPECT_EQ(client->Command(std::string(4096, 'x')), std::vector<std::string>{"error"});
    client->Send(std::string(4097, 'x') + "\r\n");
    EXPECT_EQ(client->ReadUntilClosed(), "");
  }
  {
    // A line end that never comes does not let the line grow without bound.
    auto client = server.Connect();
    client->Send(std::string(100000, 'y'));
    EXPECT_EQ(client->ReadUntilClosed(), "");
  }
  EXPECT_NE(server.Log().find("request line longer than 4096 bytes from 127.0.0.1"),
            std::string::npos);
}

TEST(QuerySessionTest, AtMost64ConnectionsAreServed) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  std::vector<std::unique_ptr<TcpClient>> open;
  for (int i = 0; i < 64; ++i) open.push_back(server.Connect());

  // The 65th is greeted and closed at once.
  auto refused = server.Connect();
  EXPECT_EQ(refused->ReadUntilClosed(), "");
  EXPECT_NE(server.Log().find("WARNING,Important,TCPQUERY,\tconnection limit of 64 reached, "
                              "connection from 127.0.0.1 closed"),
            std::string::npos);
  EXPECT_EQ(open.back()->Command("ver"), OkReply({"2.0.18.31 Linux"}));

  // Once one of them has ended, a new connection is served again.
  open.front()->Send("quit\r\n");
  EXPECT_EQ(open.front()->ReadUntilClosed(), "");
  std::vector<std::string> reply;
  for (int attempt = 0; attempt < 50 && reply.empty(); ++attempt) {
    auto next = server.Connect();
    reply = next->Command("ver", milliseconds(500));
    if (reply.empty()) std::this_thread::sleep_for(milliseconds(100));
  }
  EXPECT_EQ(reply, OkReply({"2.0.18.31 Linux"}));
}

TEST(QuerySessionTest, ShutdownIsNotHeldUpByOpenConnections) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  auto idle = server.Connect();
  auto half_line = server.Connect();
  half_line->Send("ver");
  auto waiting = server.Connect();
  waiting->Send("login admin wrong\r\n");  // now in the pause of a failed login

  EXPECT_EQ(server.process().Stop(), 0);
  for (TcpClient* client : {idle.get(), half_line.get()}) {
    EXPECT_EQ(client->ReadUntilClosed(milliseconds(100)), "");
  }
  EXPECT_TRUE(waiting->ReadUntilClosed(milliseconds(100)).has_value());
  EXPECT_NE(server.Log().find("Server shutdown finished"), std::string::npos);
}

TEST(QuerySessionTest, ATakenQueryPortIsLoggedAndTheServersRunOn) {
  // Another program listens on the port first.
  const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t length = sizeof addr;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&addr), &length);
  const int port = ntohs(addr.sin_port);

  TempDir dir;
  const int udp_port = FreeUdpPort();
  WriteFile(dir.File("server.ini"),
            "[Main Config]\nTCPQueryPort=" + std::to_string(port) +
                "\nBoundToIp=127.0.0.1\nHTTPServer Enabled=0\nExternalIPDectection=0\n"
                "[WebPost]\nEnabled=0\n[Servers]\n0=server_cfg Default\n"
                "[server_cfg Default]\nServerUDPPort=" + std::to_string(udp_port) + "\n");
  ServerProcess process(dir.path(), {});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished"));
  EXPECT_NE(ReadFile(dir.File("server.log"))
                .find("ERROR,All,TCPQUERY,\tTTCPQuery.Create: unable to initialize communication \r\n"),
            std::string::npos);
  EXPECT_TRUE(process.Running());
  EXPECT_TRUE(UdpPortInUse(udp_port));
  process.Signal(SIGKILL);
  ::close(taken);
}

}  // namespace
}  // namespace voxhall::testing
