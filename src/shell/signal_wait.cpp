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

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

void StopSignals::Wait() {
  int signal_number = 0;
  while (sigwait(&set_, &signal_number) != 0) {
  }
}

#else

namespace {
std::atomic<bool> stop_requested{false};
void OnSignal(int) { stop_requested = true; }
}  // namespace

StopSignals::StopSignals() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

void StopSignals::Wait() {
  while (!stop_requested) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

#endif

}  // namespace voxhall::shell
