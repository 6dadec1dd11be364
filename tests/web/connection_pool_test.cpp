#include "web/connection_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace voxhall::web {
namespace {

TEST(ConnectionPoolTest, AFullPoolMakesTheAcceptingThreadWait) {
  ConnectionPool pool(2);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> served{0};
  const auto held = [&] {
    released.wait();
    ++served;
  };
  pool.Enqueue(held);
  pool.Enqueue(held);
  // The third connection waits until one of the first two ends.
  auto third = std::async(std::launch::async, [&] { pool.Enqueue([&] { ++served; }); });
  EXPECT_EQ(third.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  release.set_value();
  third.get();
  pool.Shutdown();
  EXPECT_EQ(served, 3);
}

TEST(ConnectionPoolTest, ClosingLetsQueuedWorkThroughAndShutdownServesIt) {
  ConnectionPool pool(1);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> served{0};
  pool.Enqueue([&] {
    released.wait();
    ++served;
  });
  pool.Close();
  pool.Enqueue([&] { ++served; });  // does not wait once closing
  release.set_value();
  pool.Shutdown();
  EXPECT_EQ(served, 2);
}

}  // namespace
}  // namespace voxhall::web
