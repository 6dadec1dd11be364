// The web administration's front end against the real binary: what a
// browser sees before and after LOGIN, the session cookie and its binding,
// static files, the 403 and 404 pages and the session page.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "web_fixture.h"

namespace voxhall::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kPicture[] = "\x89PNG\r\n\x1a\n\0\0binary";

const std::map<std::string, std::string> kSite = {
    {"login.html", "LOGIN-PAGE %%SERVERID%%"},
    {"index.html", "INDEX %%SERVERID%% %%LOGGEDINUSERNAME%%"},
    {"sub/index.html", "SUB-INDEX"},
    {"pic.png", std::string(kPicture, sizeof kPicture - 1)},
    {"database_client_manager_clientlist.html", "<tr>%%CLIENT_LOGINNAME%%</tr>"},
};

constexpr const char* kAccessDenied =
    "<html><head><title>Error</title></head><body><h1>Access denied</h1>\r"
    "You do not have sufficient priviligies to access this document.</body></html>";
constexpr const char* kNotFound =
    "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>";

TEST(WebFrontendTest, BeforeLoginEveryDocumentIsTheLoginPage) {
  WebServer server(kSite);
  Browser browser(server.http_port);
  for (const char* path : {"/index.html", "/pic.png", "/missing/page", "/sessions"}) {
    auto r = browser.Get(path);
    EXPECT_EQ(r.status, 200) << path;
    EXPECT_EQ(r.body, "LOGIN-PAGE %%SERVERID%%") << path;
    EXPECT_EQ(r.Header("Content-Type"), "text/HTML");
  }
  // One session, started by the first request, with a cookie scripts
  // cannot read and other sites cannot send.
  auto first = Browser(server.http_port);
  first.Get("/");
  EXPECT_EQ(first.last_set_cookie,
            "IDHTTPSESSIONID=" + first.cookie + "; Path=/; HttpOnly; SameSite=Strict");
  auto again = first.Get("/");
  EXPECT_FALSE(again.HasHeader("Set-Cookie"));

  // Commands other than LOGIN and LOGOUT need an administered server.
  auto settings = browser.Get("/SETTINGS_SERVER.VHCMD?SERVERNAME=hacked");
  EXPECT_EQ(settings.status, 302);
  EXPECT_EQ(LocationParam(settings.Header("Location"), "error_text"),
            "your selected server is invalid");
  EXPECT_EQ(settings.Header("Connection"), "close");
  EXPECT_EQ(ReadFile(server.dir.File("server.ini")).find("hacked"), std::string::npos);
}

TEST(WebFrontendTest, LoginInAnyCaseAndItsRefusals) {
  WebServer server(kSite, {{"server_cfg A", ""}, {"server_cfg B", ""}});
  const int port_a = server.udp_ports["server_cfg A"];
  const int port_b = server.udp_ports["server_cfg B"];
  Browser browser(server.http_port);

  const auto login = [&](const std::string& document, const std::string& user,
                         const std::string& password, const std::string& port) {
    return browser.Post(document, {{"username", user}, {"password", password}, {"serverport", port}})
        .Header("Location");
  };
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(login("/LOGIN.vhcmd", "admin", "SECRET", std::to_string(port_a)), "login.html");
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(950));
  EXPECT_NE(server.Log().find("WARNING,Important,WEBINTERFACE,\tinvalid web login from 127.0.0.1"),
            std::string::npos);
  EXPECT_EQ(login("/LOGIN.vhcmd", "nobody", kAdminPassword, std::to_string(port_a)), "login.html");
  EXPECT_EQ(login("/LOGIN.vhcmd", "admin", kAdminPassword, "1"), "login.html");
  EXPECT_EQ(login("/LOGIN.vhcmd", "admin", kAdminPassword, "port"), "login.html");
  EXPECT_EQ(browser.Get("/index.html").body, "LOGIN-PAGE %%SERVERID%%");

  // Any letter case of the command document; the port picks the server.
  EXPECT_EQ(login("/login.VHCMD", "admin", kAdminPassword, std::to_string(port_b)), "index.html");
  EXPECT_EQ(browser.Get("/index.html").body, "INDEX server_cfg B admin");
  EXPECT_EQ(login("/LoGiN.vhcmd", "admin", kAdminPassword, std::to_string(port_a)), "index.html");
  EXPECT_EQ(browser.Get("/index.html").body, "INDEX server_cfg A admin");

  // An account with only the server-admin right cannot log in; an account
  // of server A with the super-server-admin right may administer server B.
  ASSERT_EQ(LocationParam(browser.Post("/ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "helper"},
                                                             {"CLIENTPW1", "pw1"},
                                                             {"CLIENTPW2", "pw1"},
                                                             {"CLIENTSERVERADMIN", "1"}})
                                .Header("Location"),
                            "ok_text"),
            "the user helper was added to server");
  browser.Post("/ADD_CLIENT.VHCMD", {{"CLIENTLOGINNAME", "chief"},
                                     {"CLIENTPW1", "pw2"},
                                     {"CLIENTPW2", "pw2"},
                                     {"CLIENTSUPERSERVERADMIN", "1"}});
  Browser other(server.http_port);
  EXPECT_EQ(other.Login("helper", "pw1", port_a), "login.html");
  EXPECT_EQ(other.Login("chief", "pw2", port_b), "index.html");
  EXPECT_EQ(other.Get("/").body, "INDEX server_cfg B chief");

  // A failed LOGIN logs a session out, and LOGOUT does too.
  EXPECT_EQ(other.Login("chief", "wrong", port_b), "login.html");
  EXPECT_EQ(other.Get("/").body, "LOGIN-PAGE %%SERVERID%%");
  auto logout = browser.Get("/LOGOUT.VHCMD");
  EXPECT_EQ(logout.status, 302);
  EXPECT_EQ(logout.Header("Location"), "login.html");
  EXPECT_EQ(browser.Get("/index.html").body, "LOGIN-PAGE %%SERVERID%%");
}

