// The query interface's commands in the order they are matched, with the
// help text of each: the one table the request loop and `help` read.
#pragma once

#include <span>
#include <string_view>

#include "query/query_session.h"

namespace voxhall::query {

using QueryHandler = void (*)(QuerySession& session, const QueryRequest& request);

struct QueryCommand {
  std::string_view name;
  QueryHandler handler;  // null: the command closes the connection without a reply
  std::string_view help;
};

// In matching order: sl, pl, cl, ver, sel, si, msg, msgall, start, stop,
// restart, addserver, set, login, adduser, deluser, changeuserpw,
// changeuserrights, listuser, help, quit.
std::span<const QueryCommand> QueryCommands();

// Handlers of the session commands (session_commands.cpp).
void HandleLogin(QuerySession& session, const QueryRequest& request);
void HandleHelp(QuerySession& session, const QueryRequest& request);

// Handlers of the server commands (server_commands.cpp).
void HandleSl(QuerySession& session, const QueryRequest& request);
void HandlePl(QuerySession& session, const QueryRequest& request);
void HandleCl(QuerySession& session, const QueryRequest& request);
void HandleVer(QuerySession& session, const QueryRequest& request);
void HandleSel(QuerySession& session, const QueryRequest& request);
void HandleSi(QuerySession& session, const QueryRequest& request);
void HandleMsg(QuerySession& session, const QueryRequest& request);
void HandleMsgAll(QuerySession& session, const QueryRequest& request);
void HandleStart(QuerySession& session, const QueryRequest& request);
void HandleStop(QuerySession& session, const QueryRequest& request);
void HandleRestart(QuerySession& session, const QueryRequest& request);
void HandleAddServer(QuerySession& session, const QueryRequest& request);
void HandleSet(QuerySession& session, const QueryRequest& request);

// Handlers of the user-account commands (account_commands.cpp).
void HandleAddUser(QuerySession& session, const QueryRequest& request);
void HandleDelUser(QuerySession& session, const QueryRequest& request);
void HandleChangeUserPw(QuerySession& session, const QueryRequest& request);
void HandleChangeUserRights(QuerySession& session, const QueryRequest& request);
void HandleListUser(QuerySession& session, const QueryRequest& request);

}  // namespace voxhall::query
