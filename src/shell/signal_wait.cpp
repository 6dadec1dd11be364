#include "shell/signal_wait.h"

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#else
#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace voxhall::shell {

#ifndef _WIN32

ProcessSignals::ProcessSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  // A closed standard output or a peer that went away shows up as a failed
  // write, never as the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
}

ProcessSignal ProcessSignals::Next() {
  int signal_number = 0;
  while (sigwait(&set_, &signal_number) != 0) {
  }
  return signal_number == SIGUSR1 ? ProcessSignal::UpdateIps : ProcessSignal::Exit;
}

#else

// Windows has no SIGUSR1; only the stop request exists there.
namespace {
std::atomic<bool> stop_requested{false};
void OnSignal(int) { stop_requested = true; }
}  // namespace

ProcessSignals::ProcessSignals() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

ProcessSignal ProcessSignals::Next() {
  while (!stop_requested) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return ProcessSignal::Exit;
}

#endif

}  // namespace voxhall::shell
