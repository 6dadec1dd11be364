// LogRateLimiter: keeps log lines that the network can trigger at will from
// filling the disk. The first line of a source and message is written; after
// it, at most one line of the same source and message per interval, and the
// line that resumes tells how many were held back. Sources are numbers the
// caller chooses (a player id, or 0 for "not logged in"); messages are the
// lines themselves. The number of tracked pairs is bounded.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace voxhall::log {

class LogRateLimiter {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::seconds kDefaultInterval{10};
  // Pairs tracked at most; beyond, new pairs share one slot per source.
  static constexpr std::size_t kMaxTracked = 4096;

  explicit LogRateLimiter(std::chrono::nanoseconds interval = kDefaultInterval)
      : interval_(interval) {}

  // The line to write for `message` from `source` at `now`, or nothing when
  // it is to be suppressed. The line is the message itself, or, after
  // suppressed ones, the message followed by " (N similar lines suppressed)".
  std::optional<std::string> Admit(std::uint64_t source, std::string_view message, TimePoint now);

  // Forgets everything about a source (a player that left), so its id can be
  // reused with a clean slate.
  void Forget(std::uint64_t source);

  std::size_t TrackedForTest() const;

 private:
  struct Entry {
    TimePoint last_written;
    std::uint64_t suppressed = 0;
  };
  using Key = std::pair<std::uint64_t, std::string>;

  // Drops entries whose interval has passed with nothing suppressed.
  void PruneLocked(TimePoint now);

  const std::chrono::nanoseconds interval_;
  mutable std::mutex mu_;
  std::map<Key, Entry, std::less<>> entries_;  // GUARDED_BY(mu_)
};

}  // namespace voxhall::log
