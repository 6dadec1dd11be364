// Waiting for the process's stop request: SIGINT (Ctrl+C on the console) or
// SIGTERM (the service manager, the end of the session). Construct once in
// main before any thread starts; Wait() returns when a stop was requested.
#pragma once

#include <csignal>

namespace voxhall::shell {

class StopSignals {
 public:
  StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Blocks the calling thread until SIGINT or SIGTERM arrives.
  void Wait();

 private:
#ifndef _WIN32
  sigset_t set_;
#endif
};

}  // namespace voxhall::shell
