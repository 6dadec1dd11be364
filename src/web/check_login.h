// The login check of the web administration, run by LOGIN and again for
// every request of a logged-in session: the login name and password must
// belong to an account with the super-server-admin right on any running
// virtual server, and the port must be that of a running virtual server,
// which the session then administers.
#pragma once

#include <string_view>

#include "web/web_session.h"

namespace voxhall::web {

// Cuts each text to 29 characters; under the session's lock, clears
// "serverid" and sets "superadmin" to "0", then on success sets
// "superadmin" to "1" and "serverid" to the key of the server with that
// UDP port. Takes the ServerList lock inside the session lock.
bool CheckLogin(HttpSession& session, std::string_view login_name, std::string_view password,
                std::string_view port_text);

}  // namespace voxhall::web
