// The threads that serve the web administration's connections: one thread
// per connection, at most a fixed number of connections at a time. When
// that many are open or waiting, the accepting thread waits for one to end,
// so further browsers queue in the operating system's backlog instead of
// costing memory or threads here.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace voxhall::web {

class ConnectionPool {
 public:
  explicit ConnectionPool(std::size_t max_connections);
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Queues the service of one connection; waits while the pool is full,
  // unless it is closing.
  void Enqueue(std::function<void()> job);
  // Stops waiting for room: from now on Enqueue queues at once.
  void Close();
  // Serves what is queued, then ends and joins every thread.
  void Shutdown();

 private:
  void Work();

  const std::size_t max_connections_;
  std::mutex mu_;
  std::condition_variable jobs_ready_;
  std::condition_variable room_;
  std::deque<std::function<void()>> jobs_;  // GUARDED_BY(mu_)
  std::size_t active_ = 0;                  // GUARDED_BY(mu_)
  std::size_t idle_ = 0;                    // GUARDED_BY(mu_)
  bool closing_ = false;                    // GUARDED_BY(mu_)
  bool shutdown_ = false;                   // GUARDED_BY(mu_)
  std::vector<std::thread> threads_;        // GUARDED_BY(mu_)
};

}  // namespace voxhall::web
