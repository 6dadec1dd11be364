#include "web/web_interface.h"

#include <httplib.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/date_time.h"
#include "common/text.h"
#include "log/log.h"
#include "web/check_login.h"
#include "web/date_format.h"
#include "web/web_commands.h"

namespace voxhall::web {

namespace fs = std::filesystem;
using namespace voxhall::log;

namespace {

constexpr const char* kCategory = "WEBINTERFACE";
constexpr const char* kSessionCookie = "IDHTTPSESSIONID";
constexpr std::size_t kFileChunk = 64 * 1024;

// The text a session's "StartTime" holds.
constexpr const char* kSessionStartFormat = "yyyy-mm-dd hh:nn:ss";

// Hands httplib's accepted connections to our pool; httplib owns this
// adapter, we own the pool.
class PoolQueue : public httplib::TaskQueue {
 public:
  explicit PoolQueue(ConnectionPool& pool) : pool_(pool) {}
  void enqueue(std::function<void()> fn) override { pool_.Enqueue(std::move(fn)); }
  void shutdown() override { pool_.Shutdown(); }

 private:
  ConnectionPool& pool_;
};

// The value of the session cookie among the request's cookies; empty when
// the browser sent none.
std::string SessionCookie(const httplib::Request& req) {
  const std::size_t count = req.get_header_value_count("Cookie");
  for (std::size_t i = 0; i < count; ++i) {
    const std::string header = req.get_header_value("Cookie", i);
    std::size_t pos = 0;
    while (pos < header.size()) {
      std::size_t end = header.find(';', pos);
      if (end == std::string::npos) end = header.size();
      const std::string pair = common::Trim(std::string_view(header).substr(pos, end - pos));
      const std::size_t eq = pair.find('=');
      if (eq != std::string::npos && pair.compare(0, eq, kSessionCookie) == 0 &&
          eq == std::char_traits<char>::length(kSessionCookie)) {
        return pair.substr(eq + 1);
      }
      pos = end + 1;
    }
  }
  return {};
}

std::string CookieHeader(const std::string& id, bool expire) {
  return std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" +
         (expire ? "; Max-Age=0" : "");
}

void HTTPServerSessionStart(HttpSession& session) {
  try {
    session.Set("StartTime", FormatDateTime(kSessionStartFormat, common::Now()));
  } catch (const std::exception& e) {
    LogException(kCategory, "HTTPServerSessionStart", e.what());
  }
}

// Copies the engine's answer into httplib's.
void Deliver(const WebResponse& response, httplib::Response& res) {
  res.status = response.status;
  if (!response.location.empty()) res.set_header("Location", response.location);
  if (response.close_connection) res.set_header("Connection", "close");
  if (!response.file_path.empty()) {
    if (response.file_size == 0) {
      res.set_content("", response.content_type);
      return;
    }
    auto file = std::make_shared<std::ifstream>(response.file_path, std::ios::binary);
    res.set_content_provider(
        static_cast<std::size_t>(response.file_size), response.content_type,
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          std::vector<char> buffer(std::min(length, kFileChunk));
          file->seekg(static_cast<std::streamoff>(offset));
          file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
          const std::streamsize got = file->gcount();
          if (got <= 0) return false;  // the file shrank meanwhile
          return sink.write(buffer.data(), static_cast<std::size_t>(got));
        });
    return;
  }
  if (!response.body.empty() || !response.content_type.empty()) {
    res.set_content(response.body, response.content_type.empty() ? "text/HTML"
                                                                : response.content_type);
  }
}

}  // namespace

void SendAccessDenied(WebResponse& response) {
  response.status = 403;
  response.content_type = "text/html";
  response.body =
      "<html><head><title>Error</title></head><body><h1>Access denied</h1>\r"
      "You do not have sufficient priviligies to access this document.</body></html>";
  response.close_connection = true;
}

void SendNotFound(WebResponse& response) {
  response.status = 404;
  response.content_type = "text/html";
  response.body = "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>";
  response.close_connection = true;
}

WebInterface::WebInterface() : sessions_(kSessionTimeout, kMaxSessions) {}

