#include "storage/channel_store.h"

#include <gtest/gtest.h>

#include "common/date_time.h"
#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

constexpr char kServer[] = "server_cfg Default";
constexpr char kChannels[] = "\\Servers\\server_cfg Default\\Channels";

std::string Key(int index, std::string_view key) {
  return std::string(kChannels) + "\\" + std::to_string(index) + "\\" + std::string(key);
}

StoredChannel Lobby() {
  StoredChannel c;
  c.flags = 0x8001;
  c.codec = 5;
  c.parent = -1;
  c.order = 3;
  c.max_users = 40;
  c.name = "Lobby";
  c.topic = "Welcome";
  c.description = "The first channel";
  c.password = "pw";
  c.created = 1;       // not written
  c.last_changed = 2;  // not written
  c.user_attributes = {"line one", "line two"};
  return c;
}

class ChannelStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetOpenFlag(FBOpenFlag::kCreateNotExists);
    db_.SetFileName(path_);
    db_.SetActive(true);
    ASSERT_TRUE(db_.Active());
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("server.db");
  FreeBase db_;
};

TEST_F(ChannelStoreTest, SaveWritesEveryKeyAndFlushes) {
  const double before = common::Now();
  SaveChannel(db_, 0, Lobby(), kServer);
  EXPECT_EQ(db_.ReadInteger(Key(0, "Flags"), 0), 0x8001);  // zero-extended
  EXPECT_EQ(db_.ReadInteger(Key(0, "Codec"), 0), 5);
  EXPECT_EQ(db_.ReadInteger(Key(0, "Parent"), 0), -1);
  EXPECT_EQ(db_.ReadInteger(Key(0, "Order"), 0), 3);
  EXPECT_EQ(db_.ReadInteger(Key(0, "MaxUsers"), 0), 40);
  EXPECT_EQ(db_.ReadString(Key(0, "Name"), ""), "Lobby");
  EXPECT_EQ(db_.ReadString(Key(0, "Topic"), ""), "Welcome");
  EXPECT_EQ(db_.ReadString(Key(0, "Description"), ""), "The first channel");
  EXPECT_EQ(db_.ReadString(Key(0, "Password"), ""), "pw");
  EXPECT_GE(db_.ReadFloat(Key(0, "Created"), 0), before);
  EXPECT_EQ(db_.ReadFloat(Key(0, "LastChanged"), -1), -1);
  EXPECT_EQ(db_.ReadString(Key(0, "_UserAttribs_\\0"), ""), "line one");
  EXPECT_EQ(db_.ReadString(Key(0, "_UserAttribs_\\1"), ""), "line two");

  FreeBase reread;
  reread.SetFileName(path_);
  reread.SetActive(true);
  auto loaded = LoadChannel(reread, 0, kServer);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->name, "Lobby");
}

TEST_F(ChannelStoreTest, SecondSaveSetsLastChanged) {
  SaveChannel(db_, 0, Lobby(), kServer);
  const double created = db_.ReadFloat(Key(0, "Created"), 0);
  SaveChannel(db_, 0, Lobby(), kServer);
  EXPECT_EQ(db_.ReadFloat(Key(0, "Created"), 0), created);
  EXPECT_GE(db_.ReadFloat(Key(0, "LastChanged"), 0), created);
}

TEST_F(ChannelStoreTest, DeleteThenSaveGivesNewCreatedAndNoLastChanged) {
  SaveChannel(db_, 0, Lobby(), kServer);
  SaveChannel(db_, 0, Lobby(), kServer);
  DeleteChannels(db_, kServer);
  EXPECT_EQ(db_.GetEntry(kChannels, EntryKind::kNode), nullptr);
  SaveChannel(db_, 0, Lobby(), kServer);
  EXPECT_GT(db_.ReadFloat(Key(0, "Created"), 0), 0);
  EXPECT_EQ(db_.ReadFloat(Key(0, "LastChanged"), -1), -1);
}

TEST_F(ChannelStoreTest, LoadReadsEveryField) {
  SaveChannel(db_, 0, Lobby(), kServer);
  auto c = LoadChannel(db_, 0, "SERVER_CFG DEFAULT");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->flags, 0x8001);
  EXPECT_EQ(c->codec, 5);
  EXPECT_EQ(c->parent, -1);
  EXPECT_EQ(c->order, 3);
  EXPECT_EQ(c->max_users, 40);
  EXPECT_EQ(c->name, "Lobby");
  EXPECT_EQ(c->topic, "Welcome");
  EXPECT_EQ(c->description, "The first channel");
  EXPECT_EQ(c->password, "pw");
  EXPECT_GT(c->created, 40000);
  EXPECT_EQ(c->last_changed, 0);
  EXPECT_EQ(c->user_attributes, (std::vector<std::string>{"line one", "line two"}));
}

