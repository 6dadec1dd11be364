// The user-account commands: adduser, deluser, changeuserpw,
// changeuserrights and listuser, on the accounts of the selected server.
//
// Each holds the server list's lock, so that the selected server cannot be
// stopped while its accounts change, and a read-modify-write holds the
// database's lock across the read and the write, so that changes arriving
// at once from several connections are applied one after the other.
#include <string>

#include "protocol/client_object.h"
#include "query/command_table.h"
#include "storage/user_store.h"

namespace voxhall::query {

namespace {

constexpr std::string_view kErrUserNotFound = "user not found";

// The three checks every account command starts with; the selected server,
// or null after the error reply. REQUIRES: the server list's lock.
ServerObject* AccountTarget(QuerySession& session, const QueryRequest& request,
                            std::size_t min_params) {
  if (!session.RequireLogin()) return nullptr;
  ServerObject* server = session.SelectedOrError();
  if (!server) return nullptr;
  if (request.Count() < min_params) {
    session.ReplyError(kErrParamCount);
    return nullptr;
  }
  return server;
}

bool SwitchOn(const std::string& parameter) { return parameter == "1"; }

std::uint16_t WithRight(std::uint16_t privileges, std::uint16_t right, bool on) {
  return static_cast<std::uint16_t>(on ? privileges | right : privileges & ~right);
}

// Reads the account, lets `change` alter it and writes it back, holding the
// database's lock from the read to the write.
template <typename Change>
void ChangeUser(QuerySession& session, const ServerObject& server, const std::string& login_name,
                Change change) {
  storage::FreeBase* database = session.env().database;
  if (!database) return session.ReplyError(kErrUserNotFound);
  auto database_lock = database->Lock();
  auto user = storage::LoadUser(*database, login_name, server.Key, false);
  if (!user) return session.ReplyError(kErrUserNotFound);
  change(*user);
  // A failed save is logged by the store; the reply does not depend on it.
  storage::SaveUser(*database, *user, server.Key);
  session.ReplyOK();
}

}  // namespace

void HandleAddUser(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = AccountTarget(session, request, 4);
  if (!server) return;
  storage::StoredUser user;
  user.login_name = request.Param(1);
  user.password = request.Param(2);
  user.privileges = WithRight(0, protocol::kPrivilegeServerAdmin, SwitchOn(request.Param(3)));
  user.privileges =
      WithRight(user.privileges, protocol::kPrivilegeSuperServerAdmin, SwitchOn(request.Param(4)));
  user.registered_by = "Server";
  storage::FreeBase* database = session.env().database;
  if (!database || !storage::AddUser(*database, user, server->Key)) {
    return session.ReplyError("duplicate user");
  }
  session.ReplyOK();
}

void HandleDelUser(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = AccountTarget(session, request, 1);
  if (!server) return;
  storage::FreeBase* database = session.env().database;
  if (!database || !storage::DeleteUser(*database, request.Param(1), server->Key)) {
    return session.ReplyError(kErrUserNotFound);
  }
  session.ReplyOK();
}

void HandleChangeUserPw(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = AccountTarget(session, request, 3);
  if (!server) return;
  if (request.Param(2) != request.Param(3)) return session.ReplyError("password dont match");
  ChangeUser(session, *server, request.Param(1),
             [&](storage::StoredUser& user) { user.password = request.Param(2); });
}

void HandleChangeUserRights(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = AccountTarget(session, request, 3);
  if (!server) return;
  ChangeUser(session, *server, request.Param(1), [&](storage::StoredUser& user) {
    user.privileges =
        WithRight(user.privileges, protocol::kPrivilegeServerAdmin, SwitchOn(request.Param(2)));
    user.privileges = WithRight(user.privileges, protocol::kPrivilegeSuperServerAdmin,
                                SwitchOn(request.Param(3)));
  });
}

void HandleListUser(QuerySession& session, const QueryRequest& request) {
  auto lock = session.servers().Lock();
  ServerObject* server = AccountTarget(session, request, 0);
  if (!server) return;
  storage::FreeBase* database = session.env().database;
  const auto names = database ? storage::GetUserNames(*database, server->Key) : std::nullopt;
  if (!names) return session.ReplyError("no users avaible");
  for (const std::string& name : *names) session.ReplyLine(name);
  session.ReplyOK();
}

}  // namespace voxhall::query
