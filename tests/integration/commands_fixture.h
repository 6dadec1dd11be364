// A running server with players for the tests of the channel and player
// commands: the server of SessionServer, and voice clients that log in,
// anonymously or as registered users, into a channel of their choice.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "session_server.h"
#include "support/voice_client.h"

namespace voxhall::testing {

inline constexpr std::chrono::milliseconds kQuiet{300};

// The record of notice 104; its plain name is hidden by the request builder
// of the same name.
using PlayerFlagsNotice = struct PlayerFlagsChanged;

// A registered account of the session server.
inline storage::StoredUser StoredUserNamed(const std::string& login, const std::string& password,
                                           std::uint16_t privileges = 0) {
  storage::StoredUser user;
  user.login_name = login;
  user.password = password;
  user.nick_name = login;
  user.privileges = privileges;
  user.registered_by = "Server";
  return user;
}

// A stored sub-channel of the stored channel at `parent_index`.
inline storage::StoredChannel StoredSubChannel(const std::string& name, std::int32_t parent_index) {
  storage::StoredChannel c = StoredChannelNamed(name);
  c.parent = parent_index;
  return c;
}

class CommandsServer {
 public:
  explicit CommandsServer(const SessionServerSetup& setup) : server_(setup) {}

  // Logs a player in; `login` empty: anonymously.
  VoiceClient& Join(const std::string& nickname, const std::string& channel = "",
                    const std::string& login = "", const std::string& password = "",
                    const std::string& channel_password = "") {
    clients_.push_back(std::make_unique<VoiceClient>(server_.port()));
    LoginRequest r;
    r.nickname = nickname;
    r.login_name = login;
    r.password = password;
    clients_.back()->Login(r, {.channel = channel, .channel_password = channel_password});
    return *clients_.back();
  }
  // The server administrator "admin".
  VoiceClient& JoinAdmin(const std::string& channel = "") {
    return Join("Boss", channel, "admin", kAdminPassword);
  }

  // Whether a new client can log in as `login` with `password`.
  bool CanLogIn(const std::string& login, const std::string& password) {
    VoiceClient client(server_.port());
    LoginRequest r;
    r.nickname = "Probe" + login;
    r.login_name = login;
    r.password = password;
    client.SendLoginRequest(r);
    return client.WaitFor<LoginReply>().result == 1;
  }

  // Marks everything the players received so far as read.
  void ForgetAll() {
    for (auto& c : clients_) c->Forget();
  }

  SessionServer& server() { return server_; }

 private:
  SessionServer server_;
  std::vector<std::unique_ptr<VoiceClient>> clients_;
};

}  // namespace voxhall::testing