TEST(WebFrontendTest, StaticFilesHeadNotFoundAndDocumentsOutsideTheRoot) {
  WebServer server(kSite);
  WriteFile(server.dir.File("outside.txt"), "private");
  fs::create_directories(server.dir.path() / "docs-private");
  WriteFile(server.dir.File("docs-private/page.html"), "private page");
  fs::create_symlink(server.dir.path() / "outside.txt", fs::path(server.docs) / "link.txt");
  fs::create_symlink(server.dir.path() / "docs-private", fs::path(server.docs) / "linked");
  Browser browser(server.http_port);
  ASSERT_EQ(browser.LoginAdmin(server.udp_ports["server_cfg A"]), "index.html");

  EXPECT_EQ(browser.Get("/").body, "INDEX server_cfg A admin");
  EXPECT_EQ(browser.Get("/sub").body, "SUB-INDEX");
  auto picture = browser.Get("/pic.png");
  EXPECT_EQ(picture.status, 200);
  EXPECT_EQ(picture.Header("Content-Type"), "image/png");
  EXPECT_EQ(picture.body, kSite.at("pic.png"));
  auto head = browser.Head("/pic.png");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Type"), "image/png");
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(sizeof kPicture - 1));
  EXPECT_TRUE(head.body.empty());

  auto missing = browser.Get("/missing.png");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, kNotFound);
  EXPECT_EQ(missing.Header("Connection"), "close");

  for (const char* path : {"/../outside.txt", "/%2e%2e/outside.txt", "/sub/../../outside.txt",
                           "/link.txt", "/../docs-private/page.html", "/linked/page.html"}) {
    auto r = browser.Get(path);
    EXPECT_EQ(r.status, 403) << path;
    EXPECT_EQ(r.body, kAccessDenied) << path;
  }
}

