// Helpers shared by the storage tests: a temporary folder removed at the end
// of each test, whole-file reads and writes, and a little-endian byte builder
// for hand-made database files.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace voxhall::storage::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("voxhall-storage-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(std::string_view name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

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

}  // namespace voxhall::storage::testing
