// Process entry of the console form: runs the start-up sequence, prints the
// version text and waits for SIGINT or SIGTERM, then shuts down.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/version.h"
#include "log/log.h"
#include "shell/signal_wait.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  using namespace voxhall;

  // Block the stop signals before any thread exists, so that every thread
  // inherits the mask and the main thread alone receives them.
  shell::StopSignals stop_signals;

  std::vector<std::string> arguments(argv + 1, argv + argc);
  const shell::StartOutcome outcome = shell::StartVoxhallServer(arguments);
  if (outcome.result == shell::StartResult::PrintAndExit) {
    std::fputs(outcome.output.c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }
  if (outcome.result == shell::StartResult::Failed) {
    log::Log(log::lmtError, log::lmdAll, "GENERAL", "critical error, shutdown initiated");
    log::ServerLog.reset();
    return 1;
  }

  std::printf("%s\n", host::VersionText().c_str());
  std::fflush(stdout);
  stop_signals.Wait();

  shell::ShutdownServer();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return 0;
}
