// One request of the web administration as the engine sees it, and the
// answer it builds: independent of the HTTP library, so that the routing,
// the template engine and the commands read and write plain values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/web_session.h"

namespace voxhall::web {

struct WebRequest {
  std::string method;          // "GET", "POST" or "HEAD"
  std::string document;        // the decoded path, e.g. "/index.html"
  std::string remote_address;  // the browser's address
  // Parameters of the query string, then of a form-encoded body, in order.
  std::vector<std::pair<std::string, std::string>> params;
  std::shared_ptr<HttpSession> session;  // never null for a request the engine serves

  // The first parameter of that name, letter case ignored; empty when absent.
  std::string Param(std::string_view name) const;
  // The same, cut before its first line break: the commands read their
  // parameters as name=value lines.
  std::string CommandParam(std::string_view name) const;
};

struct WebResponse {
  int status = 200;
  std::string content_type;
  std::string body;
  std::string location;           // set by Redirect
  bool close_connection = false;  // close the connection after the answer

  // A file sent as the body without reading it whole, or only announced
  // (HEAD): `file_path` non-empty.
  std::string file_path;
  std::uintmax_t file_size = 0;

  // Status 302 to `url`.
  void Redirect(std::string url) {
    status = 302;
    location = std::move(url);
  }
};

}  // namespace voxhall::web
