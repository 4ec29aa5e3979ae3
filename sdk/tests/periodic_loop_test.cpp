// The periodic loop: overruns counted and skipped (never caught up), the every-Nth call in its
// place, stopping, interrupted sleeps, refused periods. Counts and order only, never durations.
#include "torvane/periodic_loop.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <string>
#include <thread>

#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

// Sleeps at least `seconds` (a sleep is never shorter than asked).
void SleepAtLeast(double seconds) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

}  // namespace

TEST(PeriodicLoop, OverrunsAreCountedAndSkippedNotCaughtUp) {
  const double period = 0.02;
  PeriodicLoop loop(period);
  ASSERT_TRUE(loop.Valid());
  loop.Start();
  int late = 0;
  for (int i = 0; i < 8; ++i) {
    const bool overran_on_purpose = i == 2 || i == 5;
    if (overran_on_purpose) SleepAtLeast(3.5 * period);
    const bool on_time = loop.Wait();
    if (overran_on_purpose) {
      EXPECT_FALSE(on_time) << "cycle " << i;
      // No sleep after an overrun, and it is at least 2.5 periods late.
      EXPECT_GE(loop.LastLateness(), 2.5 * period);
    }
    if (!on_time) ++late;
  }
  EXPECT_EQ(loop.Cycles(), 8u);
  EXPECT_GE(loop.Overruns(), 2u);
  EXPECT_EQ(loop.Overruns(), static_cast<uint64_t>(late));
  EXPECT_GE(loop.MissedDeadlines(), 4u);  // two whole periods skipped by each
  EXPECT_GE(loop.MaxLateness(), 2.5 * period);
}

// After an overrun the deadlines start again from the late wake-up: a cycle that is on time
// sleeps, so no two cycles follow back to back.
TEST(PeriodicLoop, AfterAnOverrunTheNextCycleSleeps) {
  PeriodicLoop loop(0.05);
  loop.Start();
  SleepAtLeast(0.2);
  EXPECT_FALSE(loop.Wait());
  const double woke = MonotonicSeconds();
  EXPECT_TRUE(loop.Wait()) << "the next deadline is one period after the late wake-up";
  EXPECT_GT(MonotonicSeconds(), woke);
  EXPECT_EQ(loop.Overruns(), 1u);
}

TEST(PeriodicLoop, SlowFunctionEveryNthCycleBeforeTheBody) {
  PeriodicLoop loop(0.001);
  std::string order;
  const uint64_t ran = loop.Run(
      10, [&] { order += 'B'; }, 4, [&] { order += 'S'; });
  EXPECT_EQ(ran, 10u);
  EXPECT_EQ(order, "SBBBBSBBBBSBB");
  EXPECT_EQ(loop.Cycles(), 10u);  // a Wait after every body
}

TEST(PeriodicLoop, BodyReturningFalseStops) {
  PeriodicLoop loop(0.001);
  int calls = 0;
  const uint64_t ran = loop.Run(0, [&] { return ++calls < 5; });
  EXPECT_EQ(ran, 5u);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(loop.Cycles(), 4u);  // no Wait after the last body
}

TEST(PeriodicLoop, RefusesBadPeriods) {
  for (double period : {0.0, -0.002, 1e9, 1e-12}) {
    Captured c = Capture([&] {
      PeriodicLoop loop(period);
      EXPECT_FALSE(loop.Valid());
      EXPECT_FALSE(loop.Wait());
      int calls = 0;
      EXPECT_EQ(loop.Run(3, [&] { ++calls; }), 0u);
      EXPECT_EQ(calls, 0);
    });
    EXPECT_EQ(
        c.out.rfind("[Error] PeriodicLoop: the period must be above 0 s and at most 3600 s", 0), 0u)
        << c.out;
  }
}

// A signal ends an interruptible sleep early and leaves its deadline pending; without the flag
// the sleep goes on to its deadline.
TEST(PeriodicLoop, SignalEndsAnInterruptibleSleep) {
  struct sigaction action {};
  struct sigaction before {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);
  const pthread_t sleeper = pthread_self();
  std::atomic<bool> done{false};
  // Signals the sleeper until it is awake again: one signal may come before the sleep begins.
  std::thread signaller([&] {
    while (!done.load()) {
      pthread_kill(sleeper, SIGUSR1);
      SleepAtLeast(0.001);
    }
  });
  PeriodicLoop loop(600.0);
  loop.Start();
  bool interrupted = false;
  EXPECT_TRUE(loop.Wait(&interrupted));
  done = true;
  signaller.join();
  sigaction(SIGUSR1, &before, nullptr);
  EXPECT_TRUE(interrupted);
  EXPECT_EQ(loop.Cycles(), 0u) << "an interrupted sleep is no cycle";
  EXPECT_EQ(loop.Overruns(), 0u);
}
