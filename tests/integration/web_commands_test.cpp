// The seven web commands and their result boxes through the real binary:
// settings that restart the server, and adding, editing and deleting
// accounts, with the exact redirect of each answer.
#include <gtest/gtest.h>

#include "common/ini_file.h"
#include "web_fixture.h"

namespace voxhall::testing {
namespace {

const std::map<std::string, std::string> kSite = {
    {"login.html", "login"},
    {"index.html", "name=%%SERVERNAME%%|max=%%SERVERMAXUSERS%%|welcome=%%SERVERWELCOMEMESSAGE%%"},
    {"ok_box.html", "OK[%%OK_TITLE%%|%%OK_TEXT%%|%%OK_URL%%]"},
    {"error_box.html", "ERROR[%%ERROR_TITLE%%|%%ERROR_TEXT%%|%%ERROR_URL%%]"},
    {"choice_box.html",
     "CHOICE[%%CHOICE_TITLE%%|%%CHOICE_TEXT%%|%%CHOICE_URL_YES%%|%%CHOICE_URL_NO%%|"
     "%%CHOICE_YES%%|%%CHOICE_NO%%]"},
    {"database_client_manager_clientlist.html", ""},
};

class WebCommandsTest : public ::testing::Test {
 protected:
  WebServer server_{kSite};
  Browser browser_{server_.http_port};

  void SetUp() override { ASSERT_EQ(browser_.LoginAdmin(Port()), "index.html"); }
  int Port() { return server_.udp_ports["server_cfg A"]; }

  // Sends the command and follows its redirect to the rendered box.
  std::string Box(const std::string& command, const Params& params) {
    auto r = browser_.Post("/" + command, params);
    if (r.status != 302) return "status " + std::to_string(r.status) + ": " + r.body;
    EXPECT_EQ(r.Header("Connection"), "close");
    return browser_.Get("/" + r.Header("Location")).body;
  }
  std::string Ini(const std::string& key) {
    return common::IniFile(server_.dir.File("server.ini")).ReadString("server_cfg A", key, "?");
  }
};

TEST_F(WebCommandsTest, SettingsServerSavesAndRestartsTheServer) {
  auto r = browser_.Post("/SETTINGS_SERVER.VHCMD",
                         {{"SERVERNAME", "New <Name>"},
                          {"SERVERWELCOMEMESSAGE", "first line\r\nsecond line"},
                          {"SERVERMAXUSERS", "40"},
                          {"SERVERPASSWORD", "  pw  "},
                          {"SERVERTYPE", "2"},
                          {"SERVERREGISTERTYPE", "2"},
                          {"SERVERREGISTERCHANNELMODE", "1"},
                          {"CODECCelp51", "1"},
                          {"CODECWindowsCELP52", "1"},
                          {"SERVERWEBPOSTLINKURL", " http://x.invalid/ "}});
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"),
            "ok_box.html?ok_title=operation%20successfully&ok_text=server%20config%20was%20changed"
            "%20and%20will%20be%20restarted%20now&ok_url=index.html");
  const std::pair<const char*, const char*> written[] = {
      {"ServerName", "New <Name>"}, {"ServerWelcomeMessage", "first line"},
      {"ServerMaxUsers", "40"},     {"ServerPassword", "pw"},
      {"ServerType", "6"},          {"ServerFlags", "1"},
      {"AllowCodecCelp51", "1"},    {"AllowCodecCelp63", "0"},
      {"AllowCodecGSM148", "0"},    {"AllowCodecGSM164", "0"},
      {"AllowCodecWindowsCELP52", "1"}, {"WebPost_LinkURL", "http://x.invalid/"},
  };
  for (const auto& [key, value] : written) EXPECT_EQ(Ini(key), value) << key;
  const std::string log = server_.Log();
  const std::string started = "Starting server with port: " + std::to_string(Port());
  EXPECT_NE(log.find(started, log.find(started) + 1), std::string::npos) << "no restart";
  // The restart keeps the server's key, so the session goes on with it.
  EXPECT_EQ(browser_.Get("/").body, "name=New &lt;Name&gt;|max=40|welcome=first line");

