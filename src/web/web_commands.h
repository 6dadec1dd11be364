// The commands of the web administration: requests for documents whose name
// ends in ".vhcmd", sent by the site's forms and links. LOGIN and LOGOUT
// move the session in and out; SETTINGS_SERVER, ASK_DELETE_CLIENT,
// DELETE_CLIENT, ADD_CLIENT and EDIT_CLIENT change the administered server
// and its accounts and answer with a result box.
//
// Thread safety: runs on any HTTP thread. Lock order: the session lock, then
// the configuration-file lock, then the ServerList lock.
#pragma once

#include "web/web_request.h"

namespace voxhall::web {

// Runs the command named by the request's document ("/LOGIN.vhcmd" is
// "LOGIN.VHCMD"; letter case ignored). An unknown name changes nothing and
// leaves the response empty.
void Progress_COMMAND(const WebRequest& request, WebResponse& response);

}  // namespace voxhall::web
