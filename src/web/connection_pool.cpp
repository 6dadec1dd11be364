#include "web/connection_pool.h"

namespace voxhall::web {

ConnectionPool::ConnectionPool(std::size_t max_connections) : max_connections_(max_connections) {}

ConnectionPool::~ConnectionPool() { Shutdown(); }

void ConnectionPool::Enqueue(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mu_);
  room_.wait(lock, [this] { return closing_ || active_ + jobs_.size() < max_connections_; });
  jobs_.push_back(std::move(job));
  if (jobs_.size() > idle_ && threads_.size() < max_connections_ && !shutdown_) {
    threads_.emplace_back([this] { Work(); });
  } else {
    jobs_ready_.notify_one();
  }
}

void ConnectionPool::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closing_ = true;
  room_.notify_all();
}

void ConnectionPool::Shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mu_);
    closing_ = true;
    shutdown_ = true;
    threads.swap(threads_);
  }
  room_.notify_all();
  jobs_ready_.notify_all();
  for (std::thread& t : threads) t.join();
}

void ConnectionPool::Work() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    jobs_ready_.wait(lock, [this] { return !jobs_.empty() || shutdown_; });
    --idle_;
    if (jobs_.empty()) return;  // shut down with nothing left to serve
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++active_;
    lock.unlock();
    job();
    lock.lock();
    --active_;
    room_.notify_one();
  }
}

}  // namespace voxhall::web
