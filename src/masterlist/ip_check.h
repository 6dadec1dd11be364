// The host's address list as the process fronts show it: the host's own IPv4
// addresses ("Local IP") and, when external detection is on and a service
// address is configured, the address the web service saw ("External IP").
//
// How a front uses it:
//
//   masterlist::IpCheckRunner runner([&](const masterlist::AddressList& list) {
//     // Called on the runner's thread: hand `list` over to the front's own
//     // thread (a queued call, a message, a locked print) and return.
//   });
//   runner.Start(masterlist::IpCheckRequestFromConfig());  // after start-up, and
//                                                          // again on "Update IP's"
//
// Start answers false and does nothing while a check is still running. The
// runner's destructor waits for a running check (at most a few network
// time-outs), so destroy it before the shut-down sequence frees the log.
// The handler must not destroy or restart its own runner.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "masterlist/web_check.h"

namespace voxhall::masterlist {

inline constexpr std::size_t kMaxLocalAddresses = 11;

struct AddressList {
  std::vector<std::string> local;  // the host's IPv4 addresses, at most 11
  bool show_external = false;      // the "External IP" entry is shown
  std::string external;            // its text; empty when the answer had no "IP" line
  bool failed = false;  // the request failed; "unable to detect external ip" was logged
};

// The host's own IPv4 addresses in dotted notation, at most 11: the
// addresses its host name resolves to, in the resolver's order, followed by
// the addresses of its other (non-loopback) interfaces, without repeats.
std::vector<std::string> LocalIPv4Addresses();

// The check as the configuration sets it up: enabled when
// "ExternalIPDectection" is on and "ExternalIPCheckURL" is set, bound to
// "BoundToIp", through the configured proxy (none by default).
WebCheckRequest IpCheckRequestFromConfig();

// Runs one check and builds the list. A failed request is logged (category
// "frmMain") and gives the local addresses only.
AddressList RunIpCheck(const WebCheckRequest& request);

// Runs one check at a time on its own thread and hands each list to the
// handler, on that thread.
class IpCheckRunner {
 public:
  using ResultHandler = std::function<void(const AddressList&)>;

  explicit IpCheckRunner(ResultHandler on_result);
  ~IpCheckRunner();
  IpCheckRunner(const IpCheckRunner&) = delete;
  IpCheckRunner& operator=(const IpCheckRunner&) = delete;

  // Starts a check; answers false, ignoring the request, while one runs.
  bool Start(WebCheckRequest request);
  bool Running() const { return running_.load(); }

 private:
  ResultHandler on_result_;
  std::mutex mu_;  // guards thread_ against Start from two threads
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace voxhall::masterlist
