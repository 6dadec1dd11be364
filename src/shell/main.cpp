// Process entry of the console front: runs the start-up sequence, prints the
// console block and the host's addresses, answers SIGUSR1 with a new IP
// check and SIGINT or SIGTERM with the shut-down sequence.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/settings.h"
#include "log/log.h"
#include "shell/console_front.h"
#include "shell/pid_file.h"
#include "shell/signal_wait.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  using namespace voxhall;

  // Block the signals before any thread exists, so that every thread
  // inherits the mask and the main thread alone receives them.
  shell::ProcessSignals signals;

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

  shell::PidFile pid_file(host::ProcessSettings().PidPath);
  {
    shell::ConsoleFront console;
    console.PrintStartBlock();
    console.UpdateIps();
    while (signals.Next() == shell::ProcessSignal::UpdateIps) console.UpdateIps();
  }  // waits for a check that is still running, while the log exists

  shell::ShutdownServer();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return 0;
}
