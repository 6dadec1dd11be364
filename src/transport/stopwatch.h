// Stopwatch: milliseconds since it was started, read from a Clock. Its rules
// decide what happens with an implausible measurement (negative, or beyond
// the caller's limit): the transport never acts on such a value, it restarts
// the stopwatch instead. Used by the connection records and the packet buffer
// under the buffer's lock; a Stopwatch itself is not synchronised.
#pragma once

#include <cstdint>

#include "transport/clock.h"

namespace voxhall::transport {

class Stopwatch {
 public:
  // Creates a stopwatch that is already started. `clock` must outlive it.
  explicit Stopwatch(const Clock& clock = DefaultClock());

  // e is the elapsed time in milliseconds, unrounded. If 0 <= e <= max_ms:
  // e > min_ms. Otherwise: restarts and answers false when
  // restart_if_out_of_range, else answers true.
  bool Elapsed(std::int32_t min_ms, std::int32_t max_ms, bool restart_if_out_of_range);

  // If 0 <= e <= max_ms: e with the fraction cut off. Otherwise: restarts and
  // answers 0 when restart_if_out_of_range, else answers -1.
  std::int32_t ElapsedMs(std::int32_t max_ms, bool restart_if_out_of_range);

  // d := other's start minus this one's, in milliseconds. If 0 <= d <= max_ms:
  // d with the fraction cut off. Otherwise restarts this stopwatch and answers
  // 0. "Time since this stopwatch" is this->MsBetween(limit, now), `now` being
  // a stopwatch just started.
  std::int32_t MsBetween(std::int32_t max_ms, const Stopwatch& other);

  // Copies the other stopwatch's start instant (and clock).
  void Assign(const Stopwatch& other);

  // Reads the clock into the start instant.
  void Start();

  Clock::TimePoint StartTime() const { return start_; }

 private:
  double ElapsedRaw() const;

  const Clock* clock_;
  Clock::TimePoint start_;
};

}  // namespace voxhall::transport
