// A running server for the client-session tests: one virtual server
// ("server_cfg Default") on a free loopback port, with the settings, stored
// channels and registered users a test gives before it starts. The process
// is killed when the object goes; its folder is removed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/channel_store.h"
#include "storage/user_store.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace voxhall::testing {

inline constexpr const char* kSessionServerKey = "server_cfg Default";
// The password of the "admin" account (server administrator) of every
// session server.
inline constexpr const char* kAdminPassword = "admin-pw";

struct SessionServerSetup {
  // Extra "Key=value" lines of the server's section, e.g. "ServerMaxUsers=2".
  std::vector<std::string> settings{};
  // Stored channels by index; each one's parent is an index of this list.
  std::vector<storage::StoredChannel> channels{};
  std::vector<storage::StoredUser> users{};
};

// A stored top-level channel (flags 0: registered) with a player limit of 100.
storage::StoredChannel StoredChannelNamed(const std::string& name, std::uint16_t flags = 0);

class SessionServer {
 public:
  explicit SessionServer(const SessionServerSetup& setup = {});

  int port() const { return port_; }
  std::string Log() const { return ReadFile(dir_.File("server.log")); }
  // Number of times `text` occurs in the log.
  int LogCount(const std::string& text) const;

 private:
  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace voxhall::testing
