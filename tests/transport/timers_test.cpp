#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "transport/auto_reset_event.h"
#include "transport/clock.h"
#include "transport/stopwatch.h"

namespace voxhall::transport {
namespace {

using std::chrono::milliseconds;

TEST(StopwatchTest, ElapsedMsCutsTheFractionAndHandlesOutOfRange) {
  ManualClock clock;
  Stopwatch w(clock);
  clock.AdvanceMs(1234.9);
  EXPECT_EQ(w.ElapsedMs(3000, false), 1234);

  clock.AdvanceMs(3500 - 1234.9);
  const auto start = w.StartTime();
  EXPECT_EQ(w.ElapsedMs(3000, false), -1);
  EXPECT_EQ(w.StartTime(), start);

  clock.AdvanceMs(130000 - 3500);
  EXPECT_EQ(w.ElapsedMs(120000, true), 0);
  EXPECT_EQ(w.StartTime(), clock.Now());
}

TEST(StopwatchTest, ElapsedComparesUnroundedTimeWithTheLimits) {
  struct Case {
    double after_ms;
    bool restart;
    bool expected;
    bool restarted;
  };
  const Case cases[] = {
      {50, false, false, false},   {100.5, false, true, false}, {200, false, true, false},
      {2000, false, true, false},  {2000, true, false, true},   {1000, true, true, false},
  };
  for (const Case& c : cases) {
    ManualClock clock;
    Stopwatch w(clock);
    const auto start = w.StartTime();
    clock.AdvanceMs(c.after_ms);
    EXPECT_EQ(w.Elapsed(100, 1000, c.restart), c.expected) << c.after_ms;
    EXPECT_EQ(w.StartTime() != start, c.restarted) << c.after_ms;
  }
}

TEST(StopwatchTest, MsBetweenRestartsOnNegativeOrTooLongDifference) {
  ManualClock clock;
  Stopwatch earlier(clock);
  clock.AdvanceMs(500.7);
  Stopwatch later(clock);
  EXPECT_EQ(earlier.MsBetween(120000, later), 500);

  // The other stopwatch started first: negative, so this one restarts.
  clock.AdvanceMs(10);
  EXPECT_EQ(later.MsBetween(120000, earlier), 0);
  EXPECT_EQ(later.StartTime(), clock.Now());

  Stopwatch old(clock);
  clock.AdvanceMs(120001);
  const Stopwatch now(clock);
  EXPECT_EQ(old.MsBetween(120000, now), 0);
  EXPECT_EQ(old.StartTime(), clock.Now());
}

TEST(StopwatchTest, ClockStepBackIsNeverTakenAsElapsedTime) {
  ManualClock clock;
  Stopwatch w(clock);
  clock.AdvanceMs(-200);  // what a wall clock does at midnight
  const Stopwatch now(clock);
  EXPECT_EQ(w.MsBetween(120000, now), 0);
  clock.AdvanceMs(50);
  EXPECT_EQ(w.ElapsedMs(3000, false), 50);
}

TEST(StopwatchTest, AssignCopiesTheStart) {
  ManualClock clock;
  Stopwatch a(clock);
  clock.AdvanceMs(40);
  Stopwatch b(clock);
  b.Assign(a);
  EXPECT_EQ(b.ElapsedMs(1000, false), 40);
}

TEST(AutoResetEventTest, SignalIsKeptForOneWait) {
  AutoResetEvent e;
  e.Signal();
  EXPECT_EQ(e.WaitFor(5000), WaitSignaled);
  EXPECT_EQ(e.WaitFor(10), WaitTimeout);
}

TEST(AutoResetEventTest, ResetClearsTheSignal) {
  AutoResetEvent e;
  e.Signal();
  e.Reset();
  EXPECT_EQ(e.WaitFor(10), WaitTimeout);
}

TEST(AutoResetEventTest, SignalWakesAWaitingThread) {
  AutoResetEvent e;
  WaitResult result = WaitError;
  std::thread waiter([&] { result = e.WaitFor(10000); });
  std::this_thread::sleep_for(milliseconds(20));
  e.Signal();
  waiter.join();
  EXPECT_EQ(result, WaitSignaled);
  EXPECT_EQ(e.WaitFor(0), WaitTimeout);  // consumed by the waiter
}

}  // namespace
}  // namespace voxhall::transport
