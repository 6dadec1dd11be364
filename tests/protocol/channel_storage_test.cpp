// Loading and saving the channel tree through a real database file in a
// temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/channels.h"
#include "storage/channel_store.h"
#include "storage/tree_db.h"
#include "support/temp_dir.h"

namespace voxhall::protocol {
namespace {


constexpr char kServer[] = "server_cfg Default";

ChannelRec Channel(std::string name, std::int32_t parent = kNoParent, std::uint16_t flags = 0) {
  ChannelRec c;
  c.Name = name;
  c.Topic = name + " topic";
  c.Description = name + " description";
  c.Parent = parent;
  c.Flags = flags;
  c.MaxUsers = 20;
  return c;
}

storage::StoredChannel Stored(std::string name, std::int32_t parent, std::uint16_t flags = 0) {
  storage::StoredChannel s;
  s.name = name;
  s.parent = parent;
  s.flags = flags;
  return s;
}

class ChannelStorageTest : public ::testing::Test {
 protected:
  ChannelStorageTest() { Reopen(); }
  ~ChannelStorageTest() override { db_->SetActive(false); }

  // Writes the file and reads it back into a new engine, as a restart does.
  void Reopen() {
    if (db_) db_->SetActive(false);
    db_ = std::make_unique<storage::FreeBase>();
    db_->SetFileName(dir_.File("server.db"));
    db_->SetOpenFlag(storage::FBOpenFlag::kCreateNotExists);
    db_->SetActive(true);
    ASSERT_TRUE(db_->Active());
  }

  std::vector<std::string> StoredNames() {
    std::vector<std::string> names;
    for (std::int32_t i = 0;; ++i) {
      auto s = storage::LoadChannel(*db_, i, kServer);
      if (!s) break;
      names.push_back(s->name.str() + "@" + std::to_string(s->parent));
    }
    return names;
  }

  voxhall::testing::TempDir dir_;
  std::unique_ptr<storage::FreeBase> db_;
};

TEST_F(ChannelStorageTest, SavesRegisteredChannelsInOrderAndLoadsTheTreeBack) {
  {
    Channels channels(kServer);
    std::lock_guard lock(channels);
    channels.CreateDefaultChannel();
    ChannelRec a = Channel("A", kNoParent, kChannelFlagSubChannels);
    a.Codec = kCodecGsm164;
    const std::int32_t a_id = channels.AddChannel(a);
    ChannelRec ab = Channel("A B");
    ab.Password = "pw";
    ab.Order = -4;
    channels.AddChannel(ab);
    channels.AddChannel(Channel("Z", a_id));
    const std::int32_t u =
        channels.AddChannel(Channel("U", kNoParent, kChannelFlagUnregistered | kChannelFlagSubChannels));
    ASSERT_GE(channels.AddChannel(Channel("Registered below U", u)), 0);
    channels.SetChannelPrivilege(a_id, "bob", 9);
    ASSERT_TRUE(channels.SaveChannels(*db_));
  }
  // Unregistered channels, and a registered one whose parent is
  // unregistered, are not written.
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"A@-1", "Z@0", "A B@-1", "Default@-1"}));

  Reopen();
  Channels channels(kServer);
  std::lock_guard lock(channels);
  ASSERT_TRUE(channels.LoadChannels(*db_));
  ASSERT_EQ(channels.Count(), 4u);
  const ChannelRec* a = channels.FindChannelByName("A", kNoParent);
  const ChannelRec* z = channels.FindChannelByName("Z", kNoParent);
  const ChannelRec* ab = channels.FindChannelByName("a b", kNoParent);
  ASSERT_TRUE(a && z && ab);
  EXPECT_EQ(a->ID, 0);
  EXPECT_EQ(z->ID, 1);
  EXPECT_EQ(z->Parent, a->ID);
  EXPECT_EQ(z->Codec, kCodecGsm164);
  EXPECT_EQ(ab->Password, "pw");
  EXPECT_EQ(ab->Flags, kChannelFlagPassword);
  EXPECT_EQ(ab->Order, -4);
  EXPECT_EQ(ab->Topic, "A B topic");
  EXPECT_EQ(ab->Description, "A B description");
  EXPECT_EQ(ab->MaxUsers, 20);
  EXPECT_EQ(channels.DefaultChannelId(), 3);
  EXPECT_EQ(channels.GetChannelPrivilege(z->ID, "Bob"), 9);
  EXPECT_GT(z->Created, 0);
}

TEST_F(ChannelStorageTest, EmptyDatabaseGivesTheDefaultChannel) {
  Channels channels(kServer);
  std::lock_guard lock(channels);
  channels.set_default_codec(kCodecCelp63);
  ASSERT_TRUE(channels.LoadChannels(*db_));
  ASSERT_EQ(channels.Count(), 1u);
  EXPECT_EQ(channels.items()[0]->Name, "Default");
  EXPECT_EQ(channels.items()[0]->Codec, kCodecCelp63);
  EXPECT_EQ(channels.DefaultChannelId(), 0);
}

TEST_F(ChannelStorageTest, RefusedStoredChannelsDoNotShiftSubChannelsToTheWrongParent) {
  storage::SaveChannel(*db_, 0, Stored("A", -1, kChannelFlagSubChannels), kServer);
  storage::SaveChannel(*db_, 1, Stored("a", -1, kChannelFlagSubChannels), kServer);  // name taken
  storage::SaveChannel(*db_, 2, Stored("B", -1, kChannelFlagSubChannels), kServer);
  storage::SaveChannel(*db_, 3, Stored("In B", 2), kServer);
  storage::SaveChannel(*db_, 4, Stored("In refused", 1), kServer);
  storage::SaveChannel(*db_, 5, Stored("Forward", 6), kServer);
  storage::SaveChannel(*db_, 6, Stored("In A", 0), kServer);

  Channels channels(kServer);
  std::lock_guard lock(channels);
  ASSERT_TRUE(channels.LoadChannels(*db_));
  std::vector<std::string> loaded;
  for (const auto& c : channels.items()) {
    loaded.push_back(c->Name.str() + "#" + std::to_string(c->ID) + "@" + std::to_string(c->Parent));
  }
  EXPECT_EQ(loaded, (std::vector<std::string>{"A#0@-1", "B#1@-1", "In B#2@1", "In A#3@0"}));
  // None of them carried the default flag: the first top-level channel takes it.
  EXPECT_EQ(channels.DefaultChannelId(), 0);
}

TEST_F(ChannelStorageTest, SaveRefusesAnEmptyListAndAnInactiveDatabase) {
  storage::SaveChannel(*db_, 0, Stored("Kept", -1), kServer);
  Channels channels(kServer);
  std::lock_guard lock(channels);
  EXPECT_FALSE(channels.SaveChannels(*db_));
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"Kept@-1"});

  channels.CreateDefaultChannel();
  storage::FreeBase inactive;
  EXPECT_FALSE(channels.SaveChannels(inactive));

  // Saving replaces what was stored before.
  EXPECT_TRUE(channels.SaveChannels(*db_));
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"Default@-1"});
}

}  // namespace
}  // namespace voxhall::protocol
