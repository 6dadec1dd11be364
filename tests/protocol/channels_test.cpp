#include "protocol/channels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/date_time.h"
#include "protocol/error_codes.h"

namespace voxhall::protocol {
namespace {

ChannelRec Channel(std::string name, std::int32_t parent = kNoParent, std::uint16_t flags = 0,
                   std::string password = "") {
  ChannelRec c;
  c.Name = name;
  c.Parent = parent;
  c.Flags = flags;
  c.Password = password;
  c.MaxUsers = 10;
  return c;
}

class ChannelsTest : public ::testing::Test {
 protected:
  ChannelsTest() : channels_("server_cfg Default") { channels_.Lock(); }
  ~ChannelsTest() override { channels_.Unlock(); }

  std::int32_t MustAdd(ChannelRec c) {
    const std::string name = c.Name;
    const std::int32_t id = channels_.AddChannel(std::move(c));
    EXPECT_GE(id, 0) << name;
    return id;
  }

  std::vector<std::string> SortedNames() const {
    std::vector<std::string> names;
    for (const ChannelRec* c : channels_.SortedChannels()) names.push_back(c->Name);
    return names;
  }

  Channels channels_;
};

TEST_F(ChannelsTest, DefaultChannel) {
  channels_.set_default_codec(kCodecGsm148);
  const common::DateTime before = common::Now();
  EXPECT_EQ(channels_.CreateDefaultChannel(), 0);
  ASSERT_EQ(channels_.Count(), 1u);
  const ChannelRec& c = *channels_.items()[0];
  EXPECT_EQ(c.ID, 0);
  EXPECT_EQ(c.Name, "Default");
  EXPECT_EQ(c.Topic, "Default");
  EXPECT_EQ(c.Description, "Default Channel");
  EXPECT_EQ(c.Flags, kChannelFlagDefault);
  EXPECT_EQ(c.Codec, kCodecGsm148);
  EXPECT_EQ(c.Parent, kNoParent);
  EXPECT_EQ(c.MaxUsers, 32000);
  EXPECT_TRUE(c.Password.empty());
  EXPECT_GE(c.Created, before);
  EXPECT_EQ(c.LastChanged, c.Created);
  EXPECT_EQ(channels_.DefaultChannelId(), 0);
}

TEST_F(ChannelsTest, NewDefaultChannelTakesTheFlagAndReportsTheOldOne) {
  EXPECT_EQ(channels_.DefaultChannelId(), -1);
  channels_.CreateDefaultChannel();
  const std::int32_t lobby = MustAdd(Channel("Lobby", kNoParent, kChannelFlagDefault));
  EXPECT_EQ(channels_.DefaultChannelId(), lobby);
  EXPECT_EQ(channels_.FindChannel(0)->Flags & kChannelFlagDefault, 0);
  EXPECT_EQ(channels_.changed(), std::vector<std::int32_t>{0});
  // The next call starts with an empty changed list.
  MustAdd(Channel("Other"));
  EXPECT_TRUE(channels_.changed().empty());
}

TEST_F(ChannelsTest, AddChannelRefusals) {
  const std::int32_t a = MustAdd(Channel("A", kNoParent, kChannelFlagSubChannels));
  const std::int32_t flat = MustAdd(Channel("Flat"));
  const std::int32_t sub = MustAdd(Channel("lobby", a));
  struct Case {
    const char* what;
    ChannelRec record;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"sub-channel with a password", Channel("S", a, 0, "pw"), kErrorSubChannelPassword},
      {"password wins over every other refusal", Channel("A", 77, 0, "pw"),
       kErrorSubChannelPassword},
      {"top-level name taken by a sub-channel", Channel("LOBBY"), kErrorChannelNameExists},
      {"top-level name taken", Channel("a"), kErrorChannelNameExists},
      {"sub-channel name taken in its parent", Channel("Lobby", a), kErrorChannelNameExists},
      {"missing parent", Channel("S", 77), kErrorParentNotFound},
      {"parent is a sub-channel", Channel("S", sub), kErrorParentIsSubChannel},
      {"parent allows no sub-channels", Channel("S", flat), kErrorNoSubChannelsAllowed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(channels_.AddChannel(c.record), c.expected);
  }
  EXPECT_EQ(channels_.Count(), 3u);

  // Sub-channel names only need to be unique below their own parent.
  const std::int32_t b = MustAdd(Channel("B", kNoParent, kChannelFlagSubChannels));
  EXPECT_GE(channels_.AddChannel(Channel("Lobby", b)), 0);
}

TEST_F(ChannelsTest, SubChannelsFollowTheirParent) {
  ChannelRec reg = Channel("Registered", kNoParent, kChannelFlagSubChannels);
  reg.Codec = kCodecGsm164;
  const std::int32_t registered = MustAdd(reg);
  const std::int32_t unregistered =
      MustAdd(Channel("Unregistered", kNoParent, kChannelFlagSubChannels | kChannelFlagUnregistered));

  ChannelRec asked = Channel("Sub", registered, kChannelFlagUnregistered | kChannelFlagSubChannels |
                                                    kChannelFlagModerated);
  asked.Codec = kCodecCelp51;
  const ChannelRec* sub = channels_.FindChannel(MustAdd(asked));
  EXPECT_EQ(sub->Flags, kChannelFlagModerated);  // registered, no sub-channels of its own
  EXPECT_EQ(sub->Codec, kCodecGsm164);

  const ChannelRec* kept = channels_.FindChannel(MustAdd(Channel("Sub", unregistered, kChannelFlagUnregistered)));
  EXPECT_EQ(kept->Flags, kChannelFlagUnregistered);
  const ChannelRec* reg_sub = channels_.FindChannel(MustAdd(Channel("Sub2", unregistered)));
  EXPECT_EQ(reg_sub->Flags, 0);  // a sub-channel's own registered flag stays too
}

TEST_F(ChannelsTest, PasswordFlagFollowsThePassword) {
  EXPECT_EQ(channels_.FindChannel(MustAdd(Channel("P", kNoParent, 0, "x")))->Flags,
            kChannelFlagPassword);
  EXPECT_EQ(channels_.FindChannel(MustAdd(Channel("Q", kNoParent, kChannelFlagPassword)))->Flags, 0);
}

TEST_F(ChannelsTest, DeletingATopLevelChannelRemovesItsSubChannelsLastAddedFirst) {
  channels_.CreateDefaultChannel();
  const std::int32_t a = MustAdd(Channel("A", kNoParent, kChannelFlagSubChannels));
  const std::int32_t s1 = MustAdd(Channel("S1", a));
  const std::int32_t b = MustAdd(Channel("B", kNoParent, kChannelFlagSubChannels));
  const std::int32_t b1 = MustAdd(Channel("B1", b));
  const std::int32_t s2 = MustAdd(Channel("S2", a));

  EXPECT_EQ(channels_.DeleteChannel(a), 0);
  EXPECT_EQ(channels_.changed(), (std::vector<std::int32_t>{s2, s1, a}));
  EXPECT_EQ(channels_.FindChannel(s1), nullptr);
  EXPECT_EQ(channels_.Count(), 3u);

  EXPECT_EQ(channels_.DeleteChannel(b1), 0);
  EXPECT_EQ(channels_.changed(), std::vector<std::int32_t>{b1});
  EXPECT_NE(channels_.FindChannel(b), nullptr);

  EXPECT_EQ(channels_.DeleteChannel(a), kErrorNoSuchChannel);
  EXPECT_TRUE(channels_.changed().empty());
  EXPECT_EQ(channels_.DeleteChannel(0), kErrorDefaultChannel);

  // Ids are not reused.
  EXPECT_EQ(MustAdd(Channel("A")), s2 + 1);
}

TEST_F(ChannelsTest, TheParentOfADefaultSubChannelCannotBeDeleted) {
  const std::int32_t a = MustAdd(Channel("A", kNoParent, kChannelFlagSubChannels));
  const std::int32_t s = MustAdd(Channel("S", a, kChannelFlagDefault));
  EXPECT_EQ(channels_.DeleteChannel(a), kErrorDefaultChannel);
  EXPECT_NE(channels_.FindChannel(s), nullptr);
  EXPECT_EQ(channels_.DefaultChannelId(), s);
}

TEST_F(ChannelsTest, SortedChannelsPutsSubChannelsAfterTheirParent) {
  const std::int32_t z = MustAdd(Channel("zeta", kNoParent, kChannelFlagSubChannels));
  const std::int32_t a = MustAdd(Channel("Alpha", kNoParent, kChannelFlagSubChannels));
  MustAdd(Channel("y", z));
  MustAdd(Channel("beta"));
  MustAdd(Channel("Zed", a));
  MustAdd(Channel("b", a));
  EXPECT_EQ(SortedNames(), (std::vector<std::string>{"Alpha", "b", "Zed", "beta", "zeta", "y"}));
}

TEST_F(ChannelsTest, ChannelPrivilegesAreKeptOnTheTopLevelChannel) {
  const std::int32_t a = MustAdd(Channel("A", kNoParent, kChannelFlagSubChannels));
  const std::int32_t sub = MustAdd(Channel("Sub", a));
  const std::int32_t b = MustAdd(Channel("B"));

  channels_.SetChannelPrivilege(sub, "Bob", 9);
  EXPECT_EQ(channels_.FindChannel(a)->UserAttribs, std::vector<std::string>{"Bob=9"});
  EXPECT_TRUE(channels_.FindChannel(sub)->UserAttribs.empty());
  EXPECT_EQ(channels_.GetChannelPrivilege(a, "BOB"), 9);
  EXPECT_EQ(channels_.GetChannelPrivilege(sub, "bob"), 9);
  EXPECT_EQ(channels_.GetChannelPrivilege(b, "Bob"), 0);

  channels_.SetChannelPrivilege(a, "bob", 32769);
  EXPECT_EQ(channels_.FindChannel(a)->UserAttribs, std::vector<std::string>{"bob=32769"});
  EXPECT_EQ(channels_.GetChannelPrivilege(sub, "Bob"), 32769);

  // Anonymous players have nothing to store or load.
  channels_.SetChannelPrivilege(a, "", 1);
  channels_.SetChannelPrivilege(a, "x=y", 1);
  EXPECT_EQ(channels_.FindChannel(a)->UserAttribs.size(), 1u);
  EXPECT_EQ(channels_.GetChannelPrivilege(99, "bob"), 0);
  channels_.SetChannelPrivilege(99, "bob", 1);  // no channel: nothing happens

  // Lines loaded from the database may hold anything.
  channels_.FindChannel(b)->UserAttribs = {"nobody", "eve=abc", "mallory=70000", "carol=2",
                                           "=5"};
  EXPECT_EQ(channels_.GetChannelPrivilege(b, "eve"), 0);
  EXPECT_EQ(channels_.GetChannelPrivilege(b, "mallory"), 0);
  EXPECT_EQ(channels_.GetChannelPrivilege(b, "nobody"), 0);
  EXPECT_EQ(channels_.GetChannelPrivilege(b, "Carol"), 2);
  EXPECT_EQ(channels_.GetChannelPrivilege(b, ""), 0);
}

}  // namespace
}  // namespace voxhall::protocol
