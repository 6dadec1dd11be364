#include "query/query_session.h"

#include <algorithm>

#include "query/command_table.h"

namespace voxhall::query {

QuerySession::QuerySession(const QueryEnvironment& environment, std::string peer_address)
    : env_(environment), peer_address_(std::move(peer_address)) {
  TakeSnapshot();
}

bool QuerySession::HandleLine(std::string_view line) {
  if (line.empty()) return true;
  std::string param_text;
  for (const QueryCommand& command : QueryCommands()) {
    if (!MatchCommand(line, command.name, param_text)) continue;
    if (command.handler == nullptr) return false;
    QueryRequest request;
    request.params = SplitParameters(param_text);
    request.param_text = std::move(param_text);
    command.handler(*this, request);
    return true;
  }
  ReplyLine("error");
  return true;
}

std::string QuerySession::TakeReply() {
  std::string out;
  out.swap(reply_);
  return out;
}

void QuerySession::ReplyLine(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      reply_ += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      reply_ += "\r\n";
    } else {
      reply_ += c;
    }
  }
  reply_ += "\r\n";
}

void QuerySession::ReplyError(std::string_view reason) {
  ReplyLine("ERROR, " + std::string(reason));
}

bool QuerySession::RequireLogin() {
  if (LoggedIn) return true;
  ReplyError(kErrNotLoggedIn);
  return false;
}

ServerObject* QuerySession::Live(const ServerRef& ref) const {
  auto lock = servers().Lock();
  for (ServerObject* server : servers().ListServers()) {
    if (server->Serial == ref.serial) return server;
  }
  return nullptr;
}

ServerRef QuerySession::RefOf(const ServerObject& server) {
  return ServerRef{server.Serial, server.Key, server.Data.UDPPort};
}

void QuerySession::TakeSnapshot() {
  auto lock = servers().Lock();
  ServerSnapshot.clear();
  for (const ServerObject* server : servers().ListServers()) {
    ServerSnapshot.push_back(RefOf(*server));
  }
}

std::vector<ServerObject*> QuerySession::SnapshotServers() {
  auto lock = servers().Lock();
  std::vector<ServerObject*> out;
  std::erase_if(ServerSnapshot, [&](const ServerRef& ref) {
    ServerObject* server = Live(ref);
    if (server) out.push_back(server);
    return server == nullptr;
  });
  return out;
}

ServerObject* QuerySession::SelectedOrError() {
  ServerObject* server = SelectedServer ? Live(*SelectedServer) : nullptr;
  if (!server) ReplyError(kErrNoServerSelected);
  return server;
}

ServerObject* QuerySession::ResolveServer(const QueryRequest& request) {
  if (SelectedServer) {
    // A selection whose server was stopped meanwhile is answered as a port
    // that is not there; the selection itself stays until the next sel.
    ServerObject* server = Live(*SelectedServer);
    if (!server) ReplyError(kErrPortNotFound);
    return server;
  }
  if (request.Count() == 0) {
    ReplyError(kErrParamCount);
    return nullptr;
  }
  const std::optional<std::int32_t> port = ParseDecimal(request.Param(1));
  if (!port) {
    ReplyError(kErrConvert);
    return nullptr;
  }
  if (*port <= 0) {
    ReplyError(kErrInvalidPort);
    return nullptr;
  }
  for (ServerObject* server : SnapshotServers()) {
    if (server->Data.UDPPort == *port) return server;
  }
  ReplyError(kErrPortNotFound);
  return nullptr;
}

}  // namespace voxhall::query
