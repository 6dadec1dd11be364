#include "support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace voxhall::testing {

namespace fs = std::filesystem;

bool WaitForText(const std::string& path, const std::string& needle,
                 std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (ReadFile(path).find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

namespace {
int FreePort(int type) {
  const int fd = ::socket(AF_INET, type, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}
}  // namespace

int FreeUdpPort() { return FreePort(SOCK_DGRAM); }
int FreeTcpPort() { return FreePort(SOCK_STREAM); }

std::string ServerBinary() { return VOXHALL_SERVER_BINARY; }

ServerProcess::ServerProcess(const fs::path& working_dir, std::vector<std::string> arguments,
                             std::string binary)
    : dir_(working_dir) {
  const std::string out = (dir_ / "stdout.txt").string();
  const std::string err = (dir_ / "stderr.txt").string();
  std::vector<std::string> argv_text;
  argv_text.push_back(binary);
  for (auto& a : arguments) argv_text.push_back(std::move(a));
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Empty the output files before the child exists, so that nothing a
  // waiting test reads can come from an earlier run in the same folder.
  WriteFile(out, "");
  WriteFile(err, "");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o >= 0) ::dup2(o, 1);
    if (e >= 0) ::dup2(e, 2);
    const int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0) ::dup2(null_in, 0);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

void ServerProcess::Signal(int signal) {
  if (pid_ > 0 && !exited_) ::kill(pid_, signal);
}

bool ServerProcess::Running() {
  if (exited_) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    status_ = status;
    signalled_ = WIFSIGNALED(status);
    return false;
  }
  return true;
}

std::optional<int> ServerProcess::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  return std::nullopt;
}

std::optional<int> ServerProcess::Stop(std::chrono::milliseconds timeout) {
  Signal(SIGTERM);
  return WaitExit(timeout);
}

std::string ServerProcess::Stdout() const { return ReadFile((dir_ / "stdout.txt").string()); }
std::string ServerProcess::Stderr() const { return ReadFile((dir_ / "stderr.txt").string()); }

}  // namespace voxhall::testing