TEST(WebFrontendTest, SessionPageClosingAndForeignCookies) {
  WebServer server(kSite);
  Browser browser(server.http_port);
  ASSERT_EQ(browser.LoginAdmin(server.udp_ports["server_cfg A"]), "index.html");

  auto page = browser.Post("/sessions", {{"ParamName", "<b>note</b>"}, {"Param", "a&b"}});
  EXPECT_EQ(page.Header("Content-Type"), "text/HTML");
  EXPECT_NE(page.body.find("<tr><td>SessionID</td><td>" + browser.cookie + "</td></tr>"),
            std::string::npos);
  EXPECT_NE(page.body.find("loggedin=1\r\n"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;b&gt;note&lt;/b&gt;=a&amp;b"), std::string::npos) << page.body;
  EXPECT_NE(page.body.find("<p><a href=\"/sessions?action=close\">Close current session</a></p>"),
            std::string::npos);

  // The cookie is bound to the browser's address.
  const HttpAnswer foreign = SendRequest(server.http_port, "GET", "/index.html",
                                         "Cookie: IDHTTPSESSIONID=" + browser.cookie + "\r\n", "",
                                         "127.0.0.2");
  EXPECT_EQ(foreign.status, 403);
  EXPECT_TRUE(foreign.body.empty());
  EXPECT_EQ(browser.Get("/index.html").body, "INDEX server_cfg A admin");

  auto closed = browser.Get("/SESSIONS?action=CLOSE");
  EXPECT_EQ(closed.body,
            "<html><head><title>Virtual folder</title></head><body><h1>Session cleared</h1>"
            "<p><a href=\"/sessions\">Back</a></p></body></html>");
  // The old cookie gets no page and starts no session; the browser is told
  // to drop it, and without it gets the login page again.
  const std::string old_cookie = browser.cookie;
  auto refused = browser.Get("/index.html");
  EXPECT_EQ(refused.status, 403);
  EXPECT_TRUE(refused.body.empty());
  EXPECT_EQ(refused.Header("Set-Cookie"),
            "IDHTTPSESSIONID=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
  EXPECT_EQ(browser.Get("/LOGIN.vhcmd?username=admin&password=secret&serverport=1").status, 403);
  browser.cookie.clear();
  EXPECT_EQ(browser.Get("/index.html").body, "LOGIN-PAGE %%SERVERID%%");
  EXPECT_NE(browser.cookie, old_cookie);
}

TEST(WebFrontendTest, AccessDeniedOnceTheLoginNoLongerHolds) {
  WebServer server(kSite);
  Browser browser(server.http_port);
  ASSERT_EQ(browser.LoginAdmin(server.udp_ports["server_cfg A"]), "index.html");
  // The account takes its own super-server-admin right away.
  auto edit = browser.Post("/EDIT_CLIENT.VHCMD", {{"CLIENT", "admin"}, {"CLIENTSERVERADMIN", "1"}});
  EXPECT_EQ(LocationParam(edit.Header("Location"), "ok_text"), "the user admin was edited");
  for (const char* path : {"/index.html", "/pic.png", "/sessions", "/LOGOUT.VHCMD", "/missing"}) {
    auto r = browser.Get(path);
    EXPECT_EQ(r.status, 403) << path;
    EXPECT_EQ(r.body, kAccessDenied) << path;
  }
}

TEST(WebFrontendTest, HostileRequestsAreBoundedAndTheServerStopsCleanly) {
  WebServer server(kSite);
  Browser admin(server.http_port);
  ASSERT_EQ(admin.LoginAdmin(server.udp_ports["server_cfg A"]), "index.html");

  EXPECT_EQ(admin.Get("/" + std::string(3000, 'a') + ".html").status, 414);
  EXPECT_EQ(admin.Get("/" + std::string(2000, 'a') + ".png").status, 404);
  const std::string big_body = "SERVERNAME=" + std::string(100000, 'x');
  EXPECT_EQ(SendRequest(server.http_port, "POST", "/SETTINGS_SERVER.VHCMD",
                        "Cookie: IDHTTPSESSIONID=" + admin.cookie + "\r\n", big_body)
                .status,
            413);
  EXPECT_EQ(admin.Get("/index.html%00.png").status, 404);
  EXPECT_EQ(SendRequest(server.http_port, "BREW", "/pot", "", "").status, 400);

  // Anonymous requests fill the session list; the oldest anonymous sessions
  // make room and the logged-in one stays.
  for (int i = 0; i < 1100; ++i) ASSERT_EQ(Browser(server.http_port).Get("/").status, 200) << i;
  EXPECT_EQ(admin.Get("/").body, "INDEX server_cfg A admin");

  EXPECT_EQ(server.process->Stop(), 0);
  EXPECT_NE(server.Log().find("Server shutdown finished"), std::string::npos);
}

TEST(WebFrontendTest, TakenPortLeavesTheProcessRunningWithoutTheSite) {
  // Hold the port the web interface wants, open to sharing: the server
  // must not share it.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const int taken = ntohs(addr.sin_port);

  WebServer server(kSite, {{"server_cfg A", ""}}, "", taken);
  EXPECT_NE(server.Log().find("WARNING,Important,SERVER,\tStart_Voxhall_Server: cant initialise "
                              "WebInterface"),
            std::string::npos);
  EXPECT_TRUE(server.process->Running());
  EXPECT_NE(ReadFile(server.dir.File("server.ini")).find("HTTPServer Enabled=1"), std::string::npos);
  ::close(fd);
  EXPECT_EQ(server.process->Stop(), 0);
}

}  // namespace
}  // namespace voxhall::testing
