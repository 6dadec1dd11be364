#include "web/web_commands.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/text.h"
#include "host/server_list.h"
#include "log/log.h"
#include "storage/server_database.h"
#include "storage/user_store.h"
#include "web/check_login.h"
#include "web/result_boxes.h"

namespace voxhall::web {

using namespace voxhall::log;

namespace {

constexpr const char* kCategory = "WEBINTERFACE";
constexpr const char* kErrorTitle = "error occured";
constexpr const char* kOkTitle = "operation successfully";
constexpr const char* kIndex = "index.html";

constexpr std::uint16_t kRightServerAdmin = 1;
constexpr std::uint16_t kRightSuperServerAdmin = 8;
constexpr std::uint16_t kFlagAnyoneRegistersUser = 1;
constexpr std::uint16_t kFlagAnyoneRegistersChannel = 2;
constexpr std::uint16_t kServerTypeClanReported = 5;
constexpr std::uint16_t kServerTypePublicReported = 6;

// A failed login is answered only after this pause, which slows down
// guessing on one connection.
constexpr std::chrono::seconds kFailedLoginPause{1};

void CloseAfter(WebResponse& response) { response.close_connection = true; }

void Logout(HttpSession& session, WebResponse& response) {
  {
    auto lock = session.Lock();
    for (const char* name : {"password", "username", "serverport", "serverid"}) {
      session.Remove(name);
    }
    session.Set("superadmin", "0");
    session.Set("loggedin", "0");
  }
  response.Redirect("login.html");
  CloseAfter(response);
}

void Login(const WebRequest& request, WebResponse& response) {
  HttpSession& session = *request.session;
  {
    auto lock = session.Lock();
    session.Remove("password");
    session.Remove("username");
    session.Set("serverport", "0");
    session.Set("loggedin", "0");
  }
  const std::string username = request.CommandParam("username");
  const std::string password = request.CommandParam("password");
  const std::string serverport = request.CommandParam("serverport");
  CloseAfter(response);
  if (CheckLogin(session, username, password, serverport)) {
    {
      auto lock = session.Lock();
      session.Set("password", password);
      session.Set("username", username);
      session.Set("serverport", serverport);
      session.Set("loggedin", "1");
    }
    Log(lmtAll, lmdInfo, kCategory, "web login of " + username + " from " + request.remote_address);
    response.Redirect("index.html");
    return;
  }
  Log(lmtWarning, lmdImportant, kCategory, "invalid web login from " + request.remote_address);
  std::this_thread::sleep_for(kFailedLoginPause);
  response.Redirect("login.html");
}

// "1" clears `bit`, "2" sets it, anything else leaves it.
void ApplyFlag(std::uint16_t& flags, std::uint16_t bit, const std::string& value) {
  if (value == "1") flags = static_cast<std::uint16_t>(flags & ~bit);
  if (value == "2") flags = static_cast<std::uint16_t>(flags | bit);
}

void SettingsServer(const WebRequest& request, WebResponse& response, const std::string& key) {
  // Holds the configuration file and the list for the whole change.
  auto list_lock = host::ServerList->Lock();
  const host::ServerObject* running = host::ServerList->FindServerByKey(key);
  if (!running) {
    DisplayError(response, kErrorTitle, "your selected server is invalid", kIndex);
    return;
  }
  // The running server's listener reads its settings at any time, so the
  // change is made on a copy, written to its section, and applied by the
  // restart, which reads the section again. Only the settings the request
  // does not replace are copied: the listener writes its run-time counters
  // meanwhile.
  host::ServerObject changed;
  changed.Key = running->Key;
  protocol::ServerData& d = changed.Data;
  const protocol::ServerData& now = running->Data;
  d.UDPPort = now.UDPPort;
  d.ServerType = now.ServerType;
  d.MaxUsers = now.MaxUsers;
  d.ServerFlags = now.ServerFlags;
  const auto p = [&request](const char* name) { return request.CommandParam(name); };

  d.ServerName = p("SERVERNAME");
  d.WelcomeMessage = p("SERVERWELCOMEMESSAGE");
  const std::string max_users = p("SERVERMAXUSERS");
  std::uint16_t parsed = 0;
  const auto [end, error] =
      std::from_chars(max_users.data(), max_users.data() + max_users.size(), parsed);
  if (!max_users.empty() && error == std::errc() && end == max_users.data() + max_users.size()) {
    d.MaxUsers = parsed;
  }
  d.Password = common::Trim(p("SERVERPASSWORD"));
  const std::string type = p("SERVERTYPE");
  if (type == "1") d.ServerType = kServerTypeClanReported;
  if (type == "2") d.ServerType = kServerTypePublicReported;
  ApplyFlag(d.ServerFlags, kFlagAnyoneRegistersUser, p("SERVERREGISTERTYPE"));
  ApplyFlag(d.ServerFlags, kFlagAnyoneRegistersChannel, p("SERVERREGISTERCHANNELMODE"));
  d.AllowCodecCelp51 = p("CODECCelp51") == "1";
  d.AllowCodecCelp63 = p("CODECCelp63") == "1";
  d.AllowCodecGSM148 = p("CODECGSM148") == "1";
  d.AllowCodecGSM164 = p("CODECGSM164") == "1";
  d.AllowCodecWindowsCELP52 = p("CODECWindowsCELP52") == "1";
  d.LinkURL = common::Trim(p("SERVERWEBPOSTLINKURL"));

  host::ServerList->SaveServerConfig(changed, nullptr);
  host::ServerList->RestartServers(key);
  DisplayOK(response, kOkTitle, "server config was changed and will be restarted now", kIndex);
}

void AskDeleteClient(const WebRequest& request, WebResponse& response) {
  const std::string client = request.CommandParam("CLIENT");
  request.session->Set("CLIENT_TO_DELETE", client);
  DisplayChoice(response, "please choose", common::Format("you really want do delete %1", client),
                "DELETE_CLIENT.VHCMD?client=" + PercentEncode(client), kIndex, "yes", "no");
}

void DeleteClient(const WebRequest& request, WebResponse& response, const std::string& key) {
  HttpSession& session = *request.session;
  const std::string client = session.Get("CLIENT_TO_DELETE");
  if (storage::ServerDatabase && storage::DeleteUser(*storage::ServerDatabase, client, key)) {
    DisplayOK(response, kOkTitle, common::Format("user %1 deleted", client), kIndex);
  } else {
    DisplayError(response, kErrorTitle,
                 common::Format("user %1 not deleted, user was not found in database", client),
                 kIndex);
  }
  session.Remove("CLIENT_TO_DELETE");
}

void AddClient(const WebRequest& request, WebResponse& response, const std::string& key) {
  const HttpSession& session = *request.session;
  const std::string password = request.CommandParam("CLIENTPW1");
  if (password != request.CommandParam("CLIENTPW2")) {
    DisplayError(response, kErrorTitle, "the passwords dont match", kIndex);
    return;
  }
  storage::StoredUser user;
  const std::string login_name = request.CommandParam("CLIENTLOGINNAME");
  user.login_name = login_name;
  user.password = password;
  user.registered_by = session.Get("username");
  if (request.CommandParam("CLIENTSERVERADMIN") == "1") user.privileges |= kRightServerAdmin;
  if (session.Get("superadmin") == "1" && request.CommandParam("CLIENTSUPERSERVERADMIN") == "1") {
    user.privileges |= kRightSuperServerAdmin;
  }
  if (storage::ServerDatabase && storage::AddUser(*storage::ServerDatabase, user, key)) {
    DisplayOK(response, kOkTitle, common::Format("the user %1 was added to server", login_name),
              kIndex);
  } else {
    DisplayError(response, kErrorTitle, "a user with name already exists", kIndex);
  }
}

void EditClient(const WebRequest& request, WebResponse& response, const std::string& key) {
  HttpSession& session = *request.session;
  const std::string client = request.CommandParam("CLIENT");
  std::optional<storage::StoredUser> user;
  if (storage::ServerDatabase) user = storage::LoadUser(*storage::ServerDatabase, client, key, false);
  if (!user) {
    // Nothing to edit: say so instead of reporting a change.
    DisplayError(response, kErrorTitle,
                 common::Format("user %1 not edited, user was not found in database", client),
                 kIndex);
    return;
  }
  const std::string password = request.CommandParam("CLIENTPW1");
  if (!password.empty()) {
    if (password != request.CommandParam("CLIENTPW2")) {
      DisplayError(response, kErrorTitle, "the passwords dont match", kIndex);
      return;
    }
    user->password = password;
    auto lock = session.Lock();
    if (session.Get("username") == user->login_name.str()) session.Set("password", password);
  }
  auto set_right = [&](std::uint16_t right, bool on) {
    user->privileges = static_cast<std::uint16_t>(on ? user->privileges | right
                                                     : user->privileges & ~right);
  };
  set_right(kRightServerAdmin, request.CommandParam("CLIENTSERVERADMIN") == "1");
  if (session.Get("superadmin") == "1") {
    set_right(kRightSuperServerAdmin, request.CommandParam("CLIENTSUPERSERVERADMIN") == "1");
  }
  storage::SaveUser(*storage::ServerDatabase, *user, key);
  DisplayOK(response, kOkTitle, common::Format("the user %1 was edited", client), kIndex);
}

}  // namespace

void Progress_COMMAND(const WebRequest& request, WebResponse& response) {
  try {
    const std::string command =
        request.document.empty() ? std::string() : common::UpperCase(request.document.substr(1));
    if (command == "LOGOUT.VHCMD") return Logout(*request.session, response);
    if (command == "LOGIN.VHCMD") return Login(request, response);

    const std::string server_id = request.session->Get("serverid");
    std::string key;
    if (host::ServerList && host::ServerList->FindServerByKey(server_id)) key = server_id;
    if (key.empty()) {
      DisplayError(response, kErrorTitle, "your selected server is invalid", kIndex);
      return;
    }
    if (command == "SETTINGS_SERVER.VHCMD") return SettingsServer(request, response, key);
    if (command == "ASK_DELETE_CLIENT.VHCMD") return AskDeleteClient(request, response);
    if (command == "DELETE_CLIENT.VHCMD") return DeleteClient(request, response, key);
    if (command == "ADD_CLIENT.VHCMD") return AddClient(request, response, key);
    if (command == "EDIT_CLIENT.VHCMD") return EditClient(request, response, key);
  } catch (const std::exception& e) {
    LogException(kCategory, "Progress_COMMAND", e.what());
  }
}

}  // namespace voxhall::web
