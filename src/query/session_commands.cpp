// The session commands: `login` and `help` (`quit` needs no handler; the
// command table marks it as closing the connection).
#include <algorithm>
#include <string>

#include "log/log.h"
#include "protocol/client_object.h"
#include "query/command_table.h"
#include "storage/user_store.h"

namespace voxhall::query {

using namespace voxhall::log;

namespace {

constexpr std::string_view kCategory = "TCPQUERY";
constexpr std::size_t kHelpNameWidth = 20;

// Whether some running server's user store holds `login_name` with exactly
// this password and the super-server-admin right. A store that fails to
// answer counts as not holding the account.
bool AcceptsLogin(QuerySession& session, const std::string& login_name,
                  const std::string& password) {
  storage::FreeBase* database = session.env().database;
  if (!database) return false;
  auto lock = session.servers().Lock();
  for (const ServerObject* server : session.servers().ListServers()) {
    const auto user = storage::LoadUser(*database, login_name, server->Key, false);
    if (user && user->password.str() == password &&
        (user->privileges & protocol::kPrivilegeSuperServerAdmin) != 0) {
      return true;
    }
  }
  return false;
}

void HelpLine(QuerySession& session, const QueryCommand& command) {
  std::string line(command.name);
  line.resize(std::max(line.size(), kHelpNameWidth), ' ');
  session.ReplyLine(line + ": " + std::string(command.help));
}

}  // namespace

void HandleLogin(QuerySession& session, const QueryRequest& request) {
  // Every login attempt, even a malformed one, logs the connection out first.
  session.LoggedIn = false;
  if (request.Count() != 2) return session.ReplyError(kErrParamCount);
  if (AcceptsLogin(session, request.Param(1), request.Param(2))) {
    session.LoggedIn = true;
    Log(lmtAll, lmdInfo, kCategory, "query login accepted from " + session.peer_address());
    return session.ReplyOK();
  }
  // The pause makes guessing slow; the warning names the peer so that an
  // operator's tools can block it.
  if (session.env().failed_login_pause) session.env().failed_login_pause();
  Log(lmtWarning, lmdImportant, kCategory, "invalid query login from " + session.peer_address());
  session.ReplyError("invalid login");
}

void HandleHelp(QuerySession& session, const QueryRequest&) {
  session.ReplyLine("command overview: ");
  const auto commands = QueryCommands();
  for (const QueryCommand& command : commands) {
    if (command.handler == HandleHelp) HelpLine(session, command);
  }
  for (const QueryCommand& command : commands) {
    if (command.handler != HandleHelp) HelpLine(session, command);
  }
  session.ReplyOK();
}

}  // namespace voxhall::query
