// The server list's locking against the configuration file, and the checks
// StartServer makes before it opens a socket.
#include "host/server_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "support/temp_dir.h"

namespace voxhall::host {
namespace {

constexpr char kKey[] = "server_cfg A";

class ServerListTest : public ::testing::Test {
 protected:
  ServerListTest() {
    auto server = std::make_unique<ServerObject>();
    server->Key = kKey;
    list_.RegisterServer(server);
  }

  voxhall::testing::TempDir dir_;
  std::string ini_path_ = dir_.File("server.ini");
  VirtualServerList list_{ServerEnvironment{ini_path_, "", nullptr}};
};

// An administrator who saves a server's settings while holding the list (to
// keep the pointer valid) and one who starts or restarts a server (which
// holds the configuration file, then the list) act at the same time.
TEST_F(ServerListTest, SavingUnderTheListLockCannotDeadlockWithAStart) {
  auto save = std::async(std::launch::async, [this] {
    for (int i = 0; i < 100; ++i) {
      auto lock = list_.Lock();
      ServerObject* server = list_.FindServerByKey(kKey);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      list_.SaveServerConfig(*server, nullptr);
    }
  });
  auto start = std::async(std::launch::async, [this] {
    for (int i = 0; i < 100; ++i) {
      auto config = common::IniFile::Transaction();  // the order StartServer uses
      common::IniFile ini(ini_path_);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      list_.FindServerByKey(kKey);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  if (save.wait_until(deadline) != std::future_status::ready ||
      start.wait_until(deadline) != std::future_status::ready) {
    ADD_FAILURE() << "the two threads deadlocked";
    std::_Exit(1);  // the blocked threads cannot be joined
  }
}

TEST_F(ServerListTest, PortZeroIsRefusedLikeAPortOutOfRange) {
  for (std::int32_t port : {0, -1 - 1, 65536}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(list_.StartServer(std::make_unique<ServerObject>(), "server_cfg B", port, nullptr),
              nullptr);
    EXPECT_EQ(list_.FindServerByKey("server_cfg B"), nullptr);
  }
}

}  // namespace
}  // namespace voxhall::host
