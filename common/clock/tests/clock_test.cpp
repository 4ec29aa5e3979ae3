// The monotonic clock: one epoch for both units, deadlines reached, a signal ends a sleep.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "clock/monotonic_clock.h"

using torvane_clock::Now;
using torvane_clock::NowNs;

TEST(MonotonicClock, SecondsAndNanosecondsShareTheEpochAndNeverGoBack) {
  int64_t last = NowNs();
  for (int i = 0; i < 1000; ++i) {
    const int64_t before = NowNs();
    const double seconds = Now();
    const int64_t after = NowNs();
    ASSERT_GE(before, last);
    ASSERT_LE(before, after);
    ASSERT_GE(seconds, static_cast<double>(before) * 1e-9 - 1e-6);
    ASSERT_LE(seconds, static_cast<double>(after) * 1e-9 + 1e-6);
    last = after;
  }
}

TEST(MonotonicClock, SleepReachesItsDeadline) {
  const int64_t deadline = NowNs() + 20000000;  // 20 ms
  EXPECT_TRUE(torvane_clock::SleepUntilNs(deadline));
  EXPECT_GE(NowNs(), deadline);
  const double seconds = Now() + 0.02;
  EXPECT_TRUE(torvane_clock::SleepUntil(seconds));
  EXPECT_GE(Now(), seconds);
  // Deadlines already passed, or before the epoch, return at once.
  EXPECT_TRUE(torvane_clock::SleepUntilNs(NowNs() - 1000000000));
  EXPECT_TRUE(torvane_clock::SleepUntilNs(-5));
}

namespace {
void Nothing(int) {}
}  // namespace

TEST(MonotonicClock, ASignalEndsTheSleepEarly) {
  struct sigaction action {};
  action.sa_handler = Nothing;  // no SA_RESTART
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  const pthread_t sleeper = pthread_self();
  std::atomic<bool> done{false};
  // The signal is sent again until the sleep has ended, so no timing is assumed.
  std::thread signaller([&] {
    while (!done.load()) {
      pthread_kill(sleeper, SIGUSR1);
      torvane_clock::SleepUntilNs(NowNs() + 1000000);
    }
  });
  const bool reached = torvane_clock::SleepUntilNs(NowNs() + 60000000000LL);  // a minute
  done = true;
  signaller.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_FALSE(reached);
}

TEST(MonotonicClock, WallTimeIsSinceTheEpoch) {
  const int64_t us = torvane_clock::WallMicroseconds();
  EXPECT_GT(us, 1600000000LL * 1000000);  // after September 2020
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  EXPECT_LE(us, static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000);
}
