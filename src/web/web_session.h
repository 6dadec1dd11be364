// Browser sessions of the web administration: one per browser, named by the
// cookie "IDHTTPSESSIONID", bound to the browser's address, ended after an
// hour without a request or on request. A session holds name=value texts
// whose names compare without regard to letter case.
//
// Thread safety: HttpSession's variables are guarded by its own lock, which
// every accessor takes; callers that change or list several variables as
// one step hold Lock() around them (it is recursive). Lock order: a session
// lock comes before the configuration-file and ServerList locks (which
// ServerList->Lock() takes together), never after. SessionList is guarded
// by its own lock, which is never held while a session lock is taken.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace voxhall::web {

class HttpSession {
 public:
  HttpSession(std::string id, std::string remote_address);

  const std::string& id() const { return id_; }
  const std::string& remote_address() const { return remote_address_; }

  std::unique_lock<std::recursive_mutex> Lock() const {
    return std::unique_lock<std::recursive_mutex>(mu_);
  }

  // The value of `name`, empty when absent.
  std::string Get(std::string_view name) const;
  // Sets or adds a variable. A new name beyond kMaxVariables is ignored;
  // names and values are cut to their limits.
  void Set(std::string_view name, std::string_view value);
  void Remove(std::string_view name);
  // Every variable in the order of first setting.
  std::vector<std::pair<std::string, std::string>> Variables() const;
  // Whether "loggedin" is "1"; readable without the lock.
  bool LoggedIn() const { return logged_in_.load(std::memory_order_relaxed); }

  // Bounds of what one session may hold.
  static constexpr std::size_t kMaxVariables = 64;
  static constexpr std::size_t kMaxNameLength = 256;
  static constexpr std::size_t kMaxValueLength = 4096;

 private:
  const std::string id_;
  const std::string remote_address_;
  mutable std::recursive_mutex mu_;
  std::vector<std::pair<std::string, std::string>> variables_;  // GUARDED_BY(mu_)
  std::atomic<bool> logged_in_{false};  // mirrors "loggedin" == "1"
};

// The live sessions. Sessions are shared: a request keeps its session alive
// while it runs even when the list ends it meanwhile.
class SessionList {
 public:
  using Clock = std::chrono::steady_clock;

  // `timeout`: how long a session lives without a request. `max_sessions`:
  // how many may live at once. `now` tells the time (tests pass their own).
  SessionList(Clock::duration timeout, std::size_t max_sessions,
              std::function<Clock::time_point()> now = Clock::now);

  // The live session named `id` for a browser at `remote_address`, touched
  // (its idle time starts again); null when no live session has that id, it
  // has timed out, or it belongs to another address.
  std::shared_ptr<HttpSession> Find(std::string_view id, std::string_view remote_address);

  // Starts a session for a browser at `remote_address`; `on_start` runs on
  // it before anyone else can find it. When the list is full, timed-out
  // sessions are dropped first, then the one idle longest among those not
  // logged in; null when every session is logged in.
  std::shared_ptr<HttpSession> Start(std::string_view remote_address,
                                     const std::function<void(HttpSession&)>& on_start);

  // Ends the session: its id names no live session from now on.
  void End(const std::string& id);
  std::size_t Count();

 private:
  struct Entry {
    std::shared_ptr<HttpSession> session;
    Clock::time_point last_used;
  };

  // Makes room for one more session; false when none can go. Requires mu_.
  bool MakeRoom(Clock::time_point now);

  const Clock::duration timeout_;
  const std::size_t max_sessions_;
  const std::function<Clock::time_point()> now_;
  std::mutex mu_;
  std::unordered_map<std::string, Entry> entries_;  // GUARDED_BY(mu_), by id
};

// A new random session id: 32 hexadecimal digits.
std::string NewSessionId();

}  // namespace voxhall::web
