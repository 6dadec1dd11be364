#include "shell/startup.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "common/ini_file.h"
#include "host/command_line.h"
#include "host/main_config.h"
#include "host/settings.h"
#include "host/version.h"
#include "log/log.h"

namespace voxhall::shell {

using namespace voxhall::log;
namespace fs = std::filesystem;

namespace {

// A configuration path that exists but is not a readable file (a folder, a
// file without read rights) cannot be opened; a missing file reads as empty
// and is created by the first write.
bool ConfigFileUsable(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream probe(path, std::ios::binary);
  return static_cast<bool>(probe);
}

}  // namespace

StartOutcome StartVoxhallServer(const std::vector<std::string>& arguments) {
  host::Settings& settings = host::ProcessSettings();

  // Paths and command line. The version and help switches end the start
  // before any file is touched.
  settings.AdminPasswordOverride.clear();
  host::CommandLineResult command_line = host::ParseCommandLine(arguments, settings);
  if (command_line.action != host::CommandLineAction::Run) {
    return {StartResult::PrintAndExit, std::move(command_line.output)};
  }
  host::ApplyPathDefaults(settings, fs::current_path().string());

  if (!ServerLog) CreateLog(settings.ConfigPath, "Debug", settings.LogPath);
  Log(lmtAll, lmdInfo, "server", "Server startup initialized");
  Log(lmtAll, lmdInfo, "server",
      "Server version: " + host::VersionNumber() + " " + host::PlatformText() + "\r\nOK");

  auto config_lock = common::IniFile::Transaction();
  if (!ConfigFileUsable(settings.ConfigPath)) {
    LogFmt(lmtError, lmdAll, "SERVER", "Start_Voxhall_Server: unable to open server config file: %1 ",
           settings.ConfigPath);
    return {StartResult::Failed, {}};
  }
  auto ini = std::make_unique<common::IniFile>(settings.ConfigPath);
  if (!host::LoadMainConfig(*ini, host::Config())) return {StartResult::Failed, {}};

  host::FlushConfig(*ini);
  ini.reset();
  config_lock.unlock();

  Log(lmtAll, lmdInfo, "server", "Server startup finished");
  return {StartResult::Started, {}};
}

void ShutdownServer(int final_pause_ms) {
  Log(lmtAll, lmdInfo, "server", "Server shutdown initialized");

  std::this_thread::sleep_for(std::chrono::milliseconds(final_pause_ms));
  Log(lmtAll, lmdInfo, "server", "Server shutdown finished");
  ServerLog.reset();
}

}  // namespace voxhall::shell
