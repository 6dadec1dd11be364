// Test helpers that run the real server binary: the child process with its
// output captured in its working folder, free loopback ports, and waiting
// for text to appear in a file. Used by integration tests only.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace voxhall::testing {

// Polls `path` until it contains `needle` or the timeout passes.
bool WaitForText(const std::string& path, const std::string& needle,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A loopback port that was free a moment ago (bound to port 0 and released).
int FreeUdpPort();
int FreeTcpPort();

// Path of the server binary under test.
std::string ServerBinary();

// The server binary run as a child process in a working folder; stdout and
// stderr go to "stdout.txt" and "stderr.txt" there. The destructor kills a
// child that is still running.
class ServerProcess {
 public:
  // `binary` defaults to the server binary; the desktop front's tests run
  // voxhall-desktop.
  ServerProcess(const std::filesystem::path& working_dir, std::vector<std::string> arguments,
                std::string binary = ServerBinary());
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Sends `signal` to the child.
  void Signal(int signal);
  // Waits for the child to end; its exit status, or nullopt on timeout or
  // when it was ended by a signal (see `signalled`).
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  bool Running();
  bool signalled() const { return signalled_; }
  int pid() const { return pid_; }
  // SIGTERM and the wait for a normal exit.
  std::optional<int> Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  std::filesystem::path dir_;
  int pid_ = -1;
  bool exited_ = false;
  bool signalled_ = false;
  int status_ = 0;
};

}  // namespace voxhall::testing
