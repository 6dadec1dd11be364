#include "shell/pid_file.h"

#include <filesystem>
#include <system_error>

#include "common/file_io.h"
#include "log/log.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace voxhall::shell {

PidFile::PidFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) return;
  written_ = common::ReplaceFileContents(path_, std::to_string(getpid()) + "\n", 0644);
  if (!written_) {
    log::LogFmt(log::lmtError, log::lmdAll, "SERVER", "unable to write pid file: %1", path_);
  }
}

PidFile::~PidFile() {
  if (!written_) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

}  // namespace voxhall::shell