WebInterface::~WebInterface() {
  if (pool_) pool_->Close();
  if (server_) server_->stop();
  if (listener_.joinable()) listener_.join();
  if (pool_) pool_->Shutdown();
}

bool WebInterface::Init(std::int64_t port, const std::string& document_root, const std::string& bound_ip) {
  root_ = std::make_unique<DocumentRoot>(document_root);
  templates_ = std::make_unique<TemplateEngine>(*root_);
  pool_ = std::make_unique<ConnectionPool>(kMaxConnections);
  server_ = std::make_unique<httplib::Server>();
  ConnectionPool* pool = pool_.get();
  // httplib takes ownership of the queue it gets from this factory.
  server_->new_task_queue = [pool] { return std::make_unique<PoolQueue>(*pool).release(); };
  // Reusing the address lets a restart bind at once; the library's default
  // of also sharing the port would let a second process listen beside us.
  server_->set_socket_options([](socket_t sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
  });
  server_->set_payload_max_length(kMaxRequestBody);
  server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path.size() <= kMaxDocumentLength) return httplib::Server::HandlerResponse::Unhandled;
    res.status = 414;
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
  // Whatever escapes a handler is logged; the browser learns nothing of it.
  server_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        try {
          if (failure) std::rethrow_exception(failure);
        } catch (const std::exception& e) {
          LogException(kCategory, "HTTPServerCommandGet", e.what());
        } catch (...) {
          LogException(kCategory, "HTTPServerCommandGet", "unknown failure");
        }
        res.status = 500;
        res.set_header("Connection", "close");
      });
  const auto serve = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
  server_->Get(".*", serve);
  server_->Post(".*", serve);

  const std::string host = bound_ip.empty() ? "0.0.0.0" : bound_ip;
  if (port <= 0 || port > 65535 || !server_->bind_to_port(host, static_cast<int>(port))) {
    server_.reset();
    pool_.reset();
    return false;
  }
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only ends a loop that has begun; wait for it to begin.
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string WebInterface::GetMIMEType(const std::string& file_name) {
  static const std::map<std::string, std::string> kTypes = {
      {".css", "text/css"},          {".gif", "image/gif"},
      {".htm", "text/html"},         {".html", "text/html"},
      {".ico", "image/x-icon"},      {".jpeg", "image/jpeg"},
      {".jpg", "image/jpeg"},        {".js", "text/javascript"},
      {".json", "application/json"}, {".pdf", "application/pdf"},
      {".png", "image/png"},         {".svg", "image/svg+xml"},
      {".txt", "text/plain"},        {".webp", "image/webp"},
      {".woff", "font/woff"},        {".woff2", "font/woff2"},
      {".xml", "application/xml"},   {".zip", "application/zip"},
  };
  try {
    const auto it = kTypes.find(common::LowerCase(fs::path(file_name).extension().string()));
    return it == kTypes.end() ? "application/octet-stream" : it->second;
  } catch (const std::exception& e) {
    LogException(kCategory, "GetMIMEType", e.what());
    return {};
  }
}

void WebInterface::Serve(const httplib::Request& req, httplib::Response& res) {
  WebRequest request;
  request.method = req.method;
  request.document = req.path;
  request.remote_address = req.remote_addr;
  for (const auto& [name, value] : req.params) request.params.emplace_back(name, value);

  const std::string cookie = SessionCookie(req);
  if (!cookie.empty()) {
    request.session = sessions_.Find(cookie, request.remote_address);
    if (!request.session) {
      // A cookie of an ended or foreign session: no page and no new
      // session; the browser is told to drop the cookie.
      res.status = 403;
      res.set_header("Set-Cookie", CookieHeader("", true));
      res.set_header("Connection", "close");
      return;
    }
  } else {
    request.session = sessions_.Start(request.remote_address, HTTPServerSessionStart);
    if (!request.session) {
      res.status = 503;
      res.set_header("Connection", "close");
      return;
    }
    res.set_header("Set-Cookie", CookieHeader(request.session->id(), false));
  }

  WebResponse response;
  HTTPServerCommandGet(request, response);
  Deliver(response, res);
}

