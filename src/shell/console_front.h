// The console front of the process, for a terminal or a service manager: at
// start one block on standard output with the title, the version text, the
// address of the web administration and the log's location; after each IP
// check the host's address list. Signals stand in for the tray menu
// (signal_wait.h): SIGUSR1 is "Update IP's", SIGINT and SIGTERM are "Exit".
#pragma once

#include <mutex>
#include <string>

#include "masterlist/ip_check.h"

namespace voxhall::shell {

// The start block, from the process settings and the configuration as the
// start-up sequence left them:
//   Voxhall Server
//   v2.0.r18.b31 Linux
//   Administration: http://127.0.0.1:14534/    (or "Administration: off")
//   Log: /srv/voxhall/server.log
std::string StartBlockText();

// The address list:
//   Your Ip's:
//   Local IP: 192.168.1.5                      (one line per address)
//   External IP: 203.0.113.7                   (when detection answered)
std::string AddressListText(const masterlist::AddressList& list);

class ConsoleFront {
 public:
  ConsoleFront();
  // Waits for a check that is still running.
  ~ConsoleFront() = default;
  ConsoleFront(const ConsoleFront&) = delete;
  ConsoleFront& operator=(const ConsoleFront&) = delete;

  void PrintStartBlock();
  // Starts an IP check whose list is printed when it arrives; ignored while
  // a check runs.
  void UpdateIps();

 private:
  void Print(const std::string& text);

  std::mutex print_mu_;  // keeps blocks whole across the check's thread
  masterlist::IpCheckRunner runner_;  // last: its thread uses print_mu_
};

}  // namespace voxhall::shell
