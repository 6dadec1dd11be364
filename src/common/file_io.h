// Whole-file reads and crash-safe whole-file replacement, used by the
// database engine and the configuration file. A replacement writes a new file beside the old one, forces it to the
// disk and renames it over the old one only when every write succeeded, so a
// crash or a full disk in the middle leaves the previous file intact.
// Files these helpers create are readable and writable by their owner only
// (they hold passwords in clear); a replacement keeps the mode of the file it
// replaces, so a mode the owner gave a file stays.
// Callable from any thread; two replacements of the same path must not run at
// once (the database engine's lock and IniFile::Transaction see to that).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace voxhall::common {

// Mode of newly created files: owner read and write.
inline constexpr unsigned kOwnerOnlyMode = 0600;

bool FileExists(const std::string& path);

// The whole content of the file; nullopt when it cannot be opened or read
// (missing, a folder, no permission).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Creates `path` as an empty file with kOwnerOnlyMode if it does not exist;
// an existing file is left as it is. Answers false when it cannot be created.
bool CreateEmptyFile(const std::string& path);

// Opens `path` for appending in binary mode, creating it with kOwnerOnlyMode
// when it does not exist; null when it cannot be opened.
std::FILE* OpenForAppend(const std::string& path);

// The path of the new file that ReplaceFileContents writes beside `path`.
std::string ReplacementPath(const std::string& path);

// Makes `bytes` the content of `path`: writes ReplacementPath(path), flushes
// it to the disk, gives it the old file's permissions (`new_file_mode` when
// there is no old file) and renames it over `path`.
// Answers false after any failure, with `path` unchanged and the new file
// removed.
bool ReplaceFileContents(const std::string& path, std::string_view bytes,
                         unsigned new_file_mode = kOwnerOnlyMode);

// Test hook: the next replacements write at most `bytes` bytes and then fail
// as a full disk would; a negative value (the default) removes the limit.
void TEST_SetWriteLimit(std::int64_t bytes);

}  // namespace voxhall::common
