// The configuration file: sections of "key=value" lines. Section and key names
// compare without case; integers read in decimal, "$hex" or "0xhex"; booleans
// are integers (0 false, any other integer true, other text the default).
// Writes change the value in place or add the key (and, when missing, the
// section at the end) and leave every other line alone; Flush replaces the
// file crash-safely (a new file beside it, synced, then renamed over it).
//
// An IniFile object is used by one thread at a time. Several objects on the
// same path (start-up, query and web threads) are kept from losing each other's
// changes by IniFile::Transaction, which holds one process-wide lock while the
// file is read, changed and flushed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace voxhall::common {

class IniFile {
 public:
  // Reads the file at `path`; a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }

  // Reads the file again from disk, dropping unflushed changes.
  void Reload();

  // Values with blanks around them trimmed and one pair of surrounding double
  // quotes removed; `fallback` when the key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  std::int64_t ReadInteger(std::string_view section, std::string_view key,
                           std::int64_t fallback) const;
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Key names of a section in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // CR and LF characters are dropped from the section, the key and the value,
  // so that no value can add lines of its own to the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

  // Writes pending changes. Answers false (and keeps them pending) when the
  // file cannot be written; LastError() then says why.
  bool Flush();
  bool Dirty() const { return dirty_; }
  const std::string& LastError() const { return last_error_; }

  // The process-wide lock that serialises read-modify-flush of the
  // configuration file across threads. Hold it for a whole group of changes:
  //   auto lock = IniFile::Transaction();
  //   IniFile ini(path); ...; ini.Flush();
  // It is the outermost lock of the process: take it before the server-list
  // lock and any lock of a server or the database, never while holding one
  // of them (host/server_list.h lists the whole order). Recursive.
  static std::unique_lock<std::recursive_mutex> Transaction();

 private:
  // Index of the section header line, or npos.
  std::size_t FindSection(std::string_view section) const;
  // Index of the key line inside the section starting at `header`, or npos.
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  const std::string* RawValue(std::string_view section, std::string_view key) const;

  std::string path_;
  std::vector<std::string> lines_;
  bool dirty_ = false;
  std::string last_error_;
};

}  // namespace voxhall::common
