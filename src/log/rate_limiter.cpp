#include "log/rate_limiter.h"

namespace voxhall::log {

namespace {
// The message under which pairs beyond the bound are counted.
constexpr std::string_view kOverflowMessage = "\x01overflow";
}  // namespace

std::optional<std::string> LogRateLimiter::Admit(std::uint64_t source, std::string_view message,
                                                 TimePoint now) {
  std::lock_guard<std::mutex> lock(mu_);
  Key key{source, std::string(message)};
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    if (entries_.size() >= kMaxTracked) PruneLocked(now);
    if (entries_.size() >= kMaxTracked) {
      // Too many distinct lines: they all share one slot of their source.
      key.second = kOverflowMessage;
      it = entries_.find(key);
    }
    if (it == entries_.end()) {
      entries_.emplace(std::move(key), Entry{now, 0});
      return std::string(message);
    }
  }
  Entry& entry = it->second;
  if (now - entry.last_written < interval_) {
    ++entry.suppressed;
    return std::nullopt;
  }
  std::string line(message);
  if (entry.suppressed > 0) {
    line += " (" + std::to_string(entry.suppressed) + " similar lines suppressed)";
  }
  entry = Entry{now, 0};
  return line;
}

void LogRateLimiter::Forget(std::uint64_t source) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = entries_.lower_bound(Key{source, std::string()});
  while (it != entries_.end() && it->first.first == source) it = entries_.erase(it);
}

std::size_t LogRateLimiter::TrackedForTest() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

void LogRateLimiter::PruneLocked(TimePoint now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.suppressed == 0 && now - it->second.last_written >= interval_) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace voxhall::log
