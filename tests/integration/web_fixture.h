// Integration-test helpers for the web administration: the real server
// started in a temporary folder with a document root of the test's own small
// templates, and a browser that keeps its session cookie.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace voxhall::testing {

inline constexpr const char* kAdminPassword = "secret";

class WebServer {
 public:
  // Writes `files` into the document root "docs" (names may hold "/"),
  // and a configuration that lists one server section per entry of
  // `server_sections` ("name" -> extra "key=value" lines), each on its own
  // free UDP port, with the web interface on a free TCP port. The "admin"
  // account of every server gets kAdminPassword.
  // `http_port` 0 picks a free one.
  WebServer(const std::map<std::string, std::string>& files,
            const std::map<std::string, std::string>& server_sections = {{"server_cfg A", ""}},
            const std::string& main_config_extra = "", int http_port = 0);

  TempDir dir;
  std::string docs;
  int http_port = 0;
  std::map<std::string, int> udp_ports;  // section name -> port
  std::unique_ptr<ServerProcess> process;

  std::string Log() const { return ReadFile(dir.File("server.log")); }
};

using Params = std::vector<std::pair<std::string, std::string>>;

// One HTTP answer as it came over the wire: header values are not decoded.
struct HttpAnswer {
  int status = 0;  // 0: no answer
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name (letter case ignored); empty when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

// Sends one request on its own connection from local address `from` and
// reads the answer until the server closes or the body is complete. The
// path goes out exactly as given.
HttpAnswer SendRequest(int port, const std::string& method, const std::string& path,
                       const std::string& extra_headers, const std::string& body,
                       const std::string& from = "127.0.0.1");

// The text of a form-encoded body.
std::string FormBody(const Params& params);

// An HTTP client on 127.0.0.1 that sends the session cookie it was given.
class Browser {
 public:
  explicit Browser(int port) : port_(port) {}

  HttpAnswer Get(const std::string& path);
  HttpAnswer Head(const std::string& path);
  HttpAnswer Post(const std::string& path, const Params& params);

  // LOGIN with the given fields; answers the redirect's location.
  std::string Login(const std::string& user, const std::string& password, int server_port);
  std::string LoginAdmin(int server_port) { return Login("admin", kAdminPassword, server_port); }

  std::string cookie;  // the session id; empty before the first answer
  std::string last_set_cookie;

 private:
  HttpAnswer Send(const std::string& method, const std::string& path, const std::string& body);

  int port_;
};

// The query-string value of `name` in a redirect location, decoded.
std::string LocationParam(const std::string& location, const std::string& name);

}  // namespace voxhall::testing
