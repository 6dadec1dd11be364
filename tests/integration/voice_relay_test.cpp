// The voice relay against the real server, through the voice test client:
// who hears a frame in each of the three modes, what the relayed packet
// carries, the permission rules of moderated channels and incomplete
// logins, whispers with repeated targets, and the warnings the relay writes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "session_server.h"
#include "support/voice_client.h"

namespace voxhall::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kQuiet = 300ms;

LoginRequest Request(const std::string& nickname) {
  LoginRequest r;
  r.nickname = nickname;
  return r;
}

// "Default" (id 0, sub-channels allowed) with "Sub" below it (id 1),
// "Other" (id 2) and the moderated "Stage" (id 3).
SessionServerSetup FourChannels() {
  SessionServerSetup setup;
  setup.channels.push_back(StoredChannelNamed("Default", 16 | 8));
  storage::StoredChannel sub = StoredChannelNamed("Sub");
  sub.parent = 0;
  setup.channels.push_back(sub);
  setup.channels.push_back(StoredChannelNamed("Other"));
  setup.channels.push_back(StoredChannelNamed("Stage", 2));
  return setup;
}

class VoiceRelayTest : public ::testing::Test {
 protected:
  VoiceRelayTest() : server_(FourChannels()) {}

  // A client logged in completely, in `channel` ("" for the default one).
  VoiceClient& Join(const std::string& nickname, const std::string& channel = "",
                    const std::string& sub_channel = "") {
    clients_.push_back(std::make_unique<VoiceClient>(server_.port()));
    clients_.back()->Login(Request(nickname), {.channel = channel, .sub_channel = sub_channel});
    return *clients_.back();
  }

  // Every client has seen every frame sent before this: `probe` speaks once
  // more in its channel and `listener` hears it.
  void Settle(VoiceClient& probe, VoiceClient& listener) {
    probe.Speak(Bytes("probe"));
    listener.WaitFor<Voice>([](const Voice& v) { return v.data == Bytes("probe"); });
  }

  SessionServer server_;
  std::vector<std::unique_ptr<VoiceClient>> clients_;
};

TEST_F(VoiceRelayTest, OwnChannelReachesTheOthersThereAndNotTheSpeaker) {
  VoiceClient& anna = Join("Anna");
  VoiceClient& ben = Join("Ben");
  VoiceClient& carl = Join("Carl");
  VoiceClient& dave = Join("Dave", "Other");
  // Erin's login is accepted but never completed: she neither hears nor is heard.
  clients_.push_back(std::make_unique<VoiceClient>(server_.port()));
  VoiceClient& erin = *clients_.back();
  erin.SendLoginRequest(Request("Erin"));
  ASSERT_EQ(erin.WaitFor<LoginReply>().result, 1);

  anna.Speak(Bytes("hello"), 0x5A, 0x1234);
  for (VoiceClient* hearer : {&ben, &carl}) {
    const Voice v = hearer->WaitFor<Voice>();
    EXPECT_EQ(v.raw.size(), 22u + 5u);
    EXPECT_EQ(v.mode, 0);
    EXPECT_EQ(v.voice_byte, 0x5A);
    EXPECT_EQ(v.voice_word, 0x1234);
    EXPECT_EQ(v.speaker_id, anna.player_id());
    EXPECT_EQ(v.player_id, hearer->player_id());
    EXPECT_EQ(v.connection_id, hearer->connection_id());
    EXPECT_EQ(v.data, Bytes("hello"));
  }
  erin.Speak(Bytes("unheard"));
  Settle(anna, ben);
  EXPECT_TRUE(anna.NoneWithin<Voice>(kQuiet));
  EXPECT_TRUE(dave.NoneWithin<Voice>(kQuiet));
  EXPECT_TRUE(erin.NoneWithin<Voice>(kQuiet));
  EXPECT_EQ(ben.TakeAll<Voice>().size(), 0u);  // nothing from Erin
}

