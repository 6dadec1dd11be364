#include "host/main_config.h"

#include <exception>
#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "host/version.h"
#include "log/log.h"

namespace voxhall::host {

using common::CutText;
using common::Trim;
using namespace voxhall::log;

namespace {
constexpr const char* kMain = "Main Config";
constexpr const char* kWebPost = "WebPost";
}  // namespace

bool ConfigFileUsable(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream probe(path, std::ios::binary);
  return static_cast<bool>(probe);
}

bool FlushConfig(common::IniFile& ini) {
  if (ini.Flush()) return true;
  LogFmt(lmtError, lmdAll, "SERVER", "unable to write server config file: %1 (%2)", ini.path(),
         ini.LastError());
  return false;
}

std::int64_t ReadClampedInteger(const common::IniFile& ini, std::string_view section,
                                std::string_view key, std::int64_t fallback, std::int64_t min,
                                std::int64_t max) {
  const std::int64_t value = ini.ReadInteger(section, key, fallback);
  if (value >= min && value <= max) return value;
  const std::int64_t clamped = value < min ? min : max;
  LogFmt(lmtWarning, lmdAll, "SERVER", "config value out of range: [%1] %2=%3, using %4", section,
         key, value, clamped);
  return clamped;
}

bool LoadMainConfig(common::IniFile& ini, MainConfig& config) {
  config = MainConfig{};
  try {
    config.HTTPServerPort = ini.ReadInteger(kMain, "HTTPServer Port", config.HTTPServerPort);
    config.HTTPServerEnabled =
        ini.ReadBool(kMain, "HTTPServer Enabled", config.HTTPServerEnabled);
    config.ExternalIPDetection =
        ini.ReadBool(kMain, "ExternalIPDectection", config.ExternalIPDetection);
    config.ExternalIPCheckURL =
        CutText(Trim(ini.ReadString(kMain, "ExternalIPCheckURL", config.ExternalIPCheckURL)), 255);
    config.DateTimeFormat = ini.ReadString(kMain, "DateTimeFormat", config.DateTimeFormat);
    config.TCPQueryPort = ini.ReadInteger(kMain, "TCPQueryPort", config.TCPQueryPort);
    config.BoundToIp = Trim(ini.ReadString(kMain, "BoundToIp", config.BoundToIp));
    config.AdminEmail = CutText(Trim(ini.ReadString(kWebPost, "AdminEmail", config.AdminEmail)), 255);
    config.ISPLinkURL = CutText(Trim(ini.ReadString(kWebPost, "ISPLinkURL", config.ISPLinkURL)), 255);
    config.ISPName = CutText(Trim(ini.ReadString(kWebPost, "ISPName", config.ISPName)), 29);
    config.ISPCountry = CutText(Trim(ini.ReadString(kWebPost, "ISPCountry", config.ISPCountry)), 29);
    config.WebPostEnabled = ini.ReadBool(kWebPost, "Enabled", config.WebPostEnabled);
    config.PostURL = CutText(ini.ReadString(kWebPost, "PostURL", config.PostURL), 255);
  } catch (const std::exception&) {
    Log(lmtError, lmdAll, "SERVER", "Start_Voxhall_Server: error in config file");
    return false;
  }

  if (Trim(config.PostURL) == Trim(MasterListDefaultURL())) config.PostURL.clear();

  ini.WriteBool(kMain, "ExternalIPDectection", config.ExternalIPDetection);
  ini.WriteString(kMain, "ExternalIPCheckURL", config.ExternalIPCheckURL);
  ini.WriteInteger(kMain, "HTTPServer Port", config.HTTPServerPort);
  ini.WriteBool(kMain, "HTTPServer Enabled", config.HTTPServerEnabled);
  ini.WriteString(kMain, "DateTimeFormat", config.DateTimeFormat);
  ini.WriteInteger(kMain, "TCPQueryPort", config.TCPQueryPort);
  ini.WriteString(kMain, "BoundToIp", config.BoundToIp);
  ini.WriteString(kWebPost, "AdminEmail", config.AdminEmail);
  ini.WriteString(kWebPost, "ISPLinkURL", config.ISPLinkURL);
  ini.WriteString(kWebPost, "ISPName", config.ISPName);
  ini.WriteString(kWebPost, "ISPCountry", config.ISPCountry);
  ini.WriteBool(kWebPost, "Enabled", config.WebPostEnabled);
  ini.WriteString(kWebPost, "PostURL", config.PostURL);
  FlushConfig(ini);
  return true;
}

}  // namespace voxhall::host
