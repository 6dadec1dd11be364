#include "shell/startup.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "common/ini_file.h"
#include "host/command_line.h"
#include "host/main_config.h"
#include "host/server_list.h"
#include "host/settings.h"
#include "host/version.h"
#include "log/log.h"
#include "masterlist/web_post.h"
#include "query/tcp_query.h"
#include "storage/server_database.h"
#include "storage/user_store.h"
#include "web/web_interface.h"

namespace voxhall::shell {

using namespace voxhall::log;
namespace fs = std::filesystem;

namespace {

// The web administration; null while it is off or could not start.
std::unique_ptr<web::WebInterface> WebInterface;

constexpr const char* kDefaultServerKey = "server_cfg Default";
constexpr const char* kPasswordAlphabet = "abcdefghijklmnopqrstuvwxyz1234567890";

// The process's pseudo-random generator, seeded from the clock at start.
std::mt19937& Random() {
  static std::mt19937 generator;
  return generator;
}

std::string RandomPassword() {
  std::uniform_int_distribution<int> pick(0, 35);
  std::string password;
  for (int i = 0; i < 5; ++i) password.push_back(kPasswordAlphabet[pick(Random())]);
  return password;
}

// Starts every server listed in "Servers" (keys "0", "1", ... up to the first
// empty one); with none listed, creates the default server and its
// administrator account.
void StartServers(common::IniFile& ini, const host::Settings& settings) {
  int listed = 0;
  for (;; ++listed) {
    const std::string key = ini.ReadString("Servers", std::to_string(listed), "");
    if (key.empty()) break;
    host::ServerList->StartServer(std::make_unique<host::ServerObject>(), key, -1, &ini);
    if (!settings.AdminPasswordOverride.empty()) {
      host::ServerList->SetAdminPassword(key, settings.AdminPasswordOverride);
    }
  }
  if (listed > 0) return;

  host::ServerList->StartServer(std::make_unique<host::ServerObject>(), kDefaultServerKey, -1,
                                &ini);
  ini.WriteString("Servers", "0", kDefaultServerKey);
  Log(lmtWarning, lmdInfo, "SERVER", "Default Server created");

  storage::StoredUser admin;
  admin.login_name = "admin";
  admin.nick_name = "admin";
  admin.registered_by = "Server";
  admin.privileges = 9;  // server administrator and super server administrator
  const std::string password = settings.AdminPasswordOverride.empty()
                                   ? RandomPassword()
                                   : common::CutText(settings.AdminPasswordOverride, 29);
  admin.password = password;
  if (storage::ServerDatabase) storage::AddUser(*storage::ServerDatabase, admin, kDefaultServerKey);
  Log(lmtWarning, lmdInfo, "SERVER", "Default Administrator account created");
  LogFmt(lmtWarning, lmdInfo, "SERVER", "LoginName: admin LoginPw: %1", password);
  host::FlushConfig(ini);
}

// Serves the web administration when it is enabled and has a port. A port
// that cannot be opened is logged and the process runs on without the site.
void StartWebInterface(const host::Settings& settings) {
  host::MainConfig& config = host::Config();
  if (!config.HTTPServerEnabled || config.HTTPServerPort <= 0) return;
  WebInterface = std::make_unique<web::WebInterface>();
  if (!WebInterface->Init(config.HTTPServerPort, settings.HttpDocsPath,
                          config.BoundToIp)) {
    Log(lmtWarning, lmdImportant, "SERVER", "Start_Voxhall_Server: cant initialise WebInterface");
    WebInterface.reset();
    config.HTTPServerEnabled = false;
  }
}

}  // namespace

StartOutcome StartVoxhallServer(const std::vector<std::string>& arguments) {
  host::Settings& settings = host::ProcessSettings();
  Random().seed(static_cast<std::uint32_t>(
      std::chrono::system_clock::now().time_since_epoch().count()));

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
  if (!host::ConfigFileUsable(settings.ConfigPath)) {
    LogFmt(lmtError, lmdAll, "SERVER", "Start_Voxhall_Server: unable to open server config file: %1 ",
           settings.ConfigPath);
    return {StartResult::Failed, {}, "The configuration file cannot be opened: " + settings.ConfigPath};
  }
  auto ini = std::make_unique<common::IniFile>(settings.ConfigPath);
  if (!host::LoadMainConfig(*ini, host::Config())) {
    return {StartResult::Failed, {}, "The configuration file cannot be read: " + settings.ConfigPath};
  }

  if (!storage::OpenServerDatabase(settings.DatabasePath)) {
    return {StartResult::Failed, {}, "The database file cannot be opened: " + settings.DatabasePath};
  }

  host::ServerList = std::make_unique<host::VirtualServerList>(host::ServerEnvironment{
      settings.ConfigPath, host::Config().BoundToIp, storage::ServerDatabase.get()});
  StartServers(*ini, settings);
  StartWebInterface(settings);

  if (host::Config().TCPQueryPort > 0) {
    query::QueryInterface = std::make_unique<query::TCPQuery>(
        host::Config().TCPQueryPort, host::Config().BoundToIp,
        query::QueryEnvironment{host::ServerList.get(), storage::ServerDatabase.get(),
                                settings.ConfigPath, {}});
  }

  // The server-list poster, last, once every server runs.
  if (host::Config().WebPostEnabled) {
    masterlist::WebPoster = std::make_unique<masterlist::WebPost>();
  }

  host::FlushConfig(*ini);
  ini.reset();
  config_lock.unlock();

  Log(lmtAll, lmdInfo, "server", "Server startup finished");
  return {StartResult::Started, {}};
}

void ShutdownServer(int final_pause_ms) {
  Log(lmtAll, lmdInfo, "server", "Server shutdown initialized");
  // The administration interfaces go first: none of their commands may start
  // or restart a server or reach the database while those are being taken
  // down, and a request still being served holds them until its thread ends.
  query::QueryInterface.reset();
  WebInterface.reset();
  if (host::ServerList) host::ServerList->StopAndFreeServers("");
  storage::CloseServerDatabase();
  masterlist::WebPoster.reset();  // ends a wait at once, a post when it is done
  host::ServerList.reset();

  std::this_thread::sleep_for(std::chrono::milliseconds(final_pause_ms));
  Log(lmtAll, lmdInfo, "server", "Server shutdown finished");
  ServerLog.reset();
}

}  // namespace voxhall::shell
