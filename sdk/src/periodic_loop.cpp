// Sleeping to absolute deadlines on the monotonic clock.
#include "torvane/periodic_loop.h"

#include <time.h>

#include <cerrno>
#include <cmath>

#include "console.h"

namespace TORVANE {

namespace {

constexpr int64_t kBillion = 1000000000;

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kBillion + ts.tv_nsec;
}

}  // namespace

double MonotonicSeconds() {
  return static_cast<double>(NowNs()) * 1e-9;
}

PeriodicLoop::PeriodicLoop(double period_s) {
  if (!(period_s > 0 && period_s <= 3600) || !(period_s * 1e9 >= 1)) {
    detail::Line("[Error] PeriodicLoop: the period must be above 0 s and at most 3600 s, not %g",
                 period_s);
    return;
  }
  period_ns_ = static_cast<int64_t>(std::llround(period_s * 1e9));
}

void PeriodicLoop::Start() {
  if (!Valid()) return;
  const int64_t now = NowNs();
  deadline_ns_ = now + period_ns_;
  last_wake_ns_ = now;
  last_period_error_ns_ = last_lateness_ns_ = max_lateness_ns_ = 0;
  cycles_ = overruns_ = missed_ = 0;
  started_ = true;
}

bool PeriodicLoop::Wait(bool* interrupted) {
  if (!Valid()) return false;
  if (!started_) Start();
  const int64_t before = NowNs();
  bool slept = false;
  if (before < deadline_ns_) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline_ns_ / kBillion);
    ts.tv_nsec = static_cast<long>(deadline_ns_ % kBillion);
    for (;;) {
      const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
      if (rc == 0) break;
      if (rc == EINTR && interrupted != nullptr) {
        *interrupted = true;
        return true;  // the deadline stays pending
      }
      if (rc != EINTR) break;
    }
    slept = true;
  }
  const int64_t wake = slept ? NowNs() : before;
  const int64_t late = wake - deadline_ns_;
  last_lateness_ns_ = late > 0 ? late : 0;
  if (last_lateness_ns_ > max_lateness_ns_) max_lateness_ns_ = last_lateness_ns_;
  last_period_error_ns_ = (wake - last_wake_ns_) - period_ns_;
  last_wake_ns_ = wake;
  ++cycles_;
  if (slept) {
    deadline_ns_ += period_ns_;
    return true;
  }
  // Overran: skip the deadlines already past and lay the next ones from now.
  ++overruns_;
  missed_ += static_cast<uint64_t>(late / period_ns_);
  deadline_ns_ = wake + period_ns_;
  return false;
}

}  // namespace TORVANE
