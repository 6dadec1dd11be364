// The stores hammered from several threads at once on one database, as the
// listeners, query and web threads do; run under the sanitizer build too.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "storage/channel_store.h"
#include "storage/user_store.h"
#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 60;

TEST(ConcurrencyTest, StoresFromManyThreadsKeepTheTreeWhole) {
  testing::TempDir dir;
  const std::string path = dir.File("server.db");
  FreeBase db;
  db.SetOpenFlag(FBOpenFlag::kCreateNotExists);
  db.SetFileName(path);
  db.SetActive(true);
  ASSERT_TRUE(db.Active());

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&db, t] {
      // Half the threads share one server id, the others have their own.
      const std::string server = "server_cfg " + std::to_string(t % 2 == 0 ? 0 : t);
      for (int round = 0; round < kRounds; ++round) {
        StoredUser user;
        user.login_name = "u" + std::to_string(t) + "_" + std::to_string(round % 10);
        user.password = "pw" + std::to_string(round);
        AddUser(db, user, server);
        if (auto loaded = LoadUser(db, user.login_name.str(), server, true)) {
          loaded->password = "pw" + std::to_string(round);
          SaveUser(db, *loaded, server);
        }
        GetUserNames(db, server);
        if (round % 7 == 0) DeleteUser(db, user.login_name.str(), server);

        StoredChannel channel;
        channel.name = "c" + std::to_string(t);
        channel.user_attributes = {"attr"};
        if (round % 15 == 0) DeleteChannels(db, server);
        SaveChannel(db, t, channel, server);
        LoadChannel(db, t, server);
        if (round % 20 == 0) db.Flush();
      }
    });
  }
  for (auto& thread : threads) thread.join();

  // Every thread's last state is there, in memory and on disk.
  db.SetActive(false);
  ASSERT_EQ(db.LastError(), kFBSuccess);
  FreeBase reread;
  reread.SetFileName(path);
  reread.SetActive(true);
  ASSERT_EQ(reread.LastError(), kFBSuccess);
  for (int t = 0; t < kThreads; ++t) {
    const std::string server = "server_cfg " + std::to_string(t % 2 == 0 ? 0 : t);
    for (int slot = 0; slot < 10; ++slot) {
      const int last_round = kRounds - 10 + slot;
      const std::string login = "u" + std::to_string(t) + "_" + std::to_string(slot);
      auto user = LoadUser(reread, login, server, false);
      if (last_round % 7 == 0) {
        EXPECT_FALSE(user) << login;
      } else {
        ASSERT_TRUE(user) << login;
        EXPECT_EQ(user->password, "pw" + std::to_string(last_round));
      }
    }
  }
  // Threads on their own server id keep their channel; those sharing one may
  // have lost theirs to another thread's DeleteChannels, never half of it.
  for (int t = 0; t < kThreads; ++t) {
    const std::string server = "server_cfg " + std::to_string(t % 2 == 0 ? 0 : t);
    auto channel = LoadChannel(reread, t, server);
    if (t % 2 != 0) {
      ASSERT_TRUE(channel) << t;
    }
    if (channel) {
      EXPECT_EQ(channel->name, "c" + std::to_string(t));
      EXPECT_EQ(channel->user_attributes, (std::vector<std::string>{"attr"}));
    }
  }
}

}  // namespace
}  // namespace voxhall::storage
