// The rate limit of log lines the network can trigger: the first line
// passes, repeats within the interval are counted, the line that resumes
// carries the count, sources and messages are limited separately, and the
// number of tracked pairs stays bounded.
#include "log/rate_limiter.h"

#include <gtest/gtest.h>

#include <string>

namespace voxhall::log {
namespace {

using std::chrono::seconds;
const LogRateLimiter::TimePoint kStart{seconds(1000)};

TEST(LogRateLimiterTest, FirstLinePassesThenOnePerIntervalWithCount) {
  LogRateLimiter limiter;
  EXPECT_EQ(limiter.Admit(7, "line", kStart), "line");
  for (int i = 1; i <= 500; ++i) {
    EXPECT_FALSE(limiter.Admit(7, "line", kStart + std::chrono::milliseconds(i * 10)));
  }
  EXPECT_EQ(limiter.Admit(7, "line", kStart + seconds(10)), "line (500 similar lines suppressed)");
  // A quiet interval later the line passes without a count.
  EXPECT_EQ(limiter.Admit(7, "line", kStart + seconds(25)), "line");
}

TEST(LogRateLimiterTest, SourcesAndMessagesAreLimitedSeparately) {
  LogRateLimiter limiter;
  EXPECT_TRUE(limiter.Admit(1, "a", kStart));
  EXPECT_TRUE(limiter.Admit(2, "a", kStart));
  EXPECT_TRUE(limiter.Admit(1, "b", kStart));
  EXPECT_FALSE(limiter.Admit(1, "a", kStart + seconds(1)));
  limiter.Forget(1);
  EXPECT_EQ(limiter.Admit(1, "a", kStart + seconds(2)), "a");  // a new player with the same id
  EXPECT_FALSE(limiter.Admit(2, "a", kStart + seconds(2)));
}

TEST(LogRateLimiterTest, DistinctLinesBeyondTheBoundShareOneSlot) {
  LogRateLimiter limiter;
  for (std::size_t i = 0; i < LogRateLimiter::kMaxTracked + 100; ++i) {
    limiter.Admit(3, "line " + std::to_string(i), kStart);
  }
  EXPECT_LE(limiter.TrackedForTest(), LogRateLimiter::kMaxTracked + 1);
  // Once their interval has passed, quiet entries make room again.
  EXPECT_EQ(limiter.Admit(3, "fresh", kStart + seconds(11)), "fresh");
  EXPECT_LE(limiter.TrackedForTest(), 3u);
}

}  // namespace
}  // namespace voxhall::log
