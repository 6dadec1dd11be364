// A cpp-httplib server on 127.0.0.1 and a free port, run on its own thread
// for the length of a test. It records every request it gets and answers
// with what the test set for the path.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace voxhall::testing {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string content_type;
  std::string body;
};

class LocalHttpServer {
 public:
  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path) const;
  int port() const { return port_; }

  // GET `path` answers `body` with status 200. Any other GET gets 404; a
  // POST gets 200 "ok".
  void Answer(const std::string& path, const std::string& body);
  // GET or POST `from` redirects to `to` with status 302.
  void Redirect(const std::string& from, const std::string& to);

  std::vector<RecordedRequest> Requests() const;
  // Waits until at least `count` requests have arrived.
  bool WaitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  void Record(const httplib::Request& request);

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mu_;
  mutable std::condition_variable arrived_;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, std::string> answers_;    // GET path -> body
  std::map<std::string, std::string> redirects_;  // path -> target
};

// A loopback address on which nothing listens: a port that was free a moment
// ago.
std::string RefusingUrl(const std::string& path);

}  // namespace voxhall::testing
