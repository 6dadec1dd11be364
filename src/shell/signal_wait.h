// The signals of the console front: SIGINT (Ctrl+C on the console) and
// SIGTERM (the service manager, the end of the session) ask the process to
// exit; SIGUSR1 asks for a new IP check ("Update IP's"). Construct once in
// main before any thread starts, so that every thread inherits the blocked
// set and the main thread alone receives them through Next(). SIGPIPE is
// ignored.
#pragma once

#include <csignal>

namespace voxhall::shell {

enum class ProcessSignal {
  Exit,       // SIGINT or SIGTERM
  UpdateIps,  // SIGUSR1
};

class ProcessSignals {
 public:
  ProcessSignals();
  ProcessSignals(const ProcessSignals&) = delete;
  ProcessSignals& operator=(const ProcessSignals&) = delete;

  // Blocks the calling thread until one of the signals arrives.
  ProcessSignal Next();

 private:
#ifndef _WIN32
  sigset_t set_;
#endif
};

}  // namespace voxhall::shell
