// Test helpers for files: a fresh temporary folder removed when the test
// ends, and whole-file reads and writes. Used by unit and integration tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace voxhall::testing {

// A fresh folder under the system's temporary folder, removed when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content with `bytes`.
void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace voxhall::testing
