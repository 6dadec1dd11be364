// Process-wide settings: the file locations and administrator password from
// the command line, and the "Main Config" / "WebPost" values of the
// configuration file. Written only by the start-up sequence in the main
// thread before any other thread starts; read-only afterwards (except
// HTTPServerEnabled, cleared by the start-up when the web interface fails).
#pragma once

#include <cstdint>
#include <string>

namespace voxhall::host {

struct Settings {
  std::string DatabasePath;
  std::string ConfigPath;
  std::string LogPath;
  std::string PidPath;
  std::string HttpDocsPath;
  std::string AdminPasswordOverride;
};

struct MainConfig {
  std::int64_t HTTPServerPort = 14534;
  bool HTTPServerEnabled = true;
  bool ExternalIPDetection = true;
  std::string ExternalIPCheckURL;  // the external IP service; empty: not asked
  std::string DateTimeFormat = "dd-mm-yyyy hh:nn:ss";
  std::int64_t TCPQueryPort = 51234;
  std::string BoundToIp;
  std::string AdminEmail = "na";
  std::string ISPLinkURL = "na";
  std::string ISPName = "Private";
  std::string ISPCountry = "Earth";
  bool WebPostEnabled = true;
  std::string PostURL;
  // Proxy of the external IP check; no file sets these.
  bool ProxyEnabled = false;
  std::string ProxyHost;
  std::int64_t ProxyPort = 8080;
  std::string ProxyUser;
  std::string ProxyPassword;
};

// The process's instances.
Settings& ProcessSettings();
MainConfig& Config();

// Fills the empty paths with their defaults in `working_dir`, in the order
// database, configuration, log, template folder.
void ApplyPathDefaults(Settings& settings, const std::string& working_dir);

}  // namespace voxhall::host
