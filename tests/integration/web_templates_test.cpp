// The template engine through the real binary: the placeholder table with
// the data of a running server, the variants without a server, the
// selected account, the account rows, the server drop-down and includes.
#include <gtest/gtest.h>

#include <regex>

#include "web_fixture.h"

namespace voxhall::testing {
namespace {

// The value of line "NAME=" in a rendered page.
std::string Line(const std::string& page, const std::string& name) {
  const std::size_t at = page.find("\n" + name + "=");
  if (at == std::string::npos) return "(missing)";
  const std::size_t start = at + name.size() + 2;
  return page.substr(start, page.find('\n', start) - start);
}

const char* const kServerMarks[] = {
    "SERVERID", "SERVERNAME", "SERVERPLATFORM", "SERVERWELCOMEMESSAGE", "SERVERVERSIONMAJOR",
    "SERVERVERSIONMINOR", "SERVERVERSIONRELEASE", "SERVERVERSIONBUILD", "SERVERMAXUSERS",
    "SERVERPASSWORD", "SERVERWEBPOSTLINKURL", "SERVERUPTIME", "SERVERUDPPORT", "CURRENTUSERS",
    "CURRENTCHANNELS", "SERVERPACKETSSEND", "SERVERBYTESSEND", "SERVERPACKETSRECEIVED",
    "SERVERBYTESRECEIVED", "SERVERCFG_CODEC_Celp51_SELECTED", "SERVERCFG_CODEC_Celp63_SELECTED",
    "SERVERCFG_CODEC_GSM148_SELECTED", "SERVERCFG_CODEC_GSM164_SELECTED",
    "SERVERCFG_CODEC_WindowsCELP52_SELECTED", "SERVERTYPE",
    "SERVERCFG_SERVERTYPE_CLANSERVER_SELECTED", "SERVERCFG_SERVERTYPE_PUBLICSERVER_SELECTED",
    "SERVERCHANNELREGISTERMODE", "SERVERCFG_SERVERCHANNELREGISTERMODE_ANYONE_SELECTED",
    "SERVERCFG_SERVERCHANNELREGISTERMODE_ADMIN_SELECTED", "SERVERREGISTERTYPE",
    "SERVERCFG_SERVERREGISTERTYPE_ANYONE_SELECTED", "SERVERCFG_SERVERREGISTERTYPE_NONE_SELECTED",
    "SERVERUSERSONLINE", "SERVERCHANNELS", "SELECTED_CLIENT_LOGINNAME",
    "SELECTED_CLIENT_REGISTEREDBY", "SELECTED_CLIENT_LOGINS", "SELECTED_CLIENT_LASTUPDATED",
    "SELECTED_CLIENT_REGISTERED", "SERVERCFG_CLIENT_RIGHTS_SERVERADMIN_SELECTED",
    "SERVERCFG_CLIENT_RIGHTS_SUPERSERVERADMIN_SELECTED", "LOGGEDINUSERNAME", "CURRENT_DATETIME"};

// Blocks between the comment switches.
const std::string kBlockLines =
    "selected=%!COMMENT_ON_SERVER_SELECTED!%x%!COMMENT_OFF_SERVER_SELECTED!%\n"
    "notselected=%!COMMENT_ON_SERVER_NOT_SELECTED!%y%!COMMENT_OFF_SERVER_NOT_SELECTED!%\n"
    "notsuper=%!COMMENT_ON_NOT_SUPERSERVERADMIN!%z%!COMMENT_OFF_NOT_SUPERSERVERADMIN!%\n";

// One line per placeholder, "NAME=%%NAME%%", and the blocks.
std::string ServerPage() {
  std::string page = "\n";
  for (const char* mark : kServerMarks) page += std::string(mark) + "=%%" + mark + "%%\n";
  // Marks are found in any letter case.
  return page + "lower=%%serverid%%\n" + kBlockLines;
}

// Expects each "NAME=" line of `page` to hold its value.
void ExpectLines(const std::string& page,
                 std::initializer_list<std::pair<const char*, std::string>> expected) {
  for (const auto& [name, value] : expected) EXPECT_EQ(Line(page, name), value) << name;
}

TEST(WebTemplatesTest, PlaceholderTableOfARunningServer) {
  WebServer server(
      {{"login.html", "login"},
       {"index.html", ServerPage()},
       {"database_client_manager_clientlist.html", ""}},
      {{"server_cfg Public",
        "ServerName=<i>Hall</i>\nServerType=2\nServerFlags=0\nServerMaxUsers=33\n"
        "ServerPassword=p&w\nWebPost_LinkURL=http://example.invalid/?a=1&b=2\n"
        "ServerWelcomeMessage=hi %%SERVERUDPPORT%% <b>\nAllowCodecCelp63=0\nAllowCodecGSM164=0\n"},
       {"server_cfg Strange", "ServerType=0\nServerFlags=3\n"}},
      "DateTimeFormat=yyyy/mm/dd hh.nn\n");
  const int port = server.udp_ports["server_cfg Public"];
  Browser browser(server.http_port);
  ASSERT_EQ(browser.LoginAdmin(port), "index.html");
  const std::string page = browser.Get("/index.html?client=ADMIN").body;

  ExpectLines(page, {
      {"SERVERID", "server_cfg Public"},
      {"lower", "server_cfg Public"},
      {"SERVERNAME", "&lt;i&gt;Hall&lt;/i&gt;"},
      {"SERVERPLATFORM", "Linux"},
      // An inserted value meets the later placeholders.
      {"SERVERWELCOMEMESSAGE", "hi " + std::to_string(port) + " &lt;b&gt;"},
      {"SERVERVERSIONMAJOR", "2"},
      {"SERVERVERSIONMINOR", "0"},
      {"SERVERVERSIONRELEASE", "18"},
      {"SERVERVERSIONBUILD", "31"},
      {"SERVERMAXUSERS", "33"},
      {"SERVERPASSWORD", "p&amp;w"},
      {"SERVERWEBPOSTLINKURL", "http://example.invalid/?a=1&amp;b=2"},
      {"SERVERUDPPORT", std::to_string(port)},
      {"CURRENTUSERS", "0"},
      {"SERVERUSERSONLINE", "0"},
      {"SERVERCFG_CODEC_Celp51_SELECTED", "checked"},
      {"SERVERCFG_CODEC_Celp63_SELECTED", ""},
      {"SERVERCFG_CODEC_GSM148_SELECTED", "checked"},
      {"SERVERCFG_CODEC_GSM164_SELECTED", ""},
      {"SERVERCFG_CODEC_WindowsCELP52_SELECTED", "checked"},
      {"SERVERTYPE", "Public Server"},
      {"SERVERCFG_SERVERTYPE_CLANSERVER_SELECTED", ""},
      {"SERVERCFG_SERVERTYPE_PUBLICSERVER_SELECTED", "selected"},
      {"SERVERCHANNELREGISTERMODE", "admin"},
      {"SERVERCFG_SERVERCHANNELREGISTERMODE_ANYONE_SELECTED", ""},
      {"SERVERCFG_SERVERCHANNELREGISTERMODE_ADMIN_SELECTED", "selected"},
      {"SERVERREGISTERTYPE", "none"},
      {"SERVERCFG_SERVERREGISTERTYPE_ANYONE_SELECTED", ""},
      {"SERVERCFG_SERVERREGISTERTYPE_NONE_SELECTED", "selected"},
      {"SELECTED_CLIENT_LOGINNAME", "admin"},
      {"SELECTED_CLIENT_REGISTEREDBY", "Server"},
      {"SELECTED_CLIENT_LOGINS", "0"},
      {"SERVERCFG_CLIENT_RIGHTS_SERVERADMIN_SELECTED", "checked"},
      {"SERVERCFG_CLIENT_RIGHTS_SUPERSERVERADMIN_SELECTED", "checked"},
      {"LOGGEDINUSERNAME", "admin"},
      {"selected", "<!--x-->"},
      {"notselected", "y"},
      {"notsuper", "z"},
  });
  const std::regex uptime(R"(\d\d:\d\d:\d\d)");
  const std::regex date(R"(\d{4}/\d\d/\d\d \d\d\.\d\d)");
  EXPECT_TRUE(std::regex_match(Line(page, "SERVERUPTIME"), uptime)) << page;
  EXPECT_TRUE(std::regex_match(Line(page, "CURRENT_DATETIME"), date)) << page;
  EXPECT_TRUE(std::regex_match(Line(page, "SELECTED_CLIENT_REGISTERED"), date)) << page;
  EXPECT_TRUE(std::regex_match(Line(page, "CURRENTCHANNELS"), std::regex(R"(\d+)")));
  EXPECT_EQ(Line(page, "CURRENTCHANNELS"), Line(page, "SERVERCHANNELS"));
  EXPECT_TRUE(std::regex_match(Line(page, "SERVERBYTESRECEIVED"), std::regex(R"(\d+)")));

  // Without a selected account, or with an unknown one, its marks stay.
  const std::string unknown = browser.Get("/index.html?client=ghost").body;
  EXPECT_EQ(Line(unknown, "SELECTED_CLIENT_LOGINNAME"), "%%SELECTED_CLIENT_LOGINNAME%%");
  EXPECT_EQ(Line(browser.Get("/index.html").body, "SERVERCFG_CLIENT_RIGHTS_SERVERADMIN_SELECTED"),
            "%%SERVERCFG_CLIENT_RIGHTS_SERVERADMIN_SELECTED%%");

  // ServerType without the clan or public bit keeps both selection marks;
  // both registration bits set show "anyone".
  Browser strange(server.http_port);
  ASSERT_EQ(strange.LoginAdmin(server.udp_ports["server_cfg Strange"]), "index.html");
  ExpectLines(strange.Get("/").body,
              {{"SERVERTYPE", "Invalid Server Type"},
               {"SERVERCFG_SERVERTYPE_CLANSERVER_SELECTED",
                "%%SERVERCFG_SERVERTYPE_CLANSERVER_SELECTED%%"},
               {"SERVERCFG_SERVERTYPE_PUBLICSERVER_SELECTED",
                "%%SERVERCFG_SERVERTYPE_PUBLICSERVER_SELECTED%%"},
               {"SERVERCHANNELREGISTERMODE", "anyone"},
               {"SERVERCFG_SERVERCHANNELREGISTERMODE_ANYONE_SELECTED", "selected"},
               {"SERVERCFG_SERVERCHANNELREGISTERMODE_ADMIN_SELECTED", ""},
               {"SERVERREGISTERTYPE", "anyone"},
               {"SERVERCFG_SERVERREGISTERTYPE_ANYONE_SELECTED", "selected"},
               {"SERVERCFG_SERVERREGISTERTYPE_NONE_SELECTED", ""}});
}

TEST(WebTemplatesTest, WithoutAServerOnlyTheNoServerVariantsApply) {
  WebServer server({{"login.html", "\n" + kBlockLines +
                                        "name=%%SERVERNAME%%\nid=%%SERVERID%%\n"
                                        "users=%%CURRENTUSERS%%\nerror=%%ERROR_TEXT%%\n"
                                        "user=%%LOGGEDINUSERNAME%%\n"}});
  Browser browser(server.http_port);
  ExpectLines(browser.Get("/whatever?error_text=<script>x</script>").body,
              {{"selected", "x"},
               {"notselected", "<!--y-->"},
               {"notsuper", "<!--z-->"},
               {"name", ""},
               {"id", "%%SERVERID%%"},
               {"users", "%%CURRENTUSERS%%"},
               {"error", "&lt;script&gt;x&lt;/script&gt;"},
               {"user", ""}});
}

TEST(WebTemplatesTest, AccountRowsDropDownAndIncludes) {
  WebServer server(
      {{"login.html", "login"},
       {"index.html", "%%INCLUDE%parts/head.html%[%!SERVERCFG_DATABASE_CLIENT_MANAGER_CLIENTLIST!%]"
                      "<select>%!serverCfg_Server_Manager_ServerDropDownList!%</select>"
                      "%%include%parts/head.html%"},
       {"parts/head.html", "<h1>%%SERVERID%%</h1>%%INCLUDE%parts/missing.html%"},
       {"database_client_manager_clientlist.html",
        "<tr><td>%%CLIENT_LOGINNAME%%</td><td>%%CLIENT_NAME%%</td><td>%%CLIENT_REGISTEREDBY%%"
        "</td><td>%%CLIENT_LOGINS%%</td></tr>"}},
      {{"server_cfg A", ""}, {"server_cfg B", ""}, {"server_cfg C<", ""}});
  Browser browser(server.http_port);
  ASSERT_EQ(browser.LoginAdmin(server.udp_ports["server_cfg A"]), "index.html");
  // A login name registered by anyone shows as text in the administrator's
  // browser, never as markup.
  browser.Post("/ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "<img src=x onerror=alert(1)>"},
                                     {"CLIENTPW1", "x"},
                                     {"CLIENTPW2", "x"}});
  const std::string page = browser.Get("/").body;
  EXPECT_EQ(page.find("<img"), std::string::npos) << page;
  EXPECT_NE(page.find("<h1>server_cfg A</h1>\r\n[<tr><td>admin</td><td>admin</td><td>Server</td>"
                      "<td>0</td></tr>\r\n<tr><td>&lt;img src=x onerror=alert(1)&gt;</td><td>"
                      "</td><td>admin</td><td>0</td></tr>\r\n]"),
            std::string::npos)
      << page;
  // Three running servers, the first in list order selected; keys escaped.
  std::string options;
  bool first = true;
  for (const char* key : {"server_cfg A", "server_cfg B", "server_cfg C<"}) {
    const std::string p = std::to_string(server.udp_ports[key]);
    options += std::string(first ? "<option selected value=\"" : "<option value=\"") + p + "\">" +
               p + " " + (std::string(key) == "server_cfg C<" ? "server_cfg C&lt;" : key) +
               "</option>";
    first = false;
  }
  EXPECT_NE(page.find("<select>" + options + "</select>"), std::string::npos) << page;
  EXPECT_TRUE(page.ends_with("%%include%parts/head.html%")) << page;

  // Without the row template the page turns into a redirect to the error box.
  std::filesystem::remove(server.docs + "/database_client_manager_clientlist.html");
  auto r = browser.Get("/");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(LocationParam(r.Header("Location"), "error_text"),
            "file database_client_manager_clientlist.html was not found");
}

}  // namespace
}  // namespace voxhall::testing
