// The monotonic time source of the transport. Stopwatches, connection records
// and the packet buffer read time only through a Clock, so tests can replace
// the steady clock with a ManualClock and drive time-outs without sleeping.
// Both clocks may be read from any thread.
#pragma once

#include <atomic>
#include <chrono>

namespace voxhall::transport {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
};

// std::chrono::steady_clock: never jumps, whatever the wall clock does.
class SteadyClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
};

// The process-wide steady clock; lives for the whole process.
const Clock& DefaultClock();

// A clock that only moves when told to. Starts at an arbitrary fixed instant
// far from the steady clock's epoch; may also be set backwards to imitate a
// clock jump.
class ManualClock final : public Clock {
 public:
  ManualClock() = default;

  TimePoint Now() const override {
    return TimePoint(std::chrono::nanoseconds(ns_.load(std::memory_order_relaxed)));
  }
  void Advance(std::chrono::nanoseconds d) { ns_.fetch_add(d.count(), std::memory_order_relaxed); }
  void AdvanceMs(double ms) {
    Advance(std::chrono::nanoseconds(static_cast<long long>(ms * 1e6)));
  }

 private:
  // One day after the epoch, so that stepping back stays on the positive side.
  std::atomic<long long> ns_{86'400'000'000'000LL};
};

}  // namespace voxhall::transport
