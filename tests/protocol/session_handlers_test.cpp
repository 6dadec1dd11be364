// The session handlers in process, on a real packet buffer and a manual
// clock, without the listener thread: exact bytes of the packets they
// build, the reading of short login requests, the voice permission rules of
// public servers, and the whisper rules a client cannot set up alone
// (flags, hundreds of repeated targets).
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "protocol/dispatch.h"
#include "protocol/error_codes.h"
#include "protocol/login.h"
#include "protocol/voice_relay.h"
#include "storage/tree_db.h"
#include "storage/user_store.h"
#include "support/temp_dir.h"
#include "transport/clock.h"
#include "transport/connection.h"

namespace voxhall::protocol {
namespace {

using transport::ManualClock;
using transport::Packet;
using transport::PacketBuffer;
using transport::PacketClass;

constexpr const char* kPeer = "127.0.0.1";

std::uint32_t ConnOf(std::int32_t player) { return 100 + static_cast<std::uint32_t>(player); }
std::uint16_t PortOf(std::int32_t player) { return static_cast<std::uint16_t>(5000 + player); }

class SessionHandlersTest : public ::testing::Test {
 protected:
  SessionHandlersTest() : channels_("server_cfg Test") {
    std::lock_guard<Channels> lock(channels_);
    channels_.CreateDefaultChannel();  // id 0
  }

  std::int32_t AddChannel(const char* name, std::int32_t parent = kNoParent,
                          std::uint16_t flags = 0) {
    std::lock_guard<Channels> lock(channels_);
    ChannelRec c;
    c.Name = name;
    c.Parent = parent;
    c.Flags = flags;
    c.MaxUsers = 100;
    return channels_.AddChannel(std::move(c));
  }

  // A player whose login is complete, with an established connection.
  ClientObject& AddPlayer(std::int32_t id, std::int32_t channel) {
    auto p = std::make_unique<ClientObject>();
    p->PlayerId = id;
    p->ConnectionId = static_cast<std::int32_t>(ConnOf(id));
    p->ChannelId = channel;
    p->NickName = "player" + std::to_string(id);
    p->LoginComplete = true;
    ClientObject* added = nullptr;
    {
      std::lock_guard<ClientList> lock(clients_);
      added = clients_.Add(std::move(p));
    }
    buffer_.AddConnection(id, ConnOf(id), kPeer, PortOf(id), 1);
    buffer_.Send(transport::MakePacket(PacketClass::CommandPacket, kLoginStep6, ConnOf(id), id),
                 false);
    auto sent = buffer_.PollOutgoing();
    auto ack = transport::MakePacket(PacketClass::AckPacket, 0, ConnOf(id), id);
    ack->SetSequence(sent->Sequence());
    ack->UpdateChecksum();
    ack->SetPeer(kPeer, PortOf(id));
    EXPECT_EQ(buffer_.ReceivePacket(std::move(ack)), transport::BufferFault::kNone);
    return *added;
  }

  // Dispatches `packet` as the listener would, with `sender_id`'s record.
  void Run(const Packet& packet, std::int32_t sender_id) {
    std::lock_guard<ClientList> players(clients_);
    std::lock_guard<Channels> channels(channels_);
    HandlerContext ctx{server_, clients_, channels_, buffer_, database_, limiter_, clock_};
    ctx.event_key = static_cast<std::uint32_t>(sender_id);
    ctx.packet = &packet;
    ctx.sender = clients_.GetClientObject(sender_id);
    Dispatch(ctx);
  }

  // What went out, by receiving player id.
  std::map<std::uint32_t, std::vector<std::unique_ptr<Packet>>> Sent() {
    std::map<std::uint32_t, std::vector<std::unique_ptr<Packet>>> out;
    while (auto p = buffer_.PollOutgoing()) out[p->PlayerId()].push_back(std::move(p));
    return out;
  }

