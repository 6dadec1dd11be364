#include "host/settings.h"

#include <filesystem>

namespace voxhall::host {

Settings& ProcessSettings() {
  static Settings settings;
  return settings;
}

MainConfig& Config() {
  static MainConfig config;
  return config;
}

void ApplyPathDefaults(Settings& settings, const std::string& working_dir) {
  const std::filesystem::path dir(working_dir);
  auto fill = [&dir](std::string& value, const char* name) {
    if (value.empty()) value = (dir / name).string();
  };
  fill(settings.DatabasePath, "server.db");
  fill(settings.ConfigPath, "server.ini");
  fill(settings.LogPath, "server.log");
  fill(settings.HttpDocsPath, "httpdocs");
}

}  // namespace voxhall::host
