#include "session_server.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "storage/tree_db.h"

namespace voxhall::testing {

storage::StoredChannel StoredChannelNamed(const std::string& name, std::uint16_t flags) {
  storage::StoredChannel c;
  c.name = name;
  c.topic = name;
  c.description = name;
  c.flags = flags;
  c.parent = -1;
  c.max_users = 100;
  return c;
}

SessionServer::SessionServer(const SessionServerSetup& setup) : port_(FreeUdpPort()) {
  // Only the voice server: the administration interfaces and the address
  // check stay off, so parallel tests never compete for their fixed ports.
  std::string ini = std::string(
                        "[Main Config]\nTCPQueryPort=0\nHTTPServer Enabled=0\n"
                        "ExternalIPDectection=0\n[WebPost]\nEnabled=0\n[Servers]\n0=") +
                    kSessionServerKey + "\n[" + kSessionServerKey +
                    "]\nServerUDPPort=" + std::to_string(port_) + "\n";
  for (const std::string& line : setup.settings) ini += line + "\n";
  WriteFile(dir_.File("server.ini"), ini);

  if (!setup.channels.empty() || !setup.users.empty()) {
    storage::FreeBase db;
    db.SetFileName(dir_.File("server.db"));
    db.SetOpenFlag(storage::FBOpenFlag::kCreateNotExists);
    db.SetActive(true);
    for (std::size_t i = 0; i < setup.channels.size(); ++i) {
      storage::SaveChannel(db, static_cast<std::int32_t>(i), setup.channels[i], kSessionServerKey);
    }
    for (const storage::StoredUser& user : setup.users) {
      if (!storage::AddUser(db, user, kSessionServerKey)) throw std::runtime_error("AddUser");
    }
    db.SetActive(false);
  }

  Start();
}

void SessionServer::Start() {
  const int starts = LogCount("Server startup finished");
  process_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{
                                                              std::string("-adminpw=") +
                                                              kAdminPassword});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (LogCount("Server startup finished") == starts) {
    if (std::chrono::steady_clock::now() > deadline || !process_->Running()) {
      throw std::runtime_error("server did not start: " + process_->Stderr());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void SessionServer::Restart() {
  if (process_->Stop() != 0) throw std::runtime_error("server did not stop cleanly");
  process_.reset();
  Start();
}

int SessionServer::LogCount(const std::string& text) const {
  const std::string log = Log();
  int count = 0;
  for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

}  // namespace voxhall::testing
