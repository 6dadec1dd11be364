// Reading, normalising and writing back the "Main Config" and "WebPost"
// sections of the configuration file at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ini_file.h"
#include "host/settings.h"

namespace voxhall::host {

// Sets `config` to its defaults, reads both sections, empties a "PostURL"
// equal to the built-in master-list address, writes every key back and
// flushes. Answers false after logging "Start_Voxhall_Server: error in config
// file" when reading fails. A file that cannot be written is logged and the
// values in memory stay in use.
bool LoadMainConfig(common::IniFile& ini, MainConfig& config);

// Reads an integer key that must fit in [min, max]; a value outside is
// clamped to the range with a warning naming the section and key.
std::int64_t ReadClampedInteger(const common::IniFile& ini, std::string_view section,
                                std::string_view key, std::int64_t fallback, std::int64_t min,
                                std::int64_t max);

// Whether the configuration file at `path` can be opened: a missing file
// can (it reads as empty and is created by the first write); a folder or an
// unreadable file cannot.
bool ConfigFileUsable(const std::string& path);

// Flushes `ini`; on failure logs an error with the path and answers false.
bool FlushConfig(common::IniFile& ini);

}  // namespace voxhall::host
