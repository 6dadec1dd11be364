#include "masterlist/http_request.h"

#include <httplib.h>

#include <exception>
#include <string_view>

namespace voxhall::masterlist {

namespace {

struct SplitUrl {
  std::string scheme_host_port;  // "http://host:port"
  std::string path;              // "/path?query", at least "/"
};

// Splits an address into the part that names the server and the path. An
// address without a scheme is taken as http.
std::optional<SplitUrl> Split(std::string url) {
  if (url.empty()) return std::nullopt;
  std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) {
    url = "http://" + url;
    scheme_end = 4;
  }
  const std::size_t path_start = url.find_first_of("/?#", scheme_end + 3);
  SplitUrl split;
  split.scheme_host_port = url.substr(0, path_start);
  split.path = path_start == std::string::npos ? "/" : url.substr(path_start);
  if (split.path.empty() || split.path[0] != '/') split.path.insert(0, "/");
  const std::size_t fragment = split.path.find('#');
  if (fragment != std::string::npos) split.path.erase(fragment);
  if (split.scheme_host_port.size() <= scheme_end + 3) return std::nullopt;
  return split;
}

// Sends `request` to `url` and collects at most kMaxAnswerBytes of the
// answer into `body` when it is given, else discards it.
bool Send(const std::string& url, httplib::Request request, const HttpOptions& options,
          std::string* body) {
  const std::optional<SplitUrl> split = Split(url);
  if (!split) return false;
  httplib::Client client(split->scheme_host_port);
  if (!client.is_valid()) return false;
  client.set_follow_location(true);
  client.set_connection_timeout(kHttpTimeoutSeconds, 0);
  client.set_read_timeout(kHttpTimeoutSeconds, 0);
  client.set_write_timeout(kHttpTimeoutSeconds, 0);
  if (!options.bound_ip.empty()) client.set_interface(options.bound_ip);
  if (!options.proxy_host.empty()) {
    client.set_proxy(options.proxy_host, static_cast<int>(options.proxy_port));
    if (options.proxy_basic_auth) {
      client.set_proxy_basic_auth(options.proxy_user, options.proxy_password);
    }
  }

  request.path = split->path;
  std::size_t received = 0;
  bool too_long = false;
  request.content_receiver = [&](const char* data, std::size_t length, std::uint64_t,
                                 std::uint64_t) {
    received += length;
    if (received > kMaxAnswerBytes) {
      too_long = true;
      return false;
    }
    if (body != nullptr) body->append(data, length);
    return true;
  };
  // A redirect starts the answer again.
  request.response_handler = [&](const httplib::Response&) {
    received = 0;
    if (body != nullptr) body->clear();
    return true;
  };

  const httplib::Result result = client.send(request);
  if (!result || too_long) return false;
  return result->status >= 200 && result->status < 300;
}

}  // namespace

std::optional<std::string> HttpGet(const std::string& url, const HttpOptions& options) {
  try {
    httplib::Request request;
    request.method = "GET";
    std::string body;
    if (!Send(url, std::move(request), options, &body)) return std::nullopt;
    return body;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool HttpPostForm(const std::string& url, const std::string& body, const HttpOptions& options) {
  try {
    httplib::Request request;
    request.method = "POST";
    request.body = body;
    request.set_header("Content-Type", "application/x-www-form-urlencoded");
    return Send(url, std::move(request), options, nullptr);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace voxhall::masterlist
