// TCPQuery: the query interface's TCP server. Listens on the query port (on
// BoundToIp when set, else on every interface), greets each connection with
// "[VH]", reads request lines and hands them to the connection's
// QuerySession, and writes the replies back.
//
// Each connection is served by a thread of its own with blocking socket
// calls; at most kMaxConnections are open at once. The destructor stops
// accepting, interrupts every connection's socket (an idle connection does
// not delay it) and joins every thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "query/query_session.h"

namespace voxhall::query {

class TCPQuery {
 public:
  static constexpr std::size_t kMaxConnections = 64;
  // The longest request line, without its line end; a longer line closes
  // the connection.
  static constexpr std::size_t kMaxLineLength = 4096;
  static constexpr std::chrono::milliseconds kFailedLoginPause{1000};

  // Starts listening on `port`. When the port cannot be opened (taken, or
  // not a port number) this logs "TTCPQuery.Create: unable to initialize
  // communication " and the object stays inactive for good.
  // `environment.failed_login_pause` is supplied here.
  TCPQuery(std::int64_t port, const std::string& bound_ip, QueryEnvironment environment);
  ~TCPQuery();
  TCPQuery(const TCPQuery&) = delete;
  TCPQuery& operator=(const TCPQuery&) = delete;

  bool Active() const;

 private:
  struct Impl;
  class Connection;
  std::unique_ptr<Impl> impl_;
};

// The process's query interface; null unless the start-up created it.
extern std::unique_ptr<TCPQuery> QueryInterface;

}  // namespace voxhall::query