TEST_F(VoiceRelayTest, ModeratedChannelNeedsVoiceRights) {
  VoiceClient& anna = Join("Anna", "Stage");
  VoiceClient& ben = Join("Ben", "Stage");
  clients_.push_back(std::make_unique<VoiceClient>(server_.port()));
  VoiceClient& admin = *clients_.back();
  LoginRequest r = Request("Boss");
  r.login_name = "admin";
  r.password = kAdminPassword;
  admin.Login(r, {.channel = "Stage"});

  anna.Speak(Bytes("muted"));
  admin.Speak(Bytes("boss"));  // a server administrator may always speak
  EXPECT_EQ(ben.WaitFor<Voice>().data, Bytes("boss"));
  EXPECT_EQ(anna.WaitFor<Voice>().data, Bytes("boss"));
  EXPECT_TRUE(ben.NoneWithin<Voice>(kQuiet));
  EXPECT_TRUE(admin.NoneWithin<Voice>(kQuiet));
}

TEST_F(VoiceRelayTest, WhisperCountsARepeatedTargetOnce) {
  VoiceClient& anna = Join("Anna");
  VoiceClient& ben = Join("Ben");
  VoiceClient& carl = Join("Carl");
  VoiceClient& dave = Join("Dave", "Other");
  const auto id = [](VoiceClient& c) { return static_cast<std::int32_t>(c.player_id()); };
  const std::vector<WhisperTarget> targets = {
      {1, id(ben)}, {0, 0}, {0, 0}, {1, id(ben)}, {1, id(dave)}, {1, id(anna)}, {0, 77},
  };
  anna.Whisper(targets, Bytes("psst"));
  Settle(anna, carl);  // Carl hears the probe after the whisper
  // Ben's copies travel apart from Carl's: wait for Ben's probe as well.
  ben.WaitFor<Voice>([](const Voice& v) { return v.data == Bytes("probe"); });

  // Ben is named as a player and sits in the named channel: twice, once
  // for each kind, in target order; the repeats add nothing.
  const std::vector<Voice> to_ben = ben.History<Voice>();
  ASSERT_EQ(to_ben.size(), 3u);  // two whispers and the probe
  EXPECT_EQ(to_ben[0].mode, 1);
  EXPECT_EQ(to_ben[1].mode, 0);
  EXPECT_EQ(to_ben[0].data, Bytes("psst"));
  EXPECT_EQ(to_ben[1].data, Bytes("psst"));
  const std::vector<Voice> to_carl = carl.History<Voice>();
  ASSERT_EQ(to_carl.size(), 2u);
  EXPECT_EQ(to_carl[0].mode, 0);
  EXPECT_EQ(to_carl[0].data, Bytes("psst"));
  const Voice to_dave = dave.WaitFor<Voice>();
  EXPECT_EQ(to_dave.mode, 1);
  EXPECT_EQ(to_dave.speaker_id, anna.player_id());
  EXPECT_TRUE(dave.NoneWithin<Voice>(kQuiet));
  EXPECT_TRUE(anna.NoneWithin<Voice>(kQuiet));
}

TEST_F(VoiceRelayTest, ParentModeFromASubChannelReachesTheSubChannel) {
  VoiceClient& anna = Join("Anna", "Default", "Sub");
  VoiceClient& ben = Join("Ben", "Default", "Sub");
  VoiceClient& carl = Join("Carl");
  anna.SpeakToParent(Bytes("up"));
  const Voice v = ben.WaitFor<Voice>();
  EXPECT_EQ(v.mode, 2);
  EXPECT_EQ(v.data, Bytes("up"));
  EXPECT_TRUE(carl.NoneWithin<Voice>(kQuiet));
}

TEST_F(VoiceRelayTest, UnrelayableFramesWarnOnceThenAreRateLimited) {
  VoiceClient& anna = Join("Anna");
  VoiceClient& ben = Join("Ben");
  for (int i = 0; i < 20; ++i) anna.SpeakToParent(Bytes("nowhere"));  // Default is top-level
  for (int i = 0; i < 20; ++i) anna.Speak({});  // a 16-byte packet: no voice data
  Settle(anna, ben);
  EXPECT_EQ(ben.TakeAll<Voice>().size(), 0u);

  EXPECT_EQ(server_.LogCount("WARNING,All,UDP VOICE,\tTVHUDPListener.ProgressVoiceData_"
                             "SendVoiceDataToParentChannel, unable to get parentchannel\r\n"),
            1);
  EXPECT_EQ(server_.LogCount("WARNING,All,UDP VOICE,\tTVHUDPListener.ProgressVoiceData_"
                             "SendVoiceDataToChannel, unable to allocate memory\r\n"),
            1);
  EXPECT_EQ(server_.LogCount("unable to"), 2);
}

}  // namespace
}  // namespace voxhall::testing
