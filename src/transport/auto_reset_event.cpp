#include "transport/auto_reset_event.h"

#include <chrono>

namespace voxhall::transport {

void AutoResetEvent::Signal() {
  {
    std::lock_guard lock(mu_);
    signaled_ = true;
  }
  cv_.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard lock(mu_);
  signaled_ = false;
}

WaitResult AutoResetEvent::WaitFor(std::int32_t ms) {
  std::unique_lock lock(mu_);
  const auto timeout = std::chrono::milliseconds(ms > 0 ? ms : 0);
  if (!cv_.wait_for(lock, timeout, [this] { return signaled_; })) return WaitTimeout;
  signaled_ = false;
  return WaitSignaled;
}

}  // namespace voxhall::transport
