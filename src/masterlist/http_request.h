// One outgoing HTTP request of the poster or the IP check: a client that
// follows redirects, binds to a local address when one is set and goes
// through a proxy when one is set. Used from the poster's and the check's
// own threads; every call makes its own client, so calls never share state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace voxhall::masterlist {

struct HttpOptions {
  std::string bound_ip;  // local address for the connection; empty: any
  // Proxy; an empty host means a direct connection.
  std::string proxy_host;
  std::int64_t proxy_port = 8080;
  std::string proxy_user;
  std::string proxy_password;
  bool proxy_basic_auth = false;
};

// Bounds that keep one request from blocking a stop for long or from
// filling memory with a large answer.
inline constexpr int kHttpTimeoutSeconds = 10;
inline constexpr std::size_t kMaxAnswerBytes = 64 * 1024;

// GET of `url`. Answers the body, or nullopt when the address is not a valid
// http(s) address, the request fails, the final status is not 2xx, or the
// body is longer than kMaxAnswerBytes.
std::optional<std::string> HttpGet(const std::string& url, const HttpOptions& options);

// POST of `body` as "application/x-www-form-urlencoded" to `url`; the answer
// is read and discarded. Answers whether a 2xx status came back.
// Neither call throws.
bool HttpPostForm(const std::string& url, const std::string& body, const HttpOptions& options);

}  // namespace voxhall::masterlist
