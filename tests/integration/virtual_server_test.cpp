// Virtual servers as the network and the files see them: every listed
// section gets its own UDP port, start-up conflicts are logged without
// stopping the others, hostile datagrams change nothing, and the default
// server, its administrator account and its channels persist in the
// database across runs.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "common/ini_file.h"
#include "storage/channel_store.h"
#include "storage/tree_db.h"
#include "storage/user_store.h"
#include "support/server_process.h"
#include "support/udp_client.h"
#include "transport/packet.h"

namespace voxhall::testing {
namespace {

constexpr const char* kDefaultKey = "server_cfg Default";

std::string Section(const std::string& name, int port) {
  return "[" + name + "]\nServerUDPPort=" + std::to_string(port) + "\n";
}

// Opens a database file the server wrote, the way another tool would.
class Database {
 public:
  explicit Database(const std::string& path) {
    db_.SetFileName(path);
    db_.SetOpenFlag(storage::FBOpenFlag::kReadWrite);
    db_.SetActive(true);
  }
  ~Database() { db_.SetActive(false); }
  storage::FreeBase& operator*() { return db_; }

 private:
  storage::FreeBase db_;
};

TEST(VirtualServerTest, ListedServersGetTheirPortsAndConflictsAreLogged) {
  TempDir dir;
  const int port_a = FreeUdpPort();
  const int port_b = FreeUdpPort();
  WriteFile(dir.File("server.ini"),
            "[Servers]\n0=server_cfg A\n1=server_cfg B\n2=server_cfg SamePort\n3=server_cfg A\n"
            "5=server_cfg AfterGap\n" +
                Section("server_cfg A", port_a) + "ServerType=2\n" +
                Section("server_cfg B", port_b) + Section("server_cfg SamePort", port_a));
  // -adminpw= creates the missing "admin" account of every listed server.
  ServerProcess server(dir.path(), {"-adminpw=listed-pw"});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished")) << server.Stderr();

  EXPECT_TRUE(UdpPortInUse(port_a));
  EXPECT_TRUE(UdpPortInUse(port_b));
  const std::string log = ReadFile(dir.File("server.log"));
  EXPECT_NE(log.find("ERROR,All,SERVER,\tcan not initialise udp communication with port " +
                     std::to_string(port_a) + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR,All,SERVER,\tunable to register server\r\n"), std::string::npos);
  EXPECT_EQ(log.find("Default Server created"), std::string::npos);

  // Every started section lists its thirteen keys; the file keeps
  // ServerType 2 although the running server reports bit 2 as well.
  common::IniFile ini(dir.File("server.ini"));
  EXPECT_EQ(ini.ReadSection("server_cfg B").size(), 13u);
  EXPECT_EQ(ini.ReadInteger("server_cfg A", "ServerType", 0), 2);
  EXPECT_EQ(ini.ReadString("server_cfg B", "ServerName", ""), "Voxhall Server");
  EXPECT_EQ(ini.ReadInteger("server_cfg B", "ServerMaxUsers", 0), 12);
  EXPECT_FALSE(ini.SectionExists("server_cfg AfterGap"));

  EXPECT_EQ(server.Stop(), 0);
  EXPECT_FALSE(UdpPortInUse(port_a));
  EXPECT_TRUE(WaitForText(dir.File("server.log"), "Server shutdown finished"));

  Database db(dir.File("server.db"));
  for (const char* key : {"server_cfg A", "server_cfg B"}) {
    const auto admin = storage::LoadUser(*db, "admin", key, false);
    ASSERT_TRUE(admin.has_value()) << key;
    EXPECT_EQ(admin->password, "listed-pw");
    EXPECT_EQ(admin->privileges, 9);
  }
}

std::vector<std::uint8_t> WithChecksum(std::vector<std::uint8_t> bytes) {
  transport::Packet packet(bytes);
  packet.UpdateChecksum();
  return std::vector<std::uint8_t>(packet.Bytes().begin(), packet.Bytes().end());
}

TEST(VirtualServerTest, HostileDatagramsLeaveTheServerRunning) {
  TempDir dir;
  const int port = FreeUdpPort();
  WriteFile(dir.File("server.ini"), "[Servers]\n0=server_cfg X\n" + Section("server_cfg X", port));
  ServerProcess server(dir.path(), {});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished")) << server.Stderr();

  UdpClient client;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 600);
  for (int i = 0; i < 300; ++i) {
    std::vector<std::uint8_t> junk(static_cast<std::size_t>(length(random)));
    for (auto& b : junk) b = static_cast<std::uint8_t>(byte(random));
    // Every third datagram carries a real magic so it gets past the class test.
    if (junk.size() >= 2 && i % 3 == 0) {
      junk[0] = 0xF0 + static_cast<std::uint8_t>(i % 5);
      junk[1] = 0xBE;
    }
    client.SendTo(port, junk);
  }
  const std::vector<std::uint8_t> login = WithChecksum({0xF4, 0xBE, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        1, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'});
  client.SendTo(port, login);
  std::vector<std::uint8_t> bad_checksum = login;
  bad_checksum[16] ^= 0xFF;
  client.SendTo(port, bad_checksum);
  client.SendTo(port, std::vector<std::uint8_t>(login.begin(), login.begin() + 19));  // truncated
  // A command and a voice packet for connections that do not exist.
  std::vector<std::uint8_t> command(40, 0);
  command[0] = 0xF0;
  command[1] = 0xBE;
  command[2] = 5;
  command[8] = 7;
  client.SendTo(port, WithChecksum(command));
  client.SendTo(port, {0xF2, 0xBE, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 9, 9});
  // A ping for no connection is not answered.
  client.SendTo(port, WithChecksum({0xF4, 0xBE, 1, 0, 1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                                    0, 0}));
  EXPECT_FALSE(client.Receive(std::chrono::milliseconds(300)).has_value());

  EXPECT_TRUE(server.Running());
  EXPECT_TRUE(UdpPortInUse(port));
  EXPECT_EQ(server.Stop(), 0);
  const std::string log = ReadFile(dir.File("server.log"));
  // The only failure that may be logged, once, is the login request too
  // short to be read (whether it arrived depends on the socket's buffer).
  std::string rest = log;
  const std::string short_login = "SP: " + std::to_string(port) +
                                  " CMD_cs_LoginStep1 Exception: login request shorter than 88 bytes";
  if (const auto at = rest.find(short_login); at != std::string::npos) rest.erase(at, short_login.size());
  EXPECT_EQ(rest.find("Exception"), std::string::npos) << log;
  EXPECT_NE(log.find("Server shutdown finished"), std::string::npos);
}

TEST(VirtualServerTest, DefaultServerAdminAndChannelsPersistAcrossRuns) {
  TempDir dir;
  const int port = FreeUdpPort();
  // No "Servers" list: the default server is created, on a port of ours.
  WriteFile(dir.File("server.ini"), Section(kDefaultKey, port));
  std::string first_password;
  {
    ServerProcess server(dir.path(), {});
    ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished")) << server.Stderr();
    EXPECT_TRUE(UdpPortInUse(port));
    EXPECT_EQ(server.Stop(), 0);
  }
  const std::string log = ReadFile(dir.File("server.log"));
  EXPECT_NE(log.find("WARNING,Info,SERVER,\tDefault Server created"), std::string::npos);
  EXPECT_NE(log.find("WARNING,Info,SERVER,\tDefault Administrator account created"),
            std::string::npos);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(log, match, std::regex("LoginName: admin LoginPw: ([a-z0-9]{5})\r\n")))
      << log;
  first_password = match[1];
  EXPECT_EQ(common::IniFile(dir.File("server.ini")).ReadString("Servers", "0", ""), kDefaultKey);

  {
    Database db(dir.File("server.db"));
    const auto admin = storage::LoadUser(*db, "admin", kDefaultKey, false);
    ASSERT_TRUE(admin.has_value());
    EXPECT_EQ(admin->password, first_password);
    EXPECT_EQ(admin->privileges, 9);
    EXPECT_EQ(admin->registered_by, "Server");
    // The default channel was written back at the stop; change it behind
    // the server's back to see that the next run loads it.
    auto channel = storage::LoadChannel(*db, 0, kDefaultKey);
    ASSERT_TRUE(channel.has_value());
    EXPECT_EQ(channel->name, "Default");
    EXPECT_FALSE(storage::LoadChannel(*db, 1, kDefaultKey).has_value());
    channel->topic = "kept across runs";
    storage::SaveChannel(*db, 0, *channel, kDefaultKey);
  }

  {
    ServerProcess server(dir.path(), {"-adminpw= n3w-Secret "});
    // The version text is printed once the start-up has finished.
    ASSERT_TRUE(WaitForText(dir.File("stdout.txt"), "v2.0.r18.b31")) << server.Stderr();
    EXPECT_EQ(server.Stop(), 0) << server.Stderr();
  }
  Database db(dir.File("server.db"));
  const auto admin = storage::LoadUser(*db, "admin", kDefaultKey, false);
  ASSERT_TRUE(admin.has_value());
  EXPECT_EQ(admin->password, "n3w-Secret");
  const auto channel = storage::LoadChannel(*db, 0, kDefaultKey);
  ASSERT_TRUE(channel.has_value());
  EXPECT_EQ(channel->name, "Default");
  EXPECT_EQ(channel->topic, "kept across runs");
  EXPECT_FALSE(storage::LoadChannel(*db, 1, kDefaultKey).has_value());
}

}  // namespace
}  // namespace voxhall::testing
