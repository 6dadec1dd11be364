#include "storage/user_store.h"

#include <gtest/gtest.h>

#include "common/date_time.h"
#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

constexpr char kServer[] = "server_cfg Default";
constexpr char kUserPath[] = "\\Servers\\server_cfg Default\\Users\\admin";

StoredUser Admin(std::string_view password = "secret") {
  StoredUser user;
  user.login_name = "admin";
  user.password = password;
  user.nick_name = "admin";
  user.privileges = 9;
  user.registered_by = "Server";
  user.logins = 77;           // not written
  user.created = 12345;       // not written
  user.last_changed = 54321;  // not written
  return user;
}

class UserStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetOpenFlag(FBOpenFlag::kCreateNotExists);
    db_.SetFileName(path_);
    db_.SetActive(true);
    ASSERT_TRUE(db_.Active());
  }
  std::string Key(std::string_view key) const {
    return std::string(kUserPath) + "\\" + std::string(key);
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("server.db");
  FreeBase db_;
};

TEST_F(UserStoreTest, AddUserWritesEveryFieldAndFlushes) {
  const double before = common::Now();
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  const double after = common::Now();
  EXPECT_EQ(db_.ReadString(Key("LogInName"), ""), "admin");
  EXPECT_EQ(db_.ReadString(Key("LogInPassWord"), ""), "secret");
  EXPECT_EQ(db_.ReadString(Key("NickName"), ""), "admin");
  EXPECT_EQ(db_.ReadInteger(Key("Priviliges"), -1), 9);
  EXPECT_EQ(db_.ReadString(Key("RegisteredBy"), ""), "Server");
  EXPECT_EQ(db_.ReadInteger(Key("Logins"), -1), 0);
  const double created = db_.ReadFloat(Key("Created"), 0);
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  // A user added and never changed nor logged in has no last-change time.
  EXPECT_EQ(db_.ReadFloat(Key("LastChanged"), -1), -1);
  EXPECT_GT(db_.CurrentFileSize(), 66);

  FreeBase reread;
  reread.SetFileName(path_);
  reread.SetActive(true);
  auto user = LoadUser(reread, "admin", kServer, false);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->password, "secret");
  EXPECT_EQ(user->last_changed, 0);
}

TEST_F(UserStoreTest, LoginNamesIgnoreCase) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  auto user = LoadUser(db_, "ADMIN", "SERVER_CFG default", false);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->login_name, "admin");  // as stored
  StoredUser other = Admin();
  other.login_name = "Admin";
  EXPECT_FALSE(AddUser(db_, other, kServer));
  EXPECT_EQ(GetUserNames(db_, kServer)->size(), 1u);
}

TEST_F(UserStoreTest, LoadUserFillsTheRecord) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  auto user = LoadUser(db_, "admin", kServer, false);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->login_name, "admin");
  EXPECT_EQ(user->password, "secret");
  EXPECT_EQ(user->nick_name, "admin");
  EXPECT_EQ(user->privileges, 9);
  EXPECT_EQ(user->registered_by, "Server");
  EXPECT_EQ(user->logins, 0);
  EXPECT_GT(user->created, 40000);
  EXPECT_EQ(user->last_changed, 0);
  EXPECT_FALSE(LoadUser(db_, "nobody", kServer, false));
  EXPECT_FALSE(LoadUser(db_, "admin", "server_cfg Other", false));
}

TEST_F(UserStoreTest, CountedLoginWaitsForTheNextFlush) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  const std::string on_disk = testing::ReadFile(path_);
  const double before = common::Now();
  auto user = LoadUser(db_, "admin", kServer, true);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->logins, 0);  // as read, before the count
  EXPECT_EQ(db_.ReadInteger(Key("Logins"), -1), 1);
  EXPECT_GE(db_.ReadFloat(Key("LastChanged"), 0), before);
  EXPECT_EQ(testing::ReadFile(path_), on_disk);
  LoadUser(db_, "admin", kServer, true);
  EXPECT_EQ(db_.ReadInteger(Key("Logins"), -1), 2);
  db_.Flush();
  EXPECT_NE(testing::ReadFile(path_), on_disk);
}

TEST_F(UserStoreTest, SaveUserResetsLoginsAndSetsOnlyLastChanged) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  const double created = db_.ReadFloat(Key("Created"), 0);
  LoadUser(db_, "admin", kServer, true);
  LoadUser(db_, "admin", kServer, true);
  auto user = LoadUser(db_, "admin", kServer, false);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->logins, 2);
  user->password = "changed";
  const double before = common::Now();
  ASSERT_TRUE(SaveUser(db_, *user, kServer));
  EXPECT_EQ(db_.ReadString(Key("LogInPassWord"), ""), "changed");
  EXPECT_EQ(db_.ReadInteger(Key("Logins"), -1), 0);
  EXPECT_EQ(db_.ReadFloat(Key("Created"), 0), created);
  EXPECT_GE(db_.ReadFloat(Key("LastChanged"), 0), before);

  FreeBase reread;
  reread.SetFileName(path_);
  reread.SetActive(true);
  EXPECT_EQ(LoadUser(reread, "admin", kServer, false)->password, "changed");
}

