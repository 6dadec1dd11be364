#include "host/server_list.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "common/class_name.h"
#include "common/date_time.h"
#include "common/text.h"
#include "host/main_config.h"
#include "host/version.h"
#include "log/log.h"
#include "storage/tree_db.h"
#include "storage/user_store.h"

namespace voxhall::host {

using namespace voxhall::log;

std::unique_ptr<VirtualServerList> ServerList;

namespace {

constexpr std::int32_t kDrainPolls = 350;

// ServerType bit 2 is what the master-list post reports; bit 3 is never kept.
constexpr std::uint16_t kServerTypeReported = 4;
constexpr std::uint16_t kServerTypeCleared = 8;

}  // namespace

VirtualServerList::VirtualServerList(ServerEnvironment environment)
    : environment_(std::move(environment)) {}

VirtualServerList::~VirtualServerList() { StopAndFreeServers(""); }

bool VirtualServerList::RegisterServer(std::unique_ptr<ServerObject>& server) {
  auto lock = Lock();
  for (const auto& s : servers_) {
    if (s->Key == server->Key) return false;
  }
  servers_.push_back(std::move(server));
  return true;
}

std::unique_ptr<ServerObject> VirtualServerList::UnregisterServer(const ServerObject* server) {
  auto lock = Lock();
  auto it = std::find_if(servers_.begin(), servers_.end(),
                         [server](const auto& s) { return s.get() == server; });
  if (it == servers_.end()) return nullptr;
  std::unique_ptr<ServerObject> out = std::move(*it);
  servers_.erase(it);
  return out;
}

void VirtualServerList::LoadServerConfig(ServerObject& server, common::IniFile& ini,
                                         std::int32_t port) {
  protocol::ServerData& d = server.Data;
  const std::string& section = server.Key;
  d = protocol::ServerData{};
  d.NextPlayerId = 1;
  d.StartTime = common::Now();
  d.SectionName = server.Key;
  d.Platform = PlatformText();
  d.VersionMajor = VersionMajor;
  d.VersionMinor = VersionMinor;
  d.VersionRelease = VersionRelease;
  d.VersionBuild = VersionBuild;
  d.AllowFlaggedLogin = false;
  d.WelcomeMessage = kDefaultWelcomeMessage;
  d.UDPPort = port == -1 ? protocol::kDefaultUDPPort : port;

  d.ServerName = ini.ReadString(section, "ServerName", d.ServerName.str());
  // The bit words keep their low 16 bits, as the file format always did.
  d.ServerType =
      static_cast<std::uint16_t>(ini.ReadInteger(section, "ServerType", d.ServerType));
  d.WelcomeMessage = ini.ReadString(section, "ServerWelcomeMessage", d.WelcomeMessage.str());
  d.MaxUsers = static_cast<std::uint16_t>(
      ReadClampedInteger(ini, section, "ServerMaxUsers", d.MaxUsers, 0, 65535));
  d.UDPPort = static_cast<std::int32_t>(ReadClampedInteger(ini, section, "ServerUDPPort",
                                                           d.UDPPort, INT32_MIN, INT32_MAX));
  d.Password = ini.ReadString(section, "ServerPassword", d.Password.str());
  d.ServerFlags =
      static_cast<std::uint16_t>(ini.ReadInteger(section, "ServerFlags", d.ServerFlags));
  d.AllowCodecCelp51 = ini.ReadBool(section, "AllowCodecCelp51", d.AllowCodecCelp51);
  d.AllowCodecCelp63 = ini.ReadBool(section, "AllowCodecCelp63", d.AllowCodecCelp63);
  d.AllowCodecGSM148 = ini.ReadBool(section, "AllowCodecGSM148", d.AllowCodecGSM148);
  d.AllowCodecGSM164 = ini.ReadBool(section, "AllowCodecGSM164", d.AllowCodecGSM164);
  d.AllowCodecWindowsCELP52 =
      ini.ReadBool(section, "AllowCodecWindowsCELP52", d.AllowCodecWindowsCELP52);
  d.LinkURL = ini.ReadString(section, "WebPost_LinkURL", d.LinkURL.str());
}

common::IniFile* VirtualServerList::OpenConfig(common::IniFile* given,
                                               std::unique_ptr<common::IniFile>& own) {
  if (given) return given;
  if (!ConfigFileUsable(environment_.config_path)) {
    Log(lmtError, lmdAll, "SERVER", "unable to open server config file : " + environment_.config_path);
    return nullptr;
  }
  own = std::make_unique<common::IniFile>(environment_.config_path);
  return own.get();
}

void VirtualServerList::SaveServerConfig(const ServerObject& server, common::IniFile* ini) {
  auto lock = Lock();
  std::unique_ptr<common::IniFile> own;
  ini = OpenConfig(ini, own);
  if (!ini) return;
  const protocol::ServerData& d = server.Data;
  const std::string& s = server.Key;
  ini->WriteString(s, "ServerName", d.ServerName.str());
  ini->WriteInteger(s, "ServerType", d.ServerType);
  ini->WriteString(s, "ServerWelcomeMessage", d.WelcomeMessage.str());
  ini->WriteInteger(s, "ServerMaxUsers", d.MaxUsers);
  ini->WriteInteger(s, "ServerUDPPort", d.UDPPort);
  ini->WriteString(s, "ServerPassword", d.Password.str());
  ini->WriteInteger(s, "ServerFlags", d.ServerFlags);
  ini->WriteBool(s, "AllowCodecCelp51", d.AllowCodecCelp51);
  ini->WriteBool(s, "AllowCodecCelp63", d.AllowCodecCelp63);
  ini->WriteBool(s, "AllowCodecGSM148", d.AllowCodecGSM148);
  ini->WriteBool(s, "AllowCodecGSM164", d.AllowCodecGSM164);
  ini->WriteBool(s, "AllowCodecWindowsCELP52", d.AllowCodecWindowsCELP52);
  ini->WriteString(s, "WebPost_LinkURL", d.LinkURL.str());
  FlushConfig(*ini);
}

ServerObject* VirtualServerList::StartServer(std::unique_ptr<ServerObject> owned,
                                             const std::string& key, std::int32_t port,
                                             common::IniFile* ini) {
  auto lock = Lock();
  ServerObject* server = owned.get();
  server->Key = key;
  if (!RegisterServer(owned)) {
    Log(lmtError, lmdAll, "SERVER", "unable to register server");
    return nullptr;
  }

  std::unique_ptr<common::IniFile> own;
  ini = OpenConfig(ini, own);
  if (!ini) {
    UnregisterServer(server);
    return nullptr;
  }

  LoadServerConfig(*server, *ini, port);
  protocol::ServerData& d = server->Data;
  LogFmt(lmtAll, lmdInfo, "server", "Starting server with port: %1", d.UDPPort);
  SaveServerConfig(*server, ini);
  own.reset();
  d.ServerType = static_cast<std::uint16_t>(
      (d.ServerType & ~(kServerTypeReported | kServerTypeCleared)) | kServerTypeReported);

  server->Clients = std::make_unique<protocol::ClientList>();
  server->Channels = std::make_unique<protocol::Channels>(key);
  server->Channels->set_default_codec(protocol::DefaultCodec(d));
  server->PacketBuffer = std::make_unique<transport::PacketBuffer>();
  server->UDPServer = std::make_unique<UdpSocket>();

  server->ListenerThread = std::make_unique<protocol::VHUDPListener>(
      d, *server->PacketBuffer, *server->Clients, *server->Channels, environment_.database);
  UdpSocket* socket = server->UDPServer.get();
  server->SenderThread = std::make_unique<transport::VHUDPSender>(
      *server->PacketBuffer,
      [socket](std::span<const std::unique_ptr<transport::Packet>> packets) {
        return socket->SendBatch(packets);
      });
  transport::VHUDPSender* sender = server->SenderThread.get();
  server->ListenerThread->SetWriter([sender] { sender->WriteReady(); });
  server->ListenerThread->Start();
  server->SenderThread->Start();

  std::string error;
  // Port 0 would bind a port of the system's choosing, which no client knows.
  const bool port_ok = d.UDPPort >= 1 && d.UDPPort <= 65535;
  if (port_ok &&
      socket->Open(environment_.bound_ip, static_cast<std::uint16_t>(d.UDPPort),
                   [server](std::span<UdpSocket::Datagram> datagrams) {
                     server->HandleDatagrams(datagrams);
                   },
                   error)) {
    return server;
  }

  Log(lmtError, lmdAll, "SERVER",
      "can not initialise udp communication with port " + std::to_string(d.UDPPort));
  server->ReleaseParts();
  UnregisterServer(server);
  return nullptr;
}

void VirtualServerList::StopServer(ServerObject& server) {
  auto lock = Lock();
  if (!server.PacketBuffer) return;
  try {
    server.ListenerThread->Terminate();
    server.ListenerThread->RemoveAllClients();
    // The listener, still running, removes each connection once its
    // departure notice has been acknowledged.
    for (std::int32_t i = 0; i < kDrainPolls && server.PacketBuffer->ConnectionCount() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server.StopThreads();
    {
      std::lock_guard<protocol::Channels> channels(*server.Channels);
      if (environment_.database) server.Channels->SaveChannels(*environment_.database);
      server.Channels->ClearChannels();
    }
    server.Channels.reset();
    server.Clients.reset();
  } catch (const std::exception& e) {
    Log(lmtError, lmdAll, "SERVER",
        "TServerObject.Stop(" + server.Key + ") Exception: " + common::ClassName(e));
  }
}

ServerObject* VirtualServerList::FindServerByKey(std::string_view key) {
  auto lock = Lock();
  for (const auto& s : servers_) {
    if (s->Key == key) return s.get();
  }
  return nullptr;
}

ServerObject* VirtualServerList::FindServerByPort(std::int32_t port) {
  auto lock = Lock();
  for (const auto& s : servers_) {
    if (s->Data.UDPPort == port) return s.get();
  }
  return nullptr;
}

std::vector<ServerObject*> VirtualServerList::ListServers() {
  auto lock = Lock();
  std::vector<ServerObject*> out;
  for (const auto& s : servers_) out.push_back(s.get());
  return out;
}

std::size_t VirtualServerList::Count() {
  auto lock = Lock();
  return servers_.size();
}

void VirtualServerList::RestartServers(std::string_view key) {
  auto lock = Lock();
  for (std::size_t i = servers_.size(); i-- > 0;) {
    ServerObject* server = servers_[i].get();
    if (!key.empty() && server->Key != key) continue;
    StopServer(*server);
    std::unique_ptr<ServerObject> owned = UnregisterServer(server);
    const std::string server_key = owned->Key;
    StartServer(std::move(owned), server_key, -1, nullptr);
    if (!key.empty()) break;
  }
}

void VirtualServerList::StopAndFreeServers(std::string_view key) {
  auto lock = Lock();
  for (std::size_t i = servers_.size(); i-- > 0;) {
    ServerObject* server = servers_[i].get();
    if (!key.empty() && server->Key != key) continue;
    StopServer(*server);
    UnregisterServer(server);
    if (!key.empty()) break;
  }
}

int VirtualServerList::ServerClientCount(ServerObject& server) {
  auto lock = Lock();
  if (!server.Clients) return 0;
  std::lock_guard<protocol::ClientList> players(*server.Clients);
  return static_cast<int>(server.Clients->Count());
}

void VirtualServerList::SetAdminPassword(const std::string& key, std::string_view password) {
  if (!environment_.database) return;
  storage::FreeBase& db = *environment_.database;
  if (auto user = storage::LoadUser(db, "admin", key, false)) {
    user->privileges = 9;
    user->password = password;
    storage::SaveUser(db, *user, key);
    return;
  }
  storage::StoredUser user;
  user.privileges = 9;
  user.nick_name = "admin";
  user.login_name = "admin";
  user.registered_by = "Server";
  user.password = password;
  storage::AddUser(db, user, key);
}

}  // namespace voxhall::host
