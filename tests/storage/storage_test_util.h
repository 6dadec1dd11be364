// Helpers shared by the storage tests: the shared temporary folder and file
// helpers, and a little-endian byte builder for hand-made database files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#endif

namespace voxhall::storage::testing {

// The shared file helpers, under the names the storage tests use.
using voxhall::testing::ReadFile;
using voxhall::testing::TempDir;
using voxhall::testing::WriteFile;

// Builds byte strings: Bytes().U8(1).I32(5).Text("Users")...
class Bytes {
 public:
  Bytes& U8(std::uint8_t v) {
    out_.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& U16(std::uint16_t v) { return Le(v, 2); }
  Bytes& I32(std::int32_t v) { return Le(static_cast<std::uint32_t>(v), 4); }
  Bytes& U64(std::uint64_t v) { return Le(v, 8); }
  Bytes& Text(std::string_view s) {
    out_.append(s);
    return *this;
  }
  Bytes& Zeros(std::size_t n) {
    out_.append(n, '\0');
    return *this;
  }
  // A record's common part: kind, name length, name, tag 0.
  Bytes& Record(std::uint8_t kind, std::string_view name) {
    return U8(kind).I32(static_cast<std::int32_t>(name.size())).Text(name).I32(0);
  }
  // A whole 64-byte header with the given times (as raw bits), name and tag.
  Bytes& Header(std::uint64_t created_bits, std::uint64_t last_write_bits, std::string_view name,
                std::int32_t tag = 0, std::uint16_t version = 1) {
    Text("RRFB").U16(64).U16(version).U16(0).U64(created_bits).U64(last_write_bits);
    Text(name.substr(0, 31)).Zeros(32 - std::min<std::size_t>(name.size(), 31));
    return I32(tag).Zeros(2);
  }
  std::string str() const { return out_; }

 private:
  Bytes& Le(std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) out_.push_back(static_cast<char>(v >> (8 * i)));
    return *this;
  }
  std::string out_;
};

#ifndef _WIN32
// Kills the child process with SIGKILL as soon as a file is seen being written
// at `temp` (at most 20 s on), and reaps it. Answers whether a write was seen;
// the child is killed either way.
inline bool KillWhileWriting(pid_t child, const std::string& temp) {
  namespace fs = std::filesystem;
  bool seen = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    seen = fs::exists(temp, ec) && fs::file_size(temp, ec) > 0 && !ec;
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  return seen && WIFSIGNALED(status);
}
#endif

}  // namespace voxhall::storage::testing
