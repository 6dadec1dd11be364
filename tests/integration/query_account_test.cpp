// The query interface's user-account commands against the real process, and
// account and setting changes from several connections at once.
#include <gtest/gtest.h>

#include <thread>

#include "common/ini_file.h"
#include "query_fixture.h"
#include "storage/tree_db.h"
#include "storage/user_store.h"

namespace voxhall::testing {
namespace {

using Reply = std::vector<std::string>;

Reply Error(const std::string& reason) { return {"ERROR, " + reason}; }

constexpr const char* kDefaultKey = "server_cfg Default";

// The account as the database file holds it now (read-only, as another tool
// would read it while the server runs).
std::optional<storage::StoredUser> StoredAccount(const QueryServer& server,
                                                 const std::string& login_name) {
  storage::FreeBase db;
  db.SetFileName(server.dir().File("server.db"));
  db.SetOpenFlag(storage::FBOpenFlag::kReadOnly);
  db.SetActive(true);
  return storage::LoadUser(db, login_name, kDefaultKey, false);
}

TEST(QueryAccountTest, CommandsCheckLoginSelectionAndParameterCount) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  auto client = server.Connect();
  const Reply commands = {"adduser a b 1 0", "deluser a", "changeuserpw a b b",
                          "changeuserrights a 1 1", "listuser"};
  for (const std::string& command : commands) {
    EXPECT_EQ(client->Command(command), Error("not logged in")) << command;
  }
  EXPECT_EQ(client->Command("login admin secret"), OkReply());
  // No port parameter is read: these commands need a selection.
  for (const std::string& command : commands) {
    EXPECT_EQ(client->Command(command + " " + server.port_text()), Error("no server selected"))
        << command;
  }
  EXPECT_EQ(client->Command("sel " + server.port_text()), OkReply());
  for (const char* command : {"adduser a b 1", "deluser", "changeuserpw a b", "changeuserrights a 1"}) {
    EXPECT_EQ(client->Command(command), Error("paramcount invalid")) << command;
  }
  EXPECT_EQ(client->Command("listuser"), OkReply({"admin"}));
  EXPECT_FALSE(StoredAccount(server, "a").has_value());
}

TEST(QueryAccountTest, AddChangeListAndDeleteAccounts) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  auto admin = server.ConnectAdmin();
  EXPECT_EQ(admin->Command("sel " + server.port_text()), OkReply());

  EXPECT_EQ(admin->Command("adduser bob bobpw 1 0"), OkReply());
  EXPECT_EQ(admin->Command("adduser BOB other 1 1"), Error("duplicate user"));
  auto bob = StoredAccount(server, "bob");
  ASSERT_TRUE(bob.has_value());
  EXPECT_EQ(bob->privileges, 1);
  EXPECT_EQ(bob->password, "bobpw");
  EXPECT_EQ(bob->registered_by, "Server");
  EXPECT_EQ(bob->nick_name, "");

  // Only "1" switches a right on.
  EXPECT_EQ(admin->Command("adduser carl carlpw yes 1 extra"), OkReply());
  EXPECT_EQ(StoredAccount(server, "carl")->privileges, 8);

  const std::string long_name(30, 'L');
  EXPECT_EQ(admin->Command("adduser " + long_name + " pw 0 0"), OkReply());
  EXPECT_EQ(admin->Command("listuser"), OkReply({"admin", "bob", "carl", long_name.substr(0, 29)}));

  EXPECT_EQ(admin->Command("changeuserpw bob new other"), Error("password dont match"));
  EXPECT_EQ(admin->Command("changeuserpw bob new New"), Error("password dont match"));
  EXPECT_EQ(StoredAccount(server, "bob")->password, "bobpw");
  EXPECT_EQ(admin->Command("changeuserpw nobody new new"), Error("user not found"));
  EXPECT_EQ(admin->Command("changeuserpw bob newpw newpw"), OkReply());
  EXPECT_EQ(StoredAccount(server, "bob")->password, "newpw");

  EXPECT_EQ(admin->Command("changeuserrights nobody 1 1"), Error("user not found"));
  EXPECT_EQ(admin->Command("changeuserrights bob 1 1"), OkReply());
  EXPECT_EQ(StoredAccount(server, "bob")->privileges, 9);
  // Now bob may log in to the query interface; with 1 0 no longer.
  auto client = server.Connect();
  EXPECT_EQ(client->Command("login bob newpw"), OkReply());
  EXPECT_EQ(admin->Command("changeuserrights bob 1 0"), OkReply());
  EXPECT_EQ(StoredAccount(server, "bob")->privileges, 1);
  EXPECT_EQ(client->Command("login bob newpw"), Error("invalid login"));

