// VirtualServerList: the process's virtual servers, through which the
// start-up, the query and web interfaces and the poster find, start, stop
// and restart them. The list owns its servers.
//
// Thread safety: every operation takes the list's lock (recursive: restart
// holds it across the stop and the new start).
//
// Lock order of the whole process, outermost first:
//   1. the configuration-file lock (common::IniFile::Transaction()),
//   2. the server-list lock (VirtualServerList::Lock()),
//   3. a server's player list, then its channel list, then its packet buffer,
//   4. the database lock (storage::FreeBase::Lock()), then the log's.
// A thread may skip levels but never take an outer lock while it holds an
// inner one. Lock() enforces the first two: it takes the configuration-file
// lock before the list lock, so whoever holds the list (to keep server
// pointers valid) may also write the configuration file, and a start or
// restart (which writes the file while holding the list) cannot deadlock
// with it. The listener and sender threads take neither: a stop joins them
// while holding both.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_file.h"
#include "host/server_object.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::host {

// What StartServer needs from the process.
struct ServerEnvironment {
  std::string config_path;         // opened when StartServer gets no file
  std::string bound_ip;            // local address to bind to; empty: all
  storage::FreeBase* database = nullptr;  // registered channels and users; may be null
};

class VirtualServerList {
 public:
  explicit VirtualServerList(ServerEnvironment environment);
  ~VirtualServerList();
  VirtualServerList(const VirtualServerList&) = delete;
  VirtualServerList& operator=(const VirtualServerList&) = delete;

  // Starts a server that is not running under `key`: registers it, reads
  // its section (with `port` unless it is -1, else "ServerUDPPort" or
  // 8767), writes the section back, creates its parts and threads and opens
  // its socket. `ini` null: the configuration file is opened for the call.
  // Answers the listed server, or null after logging why (the object is
  // then freed).
  ServerObject* StartServer(std::unique_ptr<ServerObject> server, const std::string& key,
                            std::int32_t port, common::IniFile* ini);
  // Writes the server's thirteen keys into its section and flushes. Takes
  // Lock(); a caller that holds it already keeps the order.
  void SaveServerConfig(const ServerObject& server, common::IniFile* ini);
  // Stops a running server and releases its run-time parts; its settings
  // stay. Tells its players, drains their connections for at most 350 ms,
  // joins its threads and stores its channels.
  void StopServer(ServerObject& server);

  ServerObject* FindServerByKey(std::string_view key);
  ServerObject* FindServerByPort(std::int32_t port);
  // The servers in list order (the pointers stay valid while the caller
  // holds Lock(), or until the next stop or restart).
  std::vector<ServerObject*> ListServers();
  // Empty key: every server (the list's order then reverses); otherwise the
  // first server with that key. Each is stopped and started again from its
  // section.
  void RestartServers(std::string_view key);
  // Empty key: every server; otherwise the first with that key. Stops,
  // removes and frees it.
  void StopAndFreeServers(std::string_view key);
  bool RegisterServer(std::unique_ptr<ServerObject>& server);
  // Takes the server out of the list and gives it back.
  std::unique_ptr<ServerObject> UnregisterServer(const ServerObject* server);
  int ServerClientCount(ServerObject& server);
  std::size_t Count();

  // Sets the "admin" account of server `key` to `password` with server
  // administrator rights, creating the account when it is missing.
  void SetAdminPassword(const std::string& key, std::string_view password);

  // Holds the configuration-file lock and the list lock, taken in that order
  // and released in the reverse one.
  class ListLock {
   public:
    explicit ListLock(std::recursive_mutex& list)
        : config_(common::IniFile::Transaction()), list_(list) {}
    void unlock() {
      if (list_.owns_lock()) list_.unlock();
      if (config_.owns_lock()) config_.unlock();
    }
    bool owns_lock() const { return list_.owns_lock(); }

   private:
    std::unique_lock<std::recursive_mutex> config_;  // declared first: released last
    std::unique_lock<std::recursive_mutex> list_;
  };
  ListLock Lock() { return ListLock(mu_); }

 private:
  // `given`, or the configuration file opened into `own`; null after
  // logging when it cannot be opened.
  common::IniFile* OpenConfig(common::IniFile* given, std::unique_ptr<common::IniFile>& own);
  // Reads the section into the server's settings.
  void LoadServerConfig(ServerObject& server, common::IniFile& ini, std::int32_t port);

  ServerEnvironment environment_;
  // Guards servers_; taken only through Lock(), after the configuration-file
  // lock (see the lock order above).
  std::recursive_mutex mu_;
  std::vector<std::unique_ptr<ServerObject>> servers_;  // GUARDED_BY(mu_)
};

// The process-wide server list; null until the start-up creates it.
extern std::unique_ptr<VirtualServerList> ServerList;

}  // namespace voxhall::host
