#include "transport/stopwatch.h"

#include <chrono>

namespace voxhall::transport {

namespace {

double Milliseconds(Clock::TimePoint from, Clock::TimePoint to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

bool InRange(double e, std::int32_t max_ms) { return e >= 0.0 && e <= max_ms; }

}  // namespace

Stopwatch::Stopwatch(const Clock& clock) : clock_(&clock), start_(clock.Now()) {}

double Stopwatch::ElapsedRaw() const { return Milliseconds(start_, clock_->Now()); }

bool Stopwatch::Elapsed(std::int32_t min_ms, std::int32_t max_ms, bool restart_if_out_of_range) {
  const double e = ElapsedRaw();
  if (InRange(e, max_ms)) return e > min_ms;
  if (restart_if_out_of_range) {
    Start();
    return false;
  }
  return true;
}

std::int32_t Stopwatch::ElapsedMs(std::int32_t max_ms, bool restart_if_out_of_range) {
  const double e = ElapsedRaw();
  if (InRange(e, max_ms)) return static_cast<std::int32_t>(e);
  if (restart_if_out_of_range) {
    Start();
    return 0;
  }
  return -1;
}

std::int32_t Stopwatch::MsBetween(std::int32_t max_ms, const Stopwatch& other) {
  const double d = Milliseconds(start_, other.start_);
  if (InRange(d, max_ms)) return static_cast<std::int32_t>(d);
  Start();
  return 0;
}

void Stopwatch::Assign(const Stopwatch& other) {
  clock_ = other.clock_;
  start_ = other.start_;
}

void Stopwatch::Start() { start_ = clock_->Now(); }

}  // namespace voxhall::transport