  // The one packet that went out.
  std::unique_ptr<Packet> OnlyPacket() {
    auto first = buffer_.PollOutgoing();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(buffer_.PollOutgoing(), nullptr);
    return first;
  }

  ServerData server_;
  storage::FreeBase* database_ = nullptr;
  ManualClock clock_;
  PacketBuffer buffer_{clock_};
  ClientList clients_{7};
  Channels channels_;
  log::LogRateLimiter limiter_;
};

// A voice packet from `speaker` as a client sends it.
Packet VoiceFrom(std::int32_t speaker, std::uint8_t mode, std::vector<std::uint8_t> tail) {
  std::vector<std::uint8_t> bytes = {0xF2, 0xBE, mode, 0xAB};
  for (std::uint32_t v : {ConnOf(speaker), static_cast<std::uint32_t>(speaker)}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  bytes.insert(bytes.end(), {0x02, 0x01, 0xEF, 0xCD});  // counter 0x0102, voice word 0xCDEF
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return Packet(bytes, kPeer, PortOf(speaker));
}

std::vector<std::uint8_t> Targets(std::vector<std::pair<std::uint8_t, std::int32_t>> targets,
                                  std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(targets.size())};
  for (auto [kind, id] : targets) {
    out.push_back(kind);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id >> (8 * i)));
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST_F(SessionHandlersTest, RelayedVoiceLayout) {
  AddPlayer(1, 0);
  AddPlayer(2, 0);
  Run(VoiceFrom(1, kVoiceToChannel, {1, 2, 3}), 1);
  auto sent = Sent();
  ASSERT_EQ(sent[2].size(), 1u);
  EXPECT_TRUE(sent[1].empty());
  const std::vector<std::uint8_t> expected = {
      0xF3, 0xBE, 0x00, 0xAB,  // magic, mode, voice byte
      102,  0,    0,    0,     // receiver's connection id
      2,    0,    0,    0,     // receiver's player id
      1,    0,                 // the receiving connection's own voice counter
      0xEF, 0xCD,              // voice word
      1,    0,    0,    0,     // speaker
      0x02, 0x01,              // the speaker's voice counter
      1,    2,    3};
  const auto bytes = sent[2][0]->Bytes();
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST_F(SessionHandlersTest, WhisperRespectsTheNoWhisperFlagAndRepeatedTargets) {
  AddPlayer(1, 0);
  AddPlayer(2, 0);
  ClientObject& deaf = AddPlayer(3, 0);
  deaf.PlayerFlags = kPlayerFlagNoWhisper;

  // 255 targets: the default channel over and over, and player 3.
  std::vector<std::pair<std::uint8_t, std::int32_t>> targets(254, {kWhisperTargetChannel, 0});
  targets.push_back({kWhisperTargetPlayer, 3});
  Run(VoiceFrom(1, kVoiceWhisper, Targets(targets, {9})), 1);
  auto sent = Sent();
  EXPECT_EQ(sent[2].size(), 1u);
  EXPECT_TRUE(sent[3].empty());

  Run(VoiceFrom(1, kVoiceToChannel, {9}), 1);  // its channel it still hears
  sent = Sent();
  EXPECT_EQ(sent[3].size(), 1u);
}

TEST_F(SessionHandlersTest, ShortWhispersRelayNothing) {
  AddPlayer(1, 0);
  AddPlayer(2, 0);
  for (const auto& tail : std::vector<std::vector<std::uint8_t>>{
           {},                                       // no target count
           {0, 7, 7},                                // no targets
           Targets({{kWhisperTargetPlayer, 2}}, {}),  // no voice data
           {2, 1, 2, 0, 0, 0},                       // the second target is missing
       }) {
    Run(VoiceFrom(1, kVoiceWhisper, tail), 1);
    EXPECT_TRUE(Sent().empty());
  }
}

TEST_F(SessionHandlersTest, PublicServerRelaysWithinOneTreeOnly) {
  server_.ServerType = kServerTypePublic;
  const std::int32_t a = AddChannel("A", kNoParent, kChannelFlagSubChannels);
  const std::int32_t a_sub = AddChannel("ASub", a);
  const std::int32_t b = AddChannel("B", kNoParent, kChannelFlagSubChannels);
  const std::int32_t b_sub = AddChannel("BSub", b);
  const std::int32_t stage = AddChannel("Stage", kNoParent, kChannelFlagModerated);
  ClientObject& speaker = AddPlayer(1, a_sub);

  struct Case {
    std::int32_t channel;
    std::uint16_t channel_privileges;
    std::uint16_t privileges;
    bool may;
  };
  const std::vector<Case> cases = {
      {a_sub, 0, 0, true},    // its own channel
      {a, 0, 0, true},        // its parent
      {b_sub, 0, 0, false},   // a sub-channel of another tree
      {b, 0, 0, false},       // another top-level channel, not the parent's sibling
      {stage, 0, 0, false},   // moderated, and in another tree
      {-5, 0, 0, false},      // missing
  };
  std::lock_guard<ClientList> players(clients_);
  std::lock_guard<Channels> channels(channels_);
  HandlerContext ctx{server_, clients_, channels_, buffer_, nullptr, limiter_, clock_};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    EXPECT_EQ(CheckPlayerCanSpeakToChannel(ctx, &speaker, channels_.FindChannel(c.channel)), c.may);
  }
  // Two top-level channels are siblings; a moderated one needs voice rights.
  speaker.ChannelId = a;
  EXPECT_TRUE(CheckPlayerCanSpeakToChannel(ctx, &speaker, channels_.FindChannel(b)));
  const ChannelRec* moderated = channels_.FindChannel(stage);
  EXPECT_FALSE(CheckPlayerCanSpeakToChannel(ctx, &speaker, moderated));
  for (std::uint16_t rights : {kChannelPrivilegeAdmin, kChannelPrivilegeOperator,
                               kChannelPrivilegeVoice}) {
    speaker.ChannelPrivileges = rights;
    EXPECT_TRUE(CheckPlayerCanSpeakToChannel(ctx, &speaker, moderated));
  }
  speaker.ChannelPrivileges = kChannelPrivilegeAutoVoice;  // only its effect counts
  EXPECT_FALSE(CheckPlayerCanSpeakToChannel(ctx, &speaker, moderated));
  speaker.Privileges = kPrivilegeServerAdmin;
  EXPECT_TRUE(CheckPlayerCanSpeakToChannel(ctx, &speaker, moderated));
}

// A login request of `size` bytes (cut or zero-extended from the full 180).
Packet LoginRequestOf(std::size_t size, std::uint8_t unique, const std::string& login,
                      const std::string& nickname, const std::string& password = "") {
  std::vector<std::uint8_t> b(180, 0);
  b[0] = 0xF4;
  b[1] = 0xBE;
  b[2] = 3;
  b[84] = 20;  // version release
  b[88] = unique;
  b[90] = static_cast<std::uint8_t>(login.size());
  std::copy(login.begin(), login.end(), b.begin() + 91);
  b[120] = static_cast<std::uint8_t>(password.size());
  std::copy(password.begin(), password.end(), b.begin() + 121);
  b[150] = static_cast<std::uint8_t>(nickname.size());
  std::copy(nickname.begin(), nickname.end(), b.begin() + 151);
  b.resize(size);
  return Packet(b, kPeer, 6000);
}

TEST_F(SessionHandlersTest, ShortLoginRequestsReadWhatIsPresent) {
  struct Case {
    std::size_t size;
    std::optional<std::string> login_name;  // nothing: not readable
    std::string nickname;
  };
  const std::vector<Case> cases = {
      {87, std::nullopt, ""},
      {88, "", ""},
      {95, "admi", ""},  // the login name as far as it arrived
      {155, "administrator", "Anna"},
      {180, "administrator", "Annabelle"},
      {200, "administrator", "Annabelle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const Packet p = LoginRequestOf(c.size, 0, "administrator", "Annabelle");
    const std::optional<LoginRequest> r = ReadLoginRequest(p.Bytes());
    ASSERT_EQ(r.has_value(), c.login_name.has_value());
    if (!r) continue;
    EXPECT_EQ(r->version_release, 20);
    EXPECT_EQ(r->login_name, *c.login_name);
    EXPECT_EQ(r->nickname, c.nickname);
    EXPECT_EQ(r->password, "");
  }
}

TEST_F(SessionHandlersTest, ShortLoginRequestIsAnsweredFromItsBytes) {
  // 88 bytes: blank nickname, refused with the full description; with the
  // unique-nickname flag (byte 88, so 89 bytes) a guest name is given.
  Run(LoginRequestOf(88, 0, "", ""), 0);
  auto reply = OnlyPacket();
  ASSERT_EQ(reply->Size(), kLoginReplySize);
  EXPECT_EQ(static_cast<std::int32_t>(reply->U32At(88)), kLoginBadPasswordOrNickname);
  EXPECT_EQ(reply->Data()[20], server_.ServerName.size());

  Run(LoginRequestOf(89, 1, "", ""), 0);
  reply = OnlyPacket();
  EXPECT_EQ(static_cast<std::int32_t>(reply->U32At(88)), kLoginAccepted);
  {
    std::lock_guard<ClientList> players(clients_);
    const ClientObject* guest = clients_.GetClientObject("Guest1");
    ASSERT_NE(guest, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(guest->PlayerId), reply->PlayerId());
  }

  // Fewer than 88 bytes cannot be read: no answer, no connection.
  const int connections = buffer_.ConnectionCount();
  Run(LoginRequestOf(87, 1, "", ""), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(buffer_.ConnectionCount(), connections);
}

TEST_F(SessionHandlersTest, OnlyASuccessfulRegisteredLoginIsCounted) {
  testing::TempDir dir;
  storage::FreeBase db;
  db.SetFileName(dir.File("users.db"));
  db.SetOpenFlag(storage::FBOpenFlag::kCreateNotExists);
  db.SetActive(true);
  storage::StoredUser bob;
  bob.login_name = "bob";
  bob.password = "pw";
  bob.privileges = kPrivilegeMayRegister;
  ASSERT_TRUE(storage::AddUser(db, bob, "server_cfg Test"));
  server_.SectionName = "server_cfg Test";
  database_ = &db;

  Run(LoginRequestOf(180, 0, "bob", "Bob", "wrong"), 0);
  EXPECT_EQ(static_cast<std::int32_t>(OnlyPacket()->U32At(88)), kLoginNotRegistered);
  EXPECT_EQ(storage::LoadUser(db, "bob", "server_cfg Test", false)->logins, 0);

  Run(LoginRequestOf(180, 0, "bob", "Bob", "pw"), 0);
  EXPECT_EQ(static_cast<std::int32_t>(OnlyPacket()->U32At(88)), kLoginAccepted);
  EXPECT_EQ(storage::LoadUser(db, "bob", "server_cfg Test", false)->logins, 1);
  {
    std::lock_guard<ClientList> players(clients_);
    const ClientObject* player = clients_.GetClientObject("Bob");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->Privileges, kPrivilegeRegistered);
    EXPECT_EQ(player->LoginName, "bob");
  }
  db.SetActive(false);
}

TEST(DispatchTableTest, EachCommandTypeHasOneRow) {
  std::set<std::uint16_t> types;
  for (const CommandEntry& e : CommandTable()) {
    EXPECT_TRUE(types.insert(e.type).second) << e.name;
    EXPECT_EQ(FindCommand(e.type), &e);
  }
  EXPECT_EQ(FindCommand(999), nullptr);
}

}  // namespace
}  // namespace voxhall::protocol
