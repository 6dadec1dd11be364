#include "support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace voxhall::testing {

LocalHttpServer::LocalHttpServer() {
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Record(request);
    std::lock_guard<std::mutex> lock(mu_);
    if (auto to = redirects_.find(request.path); to != redirects_.end()) {
      response.set_redirect(to->second);
    } else if (auto body = answers_.find(request.path); body != answers_.end()) {
      response.set_content(body->second, "text/html");
    } else if (request.method == "POST") {
      response.set_content("ok", "text/plain");
    } else {
      response.status = 404;
    }
  };
  server_.Get(".*", handler);
  server_.Post(".*", handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

LocalHttpServer::~LocalHttpServer() {
  server_.stop();
  thread_.join();
}

std::string LocalHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LocalHttpServer::Answer(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_[path] = body;
}

void LocalHttpServer::Redirect(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mu_);
  redirects_[from] = to;
}

void LocalHttpServer::Record(const httplib::Request& request) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(RecordedRequest{request.method, request.path,
                                      request.get_header_value("Content-Type"), request.body});
  arrived_.notify_all();
}

std::vector<RecordedRequest> LocalHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

bool LocalHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::string RefusingUrl(const std::string& path) {
  // Bind a socket to a free port without listening, take its number, close it.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
}

}  // namespace voxhall::testing
