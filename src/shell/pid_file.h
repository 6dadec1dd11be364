// The pid file (-pid=<path>): the process id, written once the start-up
// sequence has succeeded and removed when the process ends, so that a
// service manager or a script can find the running process.
#pragma once

#include <string>

namespace voxhall::shell {

class PidFile {
 public:
  // Writes the process id and a line break to `path` (crash-safe; a new file
  // gets mode 0644, since the id is no secret). An empty path writes nothing.
  // A failure is logged and the process goes on.
  explicit PidFile(std::string path);
  // Removes the file when this object wrote it.
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;

  bool written() const { return written_; }

 private:
  std::string path_;
  bool written_ = false;
};

}  // namespace voxhall::shell
