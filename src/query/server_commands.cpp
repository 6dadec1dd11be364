// The information and server-control commands: sl, pl, cl, ver, sel, si,
// msg, msgall, start, stop, restart, addserver and set.
//
// Every handler holds the server list's lock (which takes the
// configuration-file lock first) while it uses a server, so that no other
// thread can stop it meanwhile, and builds its whole reply before anything
// is written to the network.
#include <exception>
#include <mutex>
#include <string>

#include "common/date_time.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "host/main_config.h"
#include "host/version.h"
#include "log/log.h"
#include "protocol/text_message.h"
#include "query/command_table.h"

namespace voxhall::query {

using namespace voxhall::log;
using common::ArgText;

namespace {

constexpr std::string_view kCategory = "TCPQUERY";
constexpr std::string_view kServersSection = "Servers";
constexpr std::string_view kServerKeyPrefix = "server_cfg ";

// Fields of a reply line, each followed by a TAB.
class TabLine {
 public:
  template <typename T>
  TabLine& operator<<(const T& value) {
    text_ += ArgText(value);
    text_ += '\t';
    return *this;
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

const char* CodecText(bool allowed) { return allowed ? "-1" : "0"; }

// Sends `text` as a server message to every player of `server`. A player
// whose queue is full misses it; the first such failure is logged.
void Broadcast(ServerObject& server, const std::string& text) {
  if (!server.Clients || !server.PacketBuffer) return;
  std::lock_guard players(*server.Clients);
  std::string failure;
  for (const auto& player : server.Clients->items()) {
    try {
      server.PacketBuffer->Send(protocol::NewNotifyTextMessage(*player, text,
                                                               protocol::kServerMessageKind,
                                                               protocol::kServerSenderName),
                                false);
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
  }
  if (!failure.empty()) LogException(kCategory, "TTCPQuery.msg", failure);
}

// The message text of msg and msgall: the parameters joined by single
// blanks, without control characters or blanks at either end.
std::string MessageText(const QueryRequest& request) { return common::Trim(request.JoinFrom(1)); }

// The section listed in "Servers" (keys 0, 1, ... up to the first empty one)
// that is not running and whose "ServerUDPPort" (8767 when missing) is
// `port`; empty when there is none.
std::string ListedServerOfPort(host::VirtualServerList& servers, const common::IniFile& ini,
                               std::int32_t port) {
  for (int n = 0;; ++n) {
    const std::string key = ini.ReadString(kServersSection, std::to_string(n), "");
    if (key.empty()) return {};
    if (servers.FindServerByKey(key)) continue;
    if (ini.ReadInteger(key, "ServerUDPPort", protocol::kDefaultUDPPort) == port) return key;
  }
}

// A name that can become a section name and a database id: no blanks or
// control characters (the request's splitting already removed blanks), no
// brackets, which would end the section header early, and no backslash,
// which separates the database's path levels.
bool ValidServerName(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '[' || c == ']' || c == '\\') return false;
  }
  return true;
}

// stop and restart: resolves the target and hands its key to `operation`.
void StopOrRestart(QuerySession& session, const QueryRequest& request,
                   void (host::VirtualServerList::*operation)(std::string_view)) {
  if (!session.RequireLogin()) return;
  auto lock = session.servers().Lock();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  const std::string key = server->Key;
  (session.servers().*operation)(key);
  session.ReplyOK();
}

}  // namespace

void HandleSl(QuerySession& session, const QueryRequest&) {
  auto lock = session.servers().Lock();
  for (const ServerObject* server : session.SnapshotServers()) {
    session.ReplyLine(std::to_string(server->Data.UDPPort));
  }
  session.ReplyOK();
}

void HandlePl(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  if (server->Clients && server->PacketBuffer) {
    std::lock_guard players(*server->Clients);
    const common::DateTime now = common::Now();
    for (const auto& player : server->Clients->items()) {
      const auto found = server->PacketBuffer->GetConnectionStats(
          static_cast<std::uint32_t>(player->PlayerId));
      const transport::ConnectionStats stats = found.value_or(transport::ConnectionStats{});
      const std::string address =
          session.LoggedIn && found ? stats.peer_address : std::string("0.0.0.0");
      TabLine line;
      line << player->PlayerId << player->ChannelId << stats.packets_sent << stats.bytes_sent
           << stats.packets_received << stats.bytes_received << stats.loss << stats.ping
           << common::SecondsBetween(player->LoginTime, now)
           << common::SecondsBetween(player->LastPacketTime, now) << player->ChannelPrivileges
           << player->Privileges << static_cast<std::int32_t>(player->PlayerFlags) << address
           << player->NickName.str() << player->LoginName.str();
      session.ReplyLine(line.text());
    }
  }
  session.ReplyOK();
}

void HandleCl(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  if (server->Channels) {
    std::lock_guard channels(*server->Channels);
    for (const auto& channel : server->Channels->items()) {
      TabLine line;
      line << channel->ID << channel->Codec << channel->Parent << channel->Order
           << channel->MaxUsers << channel->Name.str() << channel->Flags
           << (channel->Password.empty() ? "0" : "1");
      session.ReplyLine(line.text() + channel->Topic.str());
    }
  }
  session.ReplyOK();
}

void HandleVer(QuerySession& session, const QueryRequest&) {
  session.ReplyLine(host::VersionNumber() + " " + host::PlatformText());
  session.ReplyOK();
}

void HandleSel(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  session.SelectedServer.reset();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  session.SelectedServer = QuerySession::RefOf(*server);
  session.ReplyOK();
}

void HandleSi(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  const protocol::ServerData& d = server->Data;
  const transport::BufferStats stats =
      server->PacketBuffer ? server->PacketBuffer->GetBufferStats() : transport::BufferStats{};
  std::size_t channel_count = 0;
  if (server->Channels) {
    std::lock_guard channels(*server->Channels);
    channel_count = server->Channels->Count();
  }
  const int user_count = session.servers().ServerClientCount(*server);

  session.ReplyLine("server_id=" + server->Key);
  session.ReplyLine("server_name=" + d.ServerName.str());
  session.ReplyLine("server_platform=" + d.Platform.str());
  session.ReplyLine("server_welcomemessage=" + d.WelcomeMessage.str());
  session.ReplyLine("server_webpost_linkurl=" + d.LinkURL.str());
  session.ReplyLine(d.Password.empty() ? "server_password=0" : "server_password=1");
  session.ReplyLine("server_udpport=" + ArgText(d.UDPPort));
  session.ReplyLine("server_maxusers=" + ArgText(d.MaxUsers));
  session.ReplyLine(std::string("server_codeccelp51=") + CodecText(d.AllowCodecCelp51));
  session.ReplyLine(std::string("server_codeccelp63=") + CodecText(d.AllowCodecCelp63));
  session.ReplyLine(std::string("server_codecgsm148=") + CodecText(d.AllowCodecGSM148));
  session.ReplyLine(std::string("server_codecgsm164=") + CodecText(d.AllowCodecGSM164));
  session.ReplyLine(std::string("server_codecwindowscelp52=") +
                    CodecText(d.AllowCodecWindowsCELP52));
  session.ReplyLine("server_packetssend=" + ArgText(stats.packets_sent));
  session.ReplyLine("server_bytessend=" + ArgText(stats.bytes_sent));
  session.ReplyLine("server_packetsreceived=" + ArgText(stats.packets_received));
  session.ReplyLine("server_bytesreceived=" + ArgText(stats.bytes_received));
  session.ReplyLine("server_uptime=" + ArgText(common::SecondsBetween(d.StartTime, common::Now())));
  session.ReplyLine("server_currentusers=" + ArgText(user_count));
  session.ReplyLine("server_currentchannels=" + ArgText(channel_count));
  session.ReplyOK();
}

void HandleMsg(QuerySession& session, const QueryRequest& request) {
  if (!session.RequireLogin()) return;
  auto lock = session.servers().Lock();
  ServerObject* server = session.ResolveServer(request);
  if (!server) return;
  Broadcast(*server, MessageText(request));
  session.ReplyOK();
}

void HandleMsgAll(QuerySession& session, const QueryRequest& request) {
  if (!session.RequireLogin()) return;
  const std::string text = MessageText(request);
  auto lock = session.servers().Lock();
  for (ServerObject* server : session.SnapshotServers()) Broadcast(*server, text);
  session.ReplyOK();
}

// Starts the listed server of a port when it is not running: the undo of
// `stop`. With a selection the port is the selected server's, also when that
// server was stopped; the started server is then selected again.
void HandleStart(QuerySession& session, const QueryRequest& request) {
  if (!session.RequireLogin()) return;
  auto lock = session.servers().Lock();
  host::VirtualServerList& servers = session.servers();
  std::int32_t port = 0;
  if (session.SelectedServer) {
    if (session.Live(*session.SelectedServer)) return session.ReplyOK();
    port = session.SelectedServer->port;
  } else {
    if (request.Count() == 0) return session.ReplyError(kErrParamCount);
    const std::optional<std::int32_t> parsed = ParseDecimal(request.Param(1));
    if (!parsed) return session.ReplyError(kErrConvert);
    if (*parsed <= 0) return session.ReplyError(kErrInvalidPort);
    port = *parsed;
  }
  if (servers.FindServerByPort(port)) return session.ReplyOK();

  const std::string& config_path = session.env().config_path;
  if (!host::ConfigFileUsable(config_path)) return session.ReplyError(kErrPortNotFound);
  common::IniFile ini(config_path);
  const std::string key = ListedServerOfPort(servers, ini, port);
  if (key.empty()) return session.ReplyError(kErrPortNotFound);
  ServerObject* started = servers.StartServer(std::make_unique<ServerObject>(), key, -1, &ini);
  if (!started) return session.ReplyError("unable to initialize server");
  session.TakeSnapshot();
  if (session.SelectedServer) session.SelectedServer = QuerySession::RefOf(*started);
  session.ReplyOK();
}

void HandleStop(QuerySession& session, const QueryRequest& request) {
  StopOrRestart(session, request, &host::VirtualServerList::StopAndFreeServers);
}

void HandleRestart(QuerySession& session, const QueryRequest& request) {
  StopOrRestart(session, request, &host::VirtualServerList::RestartServers);
}

void HandleAddServer(QuerySession& session, const QueryRequest& request) {
  if (!session.RequireLogin()) return;
  if (request.Count() < 2) return session.ReplyError(kErrParamCount);
  const std::optional<std::int32_t> port = ParseDecimal(request.Param(2));
  if (!port || *port <= 0 || *port > 65535 || !ValidServerName(request.Param(1))) {
    return session.ReplyError("parameters invalid");
  }
  auto lock = session.servers().Lock();
  host::VirtualServerList& servers = session.servers();
  if (servers.FindServerByPort(*port)) return session.ReplyError("serverport already running");

  const std::string key = std::string(kServerKeyPrefix) + request.Param(1);
  ServerObject* started = servers.StartServer(std::make_unique<ServerObject>(), key, *port, nullptr);
  if (!started) return session.ReplyError("unable to initialize server");

  const std::string& config_path = session.env().config_path;
  if (!host::ConfigFileUsable(config_path)) {
    LogFmt(lmtError, lmdAll, "SERVER", "Start_Voxhall_Server: unable to open server config file: %1 ",
           config_path);
    return session.ReplyError("unable to save server");
  }
  common::IniFile ini(config_path);
  int index = 0;
  while (!ini.ReadString(kServersSection, std::to_string(index), "").empty()) ++index;
  ini.WriteString(kServersSection, std::to_string(index), key);
  if (!host::FlushConfig(ini)) return session.ReplyError("unable to save server");

  session.TakeSnapshot();
  session.SelectedServer = QuerySession::RefOf(*started);
  session.ReplyOK();
}

void HandleSet(QuerySession& session, const QueryRequest& request) {
  if (!session.RequireLogin()) return;
  auto lock = session.servers().Lock();
  ServerObject* server = session.SelectedOrError();
  if (!server) return;
  if (request.Count() < 2) return session.ReplyError(kErrParamCount);

  // The change goes into a copy that is saved and then read back by the
  // restart: the running server's settings are read by its listener thread
  // and are never written while it runs.
  ServerObject changed;
  changed.Key = server->Key;
  if (server->Clients) {
    std::lock_guard players(*server->Clients);  // guards NextPlayerId
    changed.Data = server->Data;
  } else {
    changed.Data = server->Data;
  }
  protocol::ServerData& d = changed.Data;
  const std::string variable = common::LowerCase(request.Param(1));
  const std::string& value = request.Param(2);
  if (variable == "maxuser") {
    const std::optional<std::int32_t> limit = ParseDecimal(value);
    if (!limit || *limit < 0 || *limit > 65535) return session.ReplyError(kErrConvert);
    d.MaxUsers = static_cast<std::uint16_t>(*limit);
  } else if (variable == "serverpassword") {
    d.Password = value == "#CLEAR#" ? std::string() : value;
  } else if (variable == "servername") {
    d.ServerName = request.JoinFrom(2);
  } else if (variable == "serverwelcomemsg") {
    d.WelcomeMessage = request.JoinFrom(2);
  } else if (variable == "webpostlinkurl") {
    d.LinkURL = value;
  } else {
    return session.ReplyError("unknown variable");
  }
  session.servers().SaveServerConfig(changed, nullptr);
  session.servers().RestartServers(changed.Key);
  session.ReplyOK();
}

}  // namespace voxhall::query
