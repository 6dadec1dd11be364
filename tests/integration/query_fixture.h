// A running server process for the query interface tests: its query port and
// the UDP ports of its virtual servers are free loopback ports, the web
// administration and the server-list post are off, and every listed server's
// "admin" account has the password "secret".
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "support/server_process.h"
#include "support/tcp_client.h"

namespace voxhall::testing {

inline constexpr const char* kQueryAdminPassword = "secret";

// One server listed in "Servers": section "server_cfg <name>" with a free
// UDP port and the given further key lines.
struct ListedServer {
  ListedServer(const char* name) : name(name) {}  // NOLINT: a plain name is the common case
  ListedServer(std::string name, std::string keys) : name(std::move(name)), keys(std::move(keys)) {}
  std::string name;
  std::string keys;
};

class QueryServer {
 public:
  // `servers_extra` is added to the "Servers" section behind the listed keys.
  explicit QueryServer(std::vector<ListedServer> servers = {"Default"},
                       const std::string& servers_extra = "")
      : query_port_(FreeTcpPort()) {
    std::string ini = "[Main Config]\nTCPQueryPort=" + std::to_string(query_port_) +
                      "\nHTTPServer Enabled=0\nExternalIPDectection=0\n[WebPost]\nEnabled=0\n"
                      "[Servers]\n";
    for (std::size_t i = 0; i < servers.size(); ++i) {
      ini += std::to_string(i) + "=server_cfg " + servers[i].name + "\n";
    }
    ini += servers_extra;
    for (const ListedServer& server : servers) {
      udp_ports_.push_back(FreeUdpPort());
      ini += "[server_cfg " + server.name + "]\nServerUDPPort=" +
             std::to_string(udp_ports_.back()) + "\n" + server.keys;
    }
    WriteFile(dir_.File("server.ini"), ini);
    process_ = std::make_unique<ServerProcess>(
        dir_.path(), std::vector<std::string>{std::string("-adminpw=") + kQueryAdminPassword});
    started_ = WaitForText(dir_.File("server.log"), "Server startup finished");
  }
  ~QueryServer() {
    // The orderly shut-down is examined by its own test; the others need not
    // wait for its pause.
    if (process_->Running()) process_->Signal(SIGKILL);
  }

  bool started() const { return started_; }
  int query_port() const { return query_port_; }
  int udp_port(std::size_t i = 0) const { return udp_ports_.at(i); }
  std::string port_text(std::size_t i = 0) const { return std::to_string(udp_port(i)); }
  const TempDir& dir() const { return dir_; }
  ServerProcess& process() { return *process_; }
  std::string Log() const { return ReadFile(dir_.File("server.log")); }
  std::string Ini() const { return ReadFile(dir_.File("server.ini")); }

  // A connection whose greeting has been read.
  std::unique_ptr<TcpClient> Connect() {
    auto client = std::make_unique<TcpClient>(query_port_);
    EXPECT_TRUE(client->connected());
    EXPECT_EQ(client->ReadLine(), "[VH]");
    return client;
  }
  // A connection logged in as the administrator.
  std::unique_ptr<TcpClient> ConnectAdmin() {
    auto client = Connect();
    EXPECT_EQ(client->Command(std::string("login admin ") + kQueryAdminPassword), OkReply());
    return client;
  }

 private:
  TempDir dir_;
  int query_port_;
  std::vector<int> udp_ports_;
  std::unique_ptr<ServerProcess> process_;
  bool started_ = false;
};

}  // namespace voxhall::testing
