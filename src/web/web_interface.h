// The web administration's HTTP front end: serves the site of the document
// root on one TCP port, keeps the browser sessions and routes each request.
// Before login every page is "login.html" and only commands (".vhcmd") run;
// after login each request passes the login check again and is answered by
// the session page ("/session..."), a rendered template (".htm"), a command,
// a static file, or the 403 and 404 pages.
//
// Thread safety: Init and the destructor run in the main thread; requests
// are served on the pool's threads, at most kMaxConnections at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "web/connection_pool.h"
#include "web/document_root.h"
#include "web/template_engine.h"
#include "web/web_request.h"
#include "web/web_session.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace voxhall::web {

class WebInterface {
 public:
  // Limits of what browsers can make the server hold.
  static constexpr std::size_t kMaxConnections = 250;
  static constexpr std::size_t kMaxSessions = 1024;
  static constexpr std::chrono::minutes kSessionTimeout{60};
  static constexpr std::size_t kMaxRequestBody = 64 * 1024;
  static constexpr std::size_t kMaxDocumentLength = 2048;

  WebInterface();
  // Stops accepting, serves what is queued and joins every thread.
  ~WebInterface();
  WebInterface(const WebInterface&) = delete;
  WebInterface& operator=(const WebInterface&) = delete;

  // Serves `document_root` on `port` of every interface, or only of
  // `bound_ip` when that is not empty. False when the port cannot be opened.
  bool Init(std::int64_t port, const std::string& document_root, const std::string& bound_ip);

  // The MIME type of a file name's extension; "application/octet-stream"
  // for unknown ones.
  static std::string GetMIMEType(const std::string& file_name);

 private:
  // Finds or starts the request's session and serves it.
  void Serve(const httplib::Request& req, httplib::Response& res);
  void HTTPServerCommandGet(const WebRequest& request, WebResponse& response);
  void ServeStaticFile(const std::string& path, WebResponse& response);
  void ServeVirtualFolder(const WebRequest& request, WebResponse& response);

  std::unique_ptr<DocumentRoot> root_;
  std::unique_ptr<TemplateEngine> templates_;
  SessionList sessions_;
  std::unique_ptr<ConnectionPool> pool_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;
};

// The 403 answer to a request that may not see the document; closes the
// connection.
void SendAccessDenied(WebResponse& response);
// The 404 answer for a missing file; closes the connection.
void SendNotFound(WebResponse& response);

}  // namespace voxhall::web