TEST_F(UserStoreTest, SaveUserSetsCreatedWhenItIsMissing) {
  db_.CreateNode(kUserPath);
  ASSERT_TRUE(SaveUser(db_, Admin(), kServer));
  EXPECT_GT(db_.ReadFloat(Key("Created"), 0), 40000);
  EXPECT_EQ(db_.ReadFloat(Key("LastChanged"), -1), -1);
}

TEST_F(UserStoreTest, SaveUserNeedsAnExistingUser) {
  EXPECT_FALSE(SaveUser(db_, Admin(), kServer));
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  StoredUser renamed = Admin();
  renamed.login_name = "root";  // renaming is not possible
  EXPECT_FALSE(SaveUser(db_, renamed, kServer));
  EXPECT_FALSE(LoadUser(db_, "root", kServer, false));
}

TEST_F(UserStoreTest, AddUserRefusesNamesThatAreNoPath) {
  StoredUser user = Admin();
  user.login_name = "";
  EXPECT_FALSE(AddUser(db_, user, kServer));
  user.login_name = "trailing\\";
  EXPECT_FALSE(AddUser(db_, user, kServer));
  // A name that reaches into another user's node leaves that user alone.
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  user.login_name = "admin\\LogInName";
  user.password = "other";
  EXPECT_FALSE(AddUser(db_, user, kServer));
  user.login_name = "new\\user";
  EXPECT_FALSE(AddUser(db_, user, kServer));
  EXPECT_EQ(LoadUser(db_, "admin", kServer, false)->password, Admin().password);
  EXPECT_EQ(GetUserNames(db_, kServer)->size(), 1u);
}

TEST_F(UserStoreTest, LongStoredTextsAreCutTo29WhenRead) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  db_.WriteString(Key("LogInPassWord"), std::string(35, 'p'));  // another writer
  auto user = LoadUser(db_, "admin", kServer, false);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->password, std::string(29, 'p'));
}

TEST_F(UserStoreTest, PrivilegesAreA16BitWord) {
  StoredUser user = Admin();
  user.privileges = 0xFFFF;
  ASSERT_TRUE(AddUser(db_, user, kServer));
  EXPECT_EQ(db_.ReadInteger(Key("Priviliges"), 0), 0xFFFF);  // zero-extended
  db_.WriteInteger(Key("Priviliges"), 0x12345);
  EXPECT_EQ(LoadUser(db_, "admin", kServer, false)->privileges, 0x2345);
}

TEST_F(UserStoreTest, GetUserNames) {
  EXPECT_FALSE(GetUserNames(db_, kServer));
  db_.CreateNode("\\Servers\\server_cfg Default\\Users");
  auto empty = GetUserNames(db_, kServer);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  for (const char* name : {"zed", "amy", "Bob"}) {
    StoredUser user = Admin();
    user.login_name = name;
    ASSERT_TRUE(AddUser(db_, user, kServer));
  }
  EXPECT_EQ(*GetUserNames(db_, "SERVER_CFG DEFAULT"),
            (std::vector<std::string>{"zed", "amy", "Bob"}));
  // A user node without "LogInName" gives an empty name.
  db_.CreateNode("\\Servers\\server_cfg Default\\Users\\bare");
  EXPECT_EQ(GetUserNames(db_, kServer)->back(), "");
}

TEST_F(UserStoreTest, DeleteUserRemovesTheNodeAndFlushes) {
  ASSERT_TRUE(AddUser(db_, Admin(), kServer));
  StoredUser other = Admin();
  other.login_name = "other";
  ASSERT_TRUE(AddUser(db_, other, kServer));
  EXPECT_TRUE(DeleteUser(db_, "ADMIN", kServer));
  EXPECT_FALSE(DeleteUser(db_, "admin", kServer));
  EXPECT_EQ(db_.GetEntry(kUserPath, EntryKind::kNode), nullptr);
  EXPECT_EQ(db_.ReadString(Key("LogInName"), "gone"), "gone");

  FreeBase reread;
  reread.SetFileName(path_);
  reread.SetActive(true);
  EXPECT_EQ(*GetUserNames(reread, kServer), (std::vector<std::string>{"other"}));
}

TEST_F(UserStoreTest, InactiveDatabaseHasNoUsers) {
  FreeBase inactive;
  EXPECT_FALSE(GetUserNames(inactive, kServer));
  EXPECT_FALSE(AddUser(inactive, Admin(), kServer));
  EXPECT_FALSE(SaveUser(inactive, Admin(), kServer));
  EXPECT_FALSE(LoadUser(inactive, "admin", kServer, true));
  EXPECT_FALSE(DeleteUser(inactive, "admin", kServer));
}

TEST_F(UserStoreTest, UsersOfServersAreSeparate) {
  ASSERT_TRUE(AddUser(db_, Admin("one"), "server_cfg A"));
  ASSERT_TRUE(AddUser(db_, Admin("two"), "server_cfg B"));
  EXPECT_EQ(LoadUser(db_, "admin", "server_cfg A", false)->password, "one");
  EXPECT_EQ(LoadUser(db_, "admin", "server_cfg B", false)->password, "two");
}

}  // namespace
}  // namespace voxhall::storage
