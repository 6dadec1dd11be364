#include "query/command_table.h"

namespace voxhall::query {

namespace {

constexpr QueryCommand kCommands[] = {
    {"sl", HandleSl, "serverlist"},
    {"pl", HandlePl, "playerlist"},
    {"cl", HandleCl, "channellist"},
    {"ver", HandleVer, "version"},
    {"sel", HandleSel, "select"},
    {"si", HandleSi, "server information"},
    {"msg", HandleMsg, "message to server"},
    {"msgall", HandleMsgAll, "message to all servers"},
    {"start", HandleStart, "start server"},
    {"stop", HandleStop, "stop server"},
    {"restart", HandleRestart, "restarts a server"},
    {"addserver", HandleAddServer, "adds a server"},
    {"set", HandleSet, "set a server variable"},
    {"login", HandleLogin, "login to server"},
    {"adduser", HandleAddUser, "adds a user to server"},
    {"deluser", HandleDelUser, "deletes a user from server"},
    {"changeuserpw", HandleChangeUserPw, "changes password of a user"},
    {"changeuserrights", HandleChangeUserRights, "changes rights of a user"},
    {"listuser", HandleListUser, "display online users of a server"},
    {"help", HandleHelp, "this helpfile"},
    {"quit", nullptr, "close connection"},
};

}  // namespace

std::span<const QueryCommand> QueryCommands() { return kCommands; }

}  // namespace voxhall::query
