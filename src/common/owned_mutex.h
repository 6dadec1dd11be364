// A mutex that knows which thread holds it, for the lists whose operations
// require the caller to hold their lock: they assert it in debug builds.
// Usable with std::lock_guard and std::unique_lock.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace voxhall::common {

class OwnedMutex {
 public:
  void lock() {
    mu_.lock();
    owner_.store(std::this_thread::get_id());
  }
  void unlock() {
    owner_.store(std::thread::id{});
    mu_.unlock();
  }
  bool HeldByCurrentThread() const { return owner_.load() == std::this_thread::get_id(); }
  bool Locked() const { return owner_.load() != std::thread::id{}; }

 private:
  std::mutex mu_;
  std::atomic<std::thread::id> owner_{};
};

}  // namespace voxhall::common
