// The state of one query connection and the shared operations of its command
// handlers: the reply text, ReplyOK / ReplyError, the server references of
// the snapshot and the selection, and ResolveServer.
//
// A session is used by its connection's thread only. Server references are
// kept by serial number, never by pointer: a server that another connection
// stopped is simply no longer found, so no handler can reach a freed object.
// Every function that answers a ServerObject* requires the caller to hold
// the server list's lock for as long as it uses the pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/server_list.h"
#include "query/request.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::query {

using host::ServerObject;

// What the handlers need from the process.
struct QueryEnvironment {
  host::VirtualServerList* servers = nullptr;  // the process's server list
  storage::FreeBase* database = nullptr;       // the user store; may be null
  std::string config_path;                     // for addserver and start
  // Waits out the pause before a failed login is answered; returns early when
  // the interface shuts down.
  std::function<void()> failed_login_pause;
};

// A server this connection has seen: its identity and the port it had.
struct ServerRef {
  std::uint64_t serial = 0;
  std::string key;
  std::int32_t port = 0;
};

// Reasons of error replies.
inline constexpr std::string_view kErrNotLoggedIn = "not logged in";
inline constexpr std::string_view kErrParamCount = "paramcount invalid";
inline constexpr std::string_view kErrConvert = "convert error";
inline constexpr std::string_view kErrInvalidPort = "invalid server port";
inline constexpr std::string_view kErrPortNotFound = "serverport not found";
inline constexpr std::string_view kErrNoServerSelected = "no server selected";

class QuerySession {
 public:
  QuerySession(const QueryEnvironment& environment, std::string peer_address);

  // Runs one request line (without its line end). Answers false when the
  // connection is to be closed after the reply.
  bool HandleLine(std::string_view line);
  // The reply text gathered since the last call, every line ending in CR LF.
  std::string TakeReply();

  // --- for the command handlers ---
  const QueryEnvironment& env() const { return env_; }
  host::VirtualServerList& servers() const { return *env_.servers; }
  const std::string& peer_address() const { return peer_address_; }

  bool LoggedIn = false;
  std::optional<ServerRef> SelectedServer;
  std::vector<ServerRef> ServerSnapshot;

  // One reply line; a line break inside (CR, LF or CR LF) becomes CR LF.
  void ReplyLine(std::string_view text);
  void ReplyOK() { ReplyLine("OK"); }
  void ReplyError(std::string_view reason);
  // ReplyError "not logged in" when the session is not logged in.
  bool RequireLogin();

  // The running server a reference names, or null when it was stopped.
  ServerObject* Live(const ServerRef& ref) const;
  static ServerRef RefOf(const ServerObject& server);
  // Replaces the snapshot with the servers running now, in list order.
  void TakeSnapshot();
  // The snapshot's servers that still run, in order; stopped ones are
  // dropped from the snapshot.
  std::vector<ServerObject*> SnapshotServers();
  // The selected server; null (after replying kErrNoServerSelected) when
  // nothing is selected or the selected server was stopped.
  ServerObject* SelectedOrError();
  // The target of a command: the selection, else the server of the port in
  // parameter 1; null after replying the reason. Never changes the selection.
  ServerObject* ResolveServer(const QueryRequest& request);

 private:
  QueryEnvironment env_;
  std::string peer_address_;
  std::string reply_;
};

}  // namespace voxhall::query