  EXPECT_EQ(admin->Command("deluser " + long_name.substr(0, 29)), OkReply());
  EXPECT_EQ(admin->Command("deluser bob"), OkReply());
  EXPECT_EQ(admin->Command("deluser bob"), Error("user not found"));
  EXPECT_EQ(admin->Command("listuser"), OkReply({"admin", "carl"}));

  // A server that never had an account has no list at all.
  const int port = FreeUdpPort();
  EXPECT_EQ(admin->Command("addserver Empty " + std::to_string(port)), OkReply());
  EXPECT_EQ(admin->Command("listuser"), Error("no users avaible"));
}

TEST(QueryAccountTest, ChangesFromSeveralConnectionsAtOnceAreAllKept) {
  QueryServer server({"Default", "Second"});
  ASSERT_TRUE(server.started());
  constexpr int kWriters = 4;
  constexpr int kUsersEach = 10;
  constexpr int kRounds = 10;
  {
    auto setup = server.ConnectAdmin();
    EXPECT_EQ(setup->Command("sel " + server.port_text()), OkReply());
    EXPECT_EQ(setup->Command("adduser shared pw0 0 0"), OkReply());
  }

  std::vector<std::thread> threads;
  // Writers add accounts of their own.
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      auto client = server.ConnectAdmin();
      EXPECT_EQ(client->Command("sel " + server.port_text()), OkReply());
      for (int u = 0; u < kUsersEach; ++u) {
        const std::string name = "w" + std::to_string(w) + "u" + std::to_string(u);
        EXPECT_EQ(client->Command("adduser " + name + " pw 1 0"), OkReply()) << name;
      }
    });
  }
  // One connection changes the shared account's password, another its
  // rights: neither change may undo the other.
  threads.emplace_back([&] {
    auto client = server.ConnectAdmin();
    EXPECT_EQ(client->Command("sel " + server.port_text()), OkReply());
    for (int r = 1; r <= kRounds; ++r) {
      const std::string pw = "pw" + std::to_string(r);
      EXPECT_EQ(client->Command("changeuserpw shared " + pw + " " + pw), OkReply());
    }
  });
  threads.emplace_back([&] {
    auto client = server.ConnectAdmin();
    EXPECT_EQ(client->Command("sel " + server.port_text()), OkReply());
    for (int r = 1; r <= kRounds; ++r) {
      EXPECT_EQ(client->Command(r % 2 ? "changeuserrights shared 1 1" : "changeuserrights shared 0 1"),
                OkReply());
    }
  });
  // Meanwhile the other server's settings change, which rewrites the
  // configuration file each time.
  threads.emplace_back([&] {
    auto client = server.ConnectAdmin();
    EXPECT_EQ(client->Command("sel " + server.port_text(1)), OkReply());
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(client->Command("set servername Second" + std::to_string(r)), OkReply());
    }
  });
  for (std::thread& t : threads) t.join();

  auto admin = server.ConnectAdmin();
  EXPECT_EQ(admin->Command("sel " + server.port_text()), OkReply());
  const Reply names = admin->Command("listuser");
  EXPECT_EQ(names.size(), 1u + 1u + kWriters * kUsersEach + 1u);
  for (int w = 0; w < kWriters; ++w) {
    for (int u = 0; u < kUsersEach; ++u) {
      const std::string name = "w" + std::to_string(w) + "u" + std::to_string(u);
      EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
  }
  const auto shared = StoredAccount(server, "shared");
  ASSERT_TRUE(shared.has_value());
  EXPECT_EQ(shared->password, "pw" + std::to_string(kRounds));
  EXPECT_EQ(shared->privileges, 8);

  common::IniFile ini(server.dir().File("server.ini"));
  EXPECT_EQ(ini.ReadString("server_cfg Second", "ServerName", ""), "Second2");
  EXPECT_EQ(ini.ReadSection("server_cfg Default").size(), 13u);
  EXPECT_EQ(ini.ReadString("Servers", "1", ""), "server_cfg Second");
}

}  // namespace
}  // namespace voxhall::testing