  // Missing fields empty the name and forbid the codecs; a maximum that is
  // no number in range keeps the old one.
  for (const char* max : {"abc", "70000", "-1"}) {
    browser_.Post("/settings_server.vhcmd", {{"SERVERMAXUSERS", max}});
    EXPECT_EQ(browser_.Get("/").body, "name=|max=40|welcome=") << max;
  }
  EXPECT_EQ(Ini("AllowCodecCelp51"), "0");
  EXPECT_EQ(Ini("ServerType"), "6");
  EXPECT_EQ(Ini("ServerFlags"), "1");
}

TEST_F(WebCommandsTest, AccountsAreAddedEditedAndDeleted) {
  EXPECT_EQ(Box("ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "Tom & Jerry #1+2"},
                                     {"CLIENTPW1", "a"},
                                     {"CLIENTPW2", "b"}}),
            "ERROR[error occured|the passwords dont match|index.html]");
  EXPECT_EQ(Box("ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "Tom & Jerry #1+2"},
                                     {"CLIENTPW1", "pw"},
                                     {"CLIENTPW2", "pw"},
                                     {"CLIENTSERVERADMIN", "1"}}),
            "OK[operation successfully|the user Tom &amp; Jerry #1+2 was added to server|index.html]");
  EXPECT_EQ(Box("ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "TOM & JERRY #1+2"},
                                     {"CLIENTPW1", "x"},
                                     {"CLIENTPW2", "x"}}),
            "ERROR[error occured|a user with name already exists|index.html]");
  Box("ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "bob"}, {"CLIENTPW1", "b"}, {"CLIENTPW2", "b"}});

  // An empty password keeps the old one and still changes the rights.
  EXPECT_EQ(Box("EDIT_CLIENT.VHCMD", {{"CLIENT", "bob"}, {"CLIENTSUPERSERVERADMIN", "1"}}),
            "OK[operation successfully|the user bob was edited|index.html]");
  Browser bob(server_.http_port);
  EXPECT_EQ(bob.Login("bob", "b", Port()), "index.html");
  EXPECT_EQ(Box("EDIT_CLIENT.VHCMD",
                {{"CLIENT", "bob"}, {"CLIENTPW1", "new"}, {"CLIENTPW2", "other"}}),
            "ERROR[error occured|the passwords dont match|index.html]");
  EXPECT_EQ(Box("EDIT_CLIENT.VHCMD", {{"CLIENT", "ghost"}}),
            "ERROR[error occured|user ghost not edited, user was not found in database|index.html]");
  // An account that changes its own password stays logged in.
  EXPECT_EQ(Box("EDIT_CLIENT.VHCMD", {{"CLIENT", "admin"},
                                      {"CLIENTPW1", "changed"},
                                      {"CLIENTPW2", "changed"},
                                      {"CLIENTSERVERADMIN", "1"},
                                      {"CLIENTSUPERSERVERADMIN", "1"}}),
            "OK[operation successfully|the user admin was edited|index.html]");
  EXPECT_EQ(browser_.Get("/").status, 200);
  EXPECT_EQ(Browser(server_.http_port).Login("admin", "changed", Port()), "index.html");

  // The pending deletion decides, not the link's own parameter.
  EXPECT_EQ(Box("ASK_DELETE_CLIENT.VHCMD", {{"CLIENT", "Tom & Jerry #1+2"}}),
            "CHOICE[please choose|you really want do delete Tom &amp; Jerry #1+2|"
            "DELETE_CLIENT.VHCMD?client=Tom%20%26%20Jerry%20%231%2B2|index.html|yes|no]");
  EXPECT_EQ(Box("DELETE_CLIENT.VHCMD?client=bob", {}),
            "OK[operation successfully|user Tom &amp; Jerry #1+2 deleted|index.html]");
  EXPECT_EQ(Box("DELETE_CLIENT.VHCMD?client=bob", {}),
            "ERROR[error occured|user  not deleted, user was not found in database|index.html]");
  EXPECT_EQ(Browser(server_.http_port).Login("Tom & Jerry #1+2", "pw", Port()), "login.html");
  EXPECT_EQ(bob.Get("/").status, 200);

  // A command name that is none of the seven: empty answer.
  auto unknown = browser_.Get("/NOTHING.VHCMD");
  EXPECT_EQ(unknown.status, 200);
  EXPECT_TRUE(unknown.body.empty());
}

}  // namespace
}  // namespace voxhall::testing
