#include "common/file_io.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace voxhall::common {

namespace fs = std::filesystem;

namespace {

std::atomic<std::int64_t> g_write_limit{-1};

// Forces the file's data to the disk.
bool SyncFile(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return ::fsync(::fileno(file)) == 0;
#endif
}

// Makes a rename in `folder` durable. Windows has no such step; a failure here
// does not undo the rename, so it is not reported.
void SyncFolder([[maybe_unused]] const fs::path& folder) {
#ifndef _WIN32
  const std::string name = folder.empty() ? std::string(".") : folder.string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
}

bool WriteAll(std::FILE* file, std::string_view bytes) {
  const std::int64_t limit = g_write_limit.load();
  if (limit >= 0 && static_cast<std::uint64_t>(limit) < bytes.size()) {
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(limit), file);
    return false;
  }
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Opens `path` for writing in binary mode, creating it with `mode` when it
// is missing. `append` adds at the end, otherwise the file is emptied.
std::FILE* OpenCreating(const std::string& path, bool append, [[maybe_unused]] unsigned mode) {
  const char* stdio_mode = append ? "ab" : "wb";
#ifdef _WIN32
  return std::fopen(path.c_str(), stdio_mode);
#else
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, mode);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, stdio_mode);
  if (file == nullptr) ::close(fd);
  return file;
#endif
}

}  // namespace

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return std::nullopt;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[64 * 1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

std::FILE* OpenForAppend(const std::string& path) {
  return OpenCreating(path, true, kOwnerOnlyMode);
}

bool CreateEmptyFile(const std::string& path) {
  if (FileExists(path)) return true;
  std::FILE* file = OpenForAppend(path);
  if (file == nullptr) return false;
  return std::fclose(file) == 0;
}

std::string ReplacementPath(const std::string& path) { return path + ".new"; }

bool ReplaceFileContents(const std::string& path, std::string_view bytes,
                         unsigned new_file_mode) {
  const std::string temp = ReplacementPath(path);
  std::FILE* file = OpenCreating(temp, false, new_file_mode);
  if (file == nullptr) return false;
  bool ok = WriteAll(file, bytes);
  ok = std::fflush(file) == 0 && ok;
  ok = ok && SyncFile(file);
  ok = std::fclose(file) == 0 && ok;

  std::error_code ec;
  if (ok) {
    // A replacement file left over from a crash keeps its own mode under
    // O_TRUNC, so the mode is always set here.
    const fs::file_status old_status = fs::status(path, ec);
    const fs::perms mode = !ec && fs::exists(old_status) ? old_status.permissions()
                                                         : static_cast<fs::perms>(new_file_mode);
    ec.clear();
    fs::permissions(temp, mode, fs::perm_options::replace, ec);
    ec.clear();
    fs::rename(temp, path, ec);  // replaces `path` on POSIX and on Windows
    ok = !ec;
  }
  if (!ok) {
    fs::remove(temp, ec);
    return false;
  }
  SyncFolder(fs::path(path).parent_path());
  return true;
}

void TEST_SetWriteLimit(std::int64_t bytes) { g_write_limit.store(bytes); }

}  // namespace voxhall::common