TEST_F(ChannelStoreTest, MissingKeysGiveTheirDefaults) {
  db_.CreateNode(std::string(kChannels) + "\\0");
  auto c = LoadChannel(db_, 0, kServer);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->flags, 0);
  EXPECT_EQ(c->codec, 0);
  EXPECT_EQ(c->parent, 0);
  EXPECT_EQ(c->order, 0);
  EXPECT_EQ(c->max_users, 2500);
  EXPECT_EQ(c->name, "***ERROR***");
  EXPECT_EQ(c->topic, "***ERROR***");
  EXPECT_EQ(c->description, "***ERROR***");
  EXPECT_EQ(c->password, "");
  EXPECT_EQ(c->created, 0);
  EXPECT_EQ(c->last_changed, 0);
  EXPECT_TRUE(c->user_attributes.empty());
}

TEST_F(ChannelStoreTest, LoadingStopsAtTheFirstMissingIndex) {
  for (int index : {0, 1, 3}) {
    StoredChannel c = Lobby();
    c.name = "channel " + std::to_string(index);
    SaveChannel(db_, index, c, kServer);
  }
  std::vector<std::string> names;
  for (int index = 0;; ++index) {
    auto c = LoadChannel(db_, index, kServer);
    if (!c) break;
    names.push_back(c->name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"channel 0", "channel 1"}));
}

TEST_F(ChannelStoreTest, EmptyAttributeEndsTheList) {
  StoredChannel c = Lobby();
  c.user_attributes = {"a", "b", "", "d"};
  SaveChannel(db_, 0, c, kServer);
  EXPECT_EQ(LoadChannel(db_, 0, kServer)->user_attributes, (std::vector<std::string>{"a", "b"}));
}

TEST_F(ChannelStoreTest, AttributesBeyondAShorterListStay) {
  StoredChannel c = Lobby();
  c.user_attributes = {"a", "b", "c"};
  SaveChannel(db_, 0, c, kServer);
  c.user_attributes = {"x"};
  SaveChannel(db_, 0, c, kServer);
  EXPECT_EQ(LoadChannel(db_, 0, kServer)->user_attributes,
            (std::vector<std::string>{"x", "b", "c"}));
}

TEST_F(ChannelStoreTest, StoredValuesAreCutWhenRead) {
  SaveChannel(db_, 0, Lobby(), kServer);
  db_.WriteString(Key(0, "Description"), std::string(120, 'd'));  // another writer
  db_.WriteString(Key(0, "Name"), std::string(40, 'n'));
  db_.WriteInteger(Key(0, "MaxUsers"), 0x10005);
  db_.WriteInteger(Key(0, "Flags"), -1);
  auto c = LoadChannel(db_, 0, kServer);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->description, std::string(99, 'd'));
  EXPECT_EQ(c->name, std::string(29, 'n'));
  EXPECT_EQ(c->max_users, 5);
  EXPECT_EQ(c->flags, 0xFFFF);
}

TEST_F(ChannelStoreTest, DeleteChannelsLeavesOtherServersAlone) {
  SaveChannel(db_, 0, Lobby(), kServer);
  SaveChannel(db_, 0, Lobby(), "server_cfg Other");
  DeleteChannels(db_, kServer);
  EXPECT_FALSE(LoadChannel(db_, 0, kServer));
  EXPECT_TRUE(LoadChannel(db_, 0, "server_cfg Other"));
  FreeBase reread;
  reread.SetFileName(path_);
  reread.SetActive(true);
  EXPECT_FALSE(LoadChannel(reread, 0, kServer));
  EXPECT_TRUE(LoadChannel(reread, 0, "server_cfg Other"));
}

TEST_F(ChannelStoreTest, InactiveDatabaseStoresNothing) {
  FreeBase inactive;
  SaveChannel(inactive, 0, Lobby(), kServer);
  EXPECT_EQ(inactive.LastError(), kFBSuccess);  // not even a flush was tried
  DeleteChannels(inactive, kServer);
  EXPECT_FALSE(LoadChannel(inactive, 0, kServer));
}

}  // namespace
}  // namespace voxhall::storage
