#include "query/tcp_query.h"

#include <asio.hpp>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>
#include <thread>

#include "log/log.h"

namespace voxhall::query {

using namespace voxhall::log;

std::unique_ptr<TCPQuery> QueryInterface;

namespace {

constexpr std::string_view kCategory = "TCPQUERY";
constexpr std::string_view kGreeting = "[VH]\r\n";
// How long the acceptor waits before it tries again after a failed accept
// (out of file descriptors, say), so that it does not spin.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

// Dotted IPv4 text for IPv4 peers (also when they arrive IPv4-mapped).
std::string PeerText(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ec);
  if (ec) return "unknown";
  const asio::ip::address address = peer.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  }
  return address.to_string();
}

}  // namespace

// One client connection and the thread that serves it. The thread never
// closes the socket: the owner may interrupt it with a shutdown at any time,
// and the descriptor must stay this socket's until the thread is joined.
class TCPQuery::Connection {
 public:
  Connection(const QueryEnvironment& environment, asio::ip::tcp::socket socket, std::string peer)
      : environment_(environment), socket_(std::move(socket)), peer_(std::move(peer)) {}
  ~Connection() {
    if (thread_.joinable()) thread_.join();
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  // Wakes a blocking read or write; the thread then ends.
  void Interrupt() {
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 private:
  void Run() {
    try {
      if (WriteAll(kGreeting)) Serve();
    } catch (const std::exception& e) {
      LogException(kCategory, "TTCPQuery.OnExecute", e.what());
    }
    Interrupt();  // the peer sees the end of the connection at once
    finished_.store(true, std::memory_order_release);
  }

  void Serve() {
    std::unique_ptr<QuerySession> session;
    try {
      session = std::make_unique<QuerySession>(environment_, peer_);
    } catch (const std::exception&) {
      Log(lmtError, lmdAll, kCategory, "TTCPQuery.OnConnect: unable to initialize object");
      return;
    }
    std::string buffer;
    for (;;) {
      asio::error_code ec;
      // The limit leaves room for the line end behind the longest line.
      const std::size_t length = asio::read_until(
          socket_, asio::dynamic_buffer(buffer, kMaxLineLength + 2), '\n', ec);
      if (ec == asio::error::not_found) return LogLineTooLong();
      if (ec) return;
      std::string_view line(buffer.data(), length - 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > kMaxLineLength) return LogLineTooLong();

      bool keep_open = true;
      try {
        keep_open = session->HandleLine(line);
      } catch (const std::exception& e) {
        LogException(kCategory, "TTCPQuery.OnExecute", e.what());
        session->TakeReply();
        session->ReplyError("internal error");
      }
      buffer.erase(0, length);
      const std::string reply = session->TakeReply();
      if (!reply.empty() && !WriteAll(reply)) return;
      if (!keep_open) return;
    }
  }

  bool WriteAll(std::string_view bytes) {
    asio::error_code ec;
    asio::write(socket_, asio::buffer(bytes.data(), bytes.size()), ec);
    return !ec;
  }

  void LogLineTooLong() {
    Log(lmtWarning, lmdImportant, kCategory,
        "request line longer than " + std::to_string(kMaxLineLength) + " bytes from " + peer_ +
            ", connection closed");
  }

  const QueryEnvironment& environment_;
  asio::ip::tcp::socket socket_;
  const std::string peer_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

struct TCPQuery::Impl {
  QueryEnvironment environment;
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io};
  asio::steady_timer retry_timer{io};
  std::thread accept_thread;
  bool active = false;  // set once by the constructor

  std::mutex mu;
  std::condition_variable stop_cv;
  bool stopping = false;                                // GUARDED_BY(mu)
  std::list<std::unique_ptr<Connection>> connections;  // GUARDED_BY(mu)

  bool Listen(std::uint16_t port, const std::string& bound_ip) {
    asio::error_code ec;
    asio::ip::address address = asio::ip::address_v4::any();
    if (!bound_ip.empty()) address = asio::ip::make_address(bound_ip, ec);
    if (ec) return false;
    const asio::ip::tcp::endpoint endpoint(address, port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      asio::error_code ignored;
      acceptor.close(ignored);
      return false;
    }
    StartAccept();
    accept_thread = std::thread([this] { io.run(); });
    return true;
  }

  void StartAccept() {
    acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
      if (ec) {
        retry_timer.expires_after(kAcceptRetryDelay);
        retry_timer.async_wait([this](const asio::error_code& wait_ec) {
          if (!wait_ec) StartAccept();
        });
        return;
      }
      try {
        Accepted(std::move(socket));
      } catch (const std::exception& e) {
        LogException(kCategory, "TTCPQuery.OnConnect", e.what());
      }
      StartAccept();
    });
  }

  void Accepted(asio::ip::tcp::socket socket) {
    std::string peer = PeerText(socket);
    std::lock_guard lock(mu);
    if (stopping) return;
    connections.remove_if([](const std::unique_ptr<Connection>& c) { return c->Finished(); });
    if (connections.size() >= kMaxConnections) {
      Log(lmtWarning, lmdImportant, kCategory,
          "connection limit of " + std::to_string(kMaxConnections) + " reached, connection from " +
              peer + " closed");
      // A few bytes on a fresh connection never block.
      asio::error_code ignored;
      asio::write(socket, asio::buffer(kGreeting.data(), kGreeting.size()), ignored);
      socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
      socket.close(ignored);
      return;
    }
    connections.push_back(std::make_unique<Connection>(environment, std::move(socket), peer));
    try {
      connections.back()->Start();
    } catch (const std::exception&) {
      // No thread to serve it: the connection closes, the acceptor goes on.
      connections.pop_back();
      throw;
    }
  }

  void PauseUnlessStopping(std::chrono::milliseconds pause) {
    std::unique_lock lock(mu);
    stop_cv.wait_for(lock, pause, [this] { return stopping; });
  }

  void Stop() {
    {
      std::lock_guard lock(mu);
      stopping = true;
    }
    stop_cv.notify_all();
    io.stop();
    if (accept_thread.joinable()) accept_thread.join();
    asio::error_code ignored;
    acceptor.close(ignored);
    std::list<std::unique_ptr<Connection>> ending;
    {
      std::lock_guard lock(mu);
      ending.swap(connections);
    }
    for (const auto& connection : ending) connection->Interrupt();
    ending.clear();  // joins every connection's thread
  }
};

TCPQuery::TCPQuery(std::int64_t port, const std::string& bound_ip, QueryEnvironment environment)
    : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  environment.failed_login_pause = [impl] { impl->PauseUnlessStopping(kFailedLoginPause); };
  impl_->environment = std::move(environment);
  impl_->active = port > 0 && port <= 65535 &&
                  impl_->Listen(static_cast<std::uint16_t>(port), bound_ip);
  if (!impl_->active) {
    Log(lmtError, lmdAll, kCategory, "TTCPQuery.Create: unable to initialize communication ");
  }
}

TCPQuery::~TCPQuery() { impl_->Stop(); }

bool TCPQuery::Active() const { return impl_->active; }

}  // namespace voxhall::query
