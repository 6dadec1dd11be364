// AutoResetEvent: the wake-up signal on which the listener and the sender
// sleep inside the packet buffer. A signal wakes one waiter and is consumed by
// it; a signal given while nobody waits stays set until the next wait, so no
// wake-up is lost. Any thread may call any operation.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace voxhall::transport {

// Outcomes of a timed wait. The values are fixed. This implementation only
// ever answers WaitSignaled or WaitTimeout; the two others exist for callers
// that switch over all outcomes.
enum WaitResult : std::uint8_t {
  WaitSignaled = 0,
  WaitTimeout = 1,
  WaitAbandoned = 2,
  WaitError = 3,
};

class AutoResetEvent {
 public:
  AutoResetEvent() = default;  // not signalled
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  // Sets the event: one waiter wakes and clears it; with no waiter it stays
  // set and the next WaitFor returns at once and clears it.
  void Signal();
  // Clears the event.
  void Reset();
  // Waits at most `ms` milliseconds (negative counts as 0) for the event and
  // clears it: WaitSignaled when it was set in time, WaitTimeout otherwise.
  WaitResult WaitFor(std::int32_t ms);

 private:
  std::mutex mu_;  // guards signaled_; never held while waiting for another lock
  std::condition_variable cv_;
  bool signaled_ = false;  // GUARDED_BY(mu_)
};

}  // namespace voxhall::transport
