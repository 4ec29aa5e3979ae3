// The programs' clocks: monotonic time for pacing and deadlines, wall time for capture stamps.
#pragma once

#include <time.h>

#include <cerrno>
#include <cstdint>

namespace torvane_clock {

// Monotonic time in seconds, any epoch.
inline double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Monotonic time in nanoseconds, the same epoch as Now().
inline int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Sleeps until monotonic time `deadline_ns`. Returns true once it is reached, false if a signal
// handler ran first (so a stop request is seen at once); a deadline in the past returns at once.
inline bool SleepUntilNs(int64_t deadline_ns) {
  if (deadline_ns < 0) return true;
  timespec t{};
  t.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
  t.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
  return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != EINTR;
}

// SleepUntilNs for a deadline in seconds of Now().
inline bool SleepUntil(double deadline) {
  return SleepUntilNs(static_cast<int64_t>(deadline * 1e9));
}

// Wall-clock time in microseconds since the epoch.
inline int64_t WallMicroseconds() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

}  // namespace torvane_clock