void WebInterface::HTTPServerCommandGet(const WebRequest& request, WebResponse& response) {
  try {
    HttpSession& session = *request.session;
    const std::string document = common::LowerCase(request.document);
    if (!session.LoggedIn()) {
      if (document.find(".vhcmd") != std::string::npos) {
        Progress_COMMAND(request, response);
      } else {
        templates_->Progress_FILE(root_->Join("login.html").string(), request, response);
      }
      return;
    }
    if (!CheckLogin(session, session.Get("username"), session.Get("password"),
                    session.Get("serverport"))) {
      SendAccessDenied(response);
      return;
    }
    if (document.rfind("/session", 0) == 0) {
      ServeVirtualFolder(request, response);
      return;
    }
    if (request.document.find('\0') != std::string::npos) {
      SendNotFound(response);
      return;
    }

    fs::path path = root_->Join(request.document);
    std::error_code ec;
    const std::string trimmed = common::Trim(request.document);
    if (!fs::is_regular_file(path, ec) && fs::is_directory(path, ec) &&
        fs::is_regular_file(path / "index.html", ec)) {
      path /= "index.html";
    } else if (trimmed == "/" || trimmed == "\\") {
      path /= "index.html";
    }
    const bool inside = root_->Contains(path);
    const std::string file_name = common::LowerCase(path.filename().string());
    const std::string path_text = path.lexically_normal().string();

    if (file_name.find(".htm") != std::string::npos && inside &&
        templates_->Progress_FILE(path_text, request, response)) {
      return;
    }
    if (file_name.find(".vhcmd") != std::string::npos) {
      Progress_COMMAND(request, response);
      return;
    }
    if (!fs::is_regular_file(path, ec)) {
      SendNotFound(response);
    } else if (!inside) {
      SendAccessDenied(response);
    } else {
      ServeStaticFile(path_text, response);
    }
  } catch (const std::exception& e) {
    LogException(kCategory, "HTTPServerCommandGet", e.what());
  }
}

void WebInterface::ServeStaticFile(const std::string& path, WebResponse& response) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    SendNotFound(response);
    return;
  }
  response.status = 200;
  response.content_type = GetMIMEType(path);
  response.file_path = path;
  response.file_size = size;  // for HEAD, httplib announces it and sends no body
}

void WebInterface::ServeVirtualFolder(const WebRequest& request, WebResponse& response) {
  std::string page = "<html><head><title>Virtual folder</title></head><body>";
  try {
    HttpSession& session = *request.session;
    if (common::EqualsIgnoreCase(request.Param("action"), "close")) {
      sessions_.End(session.id());
      page += "<h1>Session cleared</h1><p><a href=\"/sessions\">Back</a></p>";
    } else {
      const std::string name = request.Param("ParamName");
      if (!name.empty()) session.Set(name, request.Param("Param"));
      page += "<h1>Session informations</h1>";
      auto lock = session.Lock();
      page += "<table border=1>";
      page += "<tr><td>SessionID</td><td>" + HtmlEscape(session.id()) + "</td></tr>";
      page += "<tr><td>Number of page requested during this session</td><td>" +
              HtmlEscape(session.Get("NumViews")) + "</td></tr>";
      page += "<tr><td>Session data (raw)</td><td><pre>";
      bool first = true;
      for (const auto& [n, v] : session.Variables()) {
        if (!first) page += "\r\n";
        page += HtmlEscape(n) + "=" + HtmlEscape(v);
        first = false;
      }
      page += "</pre></td></tr>";
      page += "</table><h1>Tools:</h1><h2>Add new parameter</h2><form method=\"POST\">"
              "<p>Name: <input type=\"text\" Name=\"ParamName\"></p>"
              "<p>value: <input type=\"text\" Name=\"Param\"></p>"
              "<p><input type=\"Submit\"><input type=\"reset\"></p></form><h2>Other:</h2>";
      page += "<p><a href=\"" + HtmlEscape(request.document) +
              "?action=close\">Close current session</a></p>";
    }
  } catch (const std::exception& e) {
    LogException(kCategory, "ServeVirtualFolder", e.what());
  }
  page += "</body></html>";
  response.content_type = "text/HTML";
  response.body = std::move(page);
}

}  // namespace voxhall::web
