#include "storage/server_database.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "storage/user_store.h"
#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

namespace fs = std::filesystem;

class ServerDatabaseTest : public ::testing::Test {
 protected:
  void TearDown() override { ServerDatabase.reset(); }

  testing::TempDir dir_;
  std::string path_ = dir_.File("server.db");
};

TEST_F(ServerDatabaseTest, FirstStartCreatesA66ByteDatabaseNamedVoxhallDb) {
  ASSERT_TRUE(OpenServerDatabase(path_));
  ASSERT_NE(ServerDatabase, nullptr);
  EXPECT_TRUE(ServerDatabase->Active());
  EXPECT_EQ(ServerDatabase->OpenFlag(), FBOpenFlag::kCreateNotExists);
  EXPECT_EQ(ServerDatabase->LastError(), kFBSuccess);
  EXPECT_EQ(fs::file_size(path_), 66u);
  const std::string bytes = testing::ReadFile(path_);
  EXPECT_EQ(bytes.substr(26, 11), std::string("Voxhall db") + '\0');
  CloseServerDatabase();
  EXPECT_EQ(ServerDatabase, nullptr);
  EXPECT_EQ(fs::file_size(path_), 66u);
}

TEST_F(ServerDatabaseTest, AFileThatIsNoDatabaseLeavesItInactiveAndUntouched) {
  const std::string garbage = "[Main Config]\r\nthis is not a database\r\n";
  testing::WriteFile(path_, garbage);
  ASSERT_TRUE(OpenServerDatabase(path_));  // the start-up goes on
  ASSERT_NE(ServerDatabase, nullptr);
  EXPECT_FALSE(ServerDatabase->Active());
  EXPECT_EQ(ServerDatabase->LastError(), kFBNotActive);  // the start-up's flush
  EXPECT_FALSE(LoadUser(*ServerDatabase, "admin", "server_cfg Default", false));
  StoredUser admin;
  admin.login_name = "admin";
  EXPECT_FALSE(AddUser(*ServerDatabase, admin, "server_cfg Default"));
  CloseServerDatabase();
  EXPECT_EQ(testing::ReadFile(path_), garbage);
}

TEST_F(ServerDatabaseTest, ShutdownWritesWhatWasNotYetFlushed) {
  ASSERT_TRUE(OpenServerDatabase(path_));
  StoredUser admin;
  admin.login_name = "admin";
  ASSERT_TRUE(AddUser(*ServerDatabase, admin, "server_cfg Default"));
  LoadUser(*ServerDatabase, "admin", "server_cfg Default", true);  // not flushed
  CloseServerDatabase();

  ASSERT_TRUE(OpenServerDatabase(path_));
  EXPECT_EQ(ServerDatabase->DatabaseName(), "Voxhall db");
  EXPECT_EQ(LoadUser(*ServerDatabase, "admin", "server_cfg Default", false)->logins, 1);
  CloseServerDatabase();
}

TEST_F(ServerDatabaseTest, LaterStartKeepsTheCreationTime) {
  ASSERT_TRUE(OpenServerDatabase(path_));
  const double created = ServerDatabase->CreationTime();
  CloseServerDatabase();
  ASSERT_TRUE(OpenServerDatabase(path_));
  EXPECT_EQ(ServerDatabase->CreationTime(), created);
  CloseServerDatabase();
}

TEST_F(ServerDatabaseTest, CloseWithoutDatabaseDoesNothing) {
  CloseServerDatabase();
  EXPECT_EQ(ServerDatabase, nullptr);
}

}  // namespace
}  // namespace voxhall::storage
