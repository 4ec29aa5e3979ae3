// Datagrams delayed by whole periods. Each value put in at cycle c arrives at c + n, n drawn
// from the latency (mean and jitter in ms, over the period, rounded to the nearest whole period,
// never below 0); the value on hand at a cycle is the newest one that has arrived by then, so a
// late datagram overtaken by a newer one is never seen, as on a real link that keeps the latest.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "conditions/conditions.h"
#include "conditions/random_stream.h"

namespace torvane_sim {

// The delay in periods of a latency, drawn with `normal` (a standard normal value).
inline uint64_t PeriodsOf(const Latency& latency, double period_s, double normal) {
  const double ms = latency.mean_ms + latency.jitter_ms * std::clamp(normal, -3.0, 3.0);
  return static_cast<uint64_t>(std::max(0.0, std::floor(ms / (1000.0 * period_s) + 0.5)));
}

template <typename T>
class DelayLine {
 public:
  DelayLine(const Latency& latency, double period_s, uint64_t seed, uint64_t stream)
      : latency_(latency),
        period_s_(period_s),
        random_(seed, stream),
        slots_(PeriodsOf(latency, period_s, 3.0) + 2) {}

  // The value made at cycle `now`; it arrives after its drawn delay.
  void Put(const T& value, uint64_t now) {
    Slot& s = slots_[made_ % slots_.size()];
    s.value = value;
    s.order = ++made_;
    s.arrival = now + (latency_.jitter_ms > 0 ? PeriodsOf(latency_, period_s_, random_.Normal())
                                              : PeriodsOf(latency_, period_s_, 0.0));
  }
  // A value on hand at once, until the first one put in arrives.
  void Hold(const T& value) { current_ = value; }
  // Brings the value on hand up to what has arrived by cycle `now`. True if one put in has.
  bool Advance(uint64_t now) {
    for (const Slot& s : slots_) {
      if (s.order > current_order_ && s.arrival <= now) {
        current_ = s.value;
        current_order_ = s.order;
      }
    }
    return current_order_ > 0;
  }
  const T& current() const { return current_; }

 private:
  struct Slot {
    T value{};
    uint64_t order = 0;  // 0: empty
    uint64_t arrival = 0;
  };
  Latency latency_;
  double period_s_;
  RandomStream random_;
  std::vector<Slot> slots_;
  uint64_t made_ = 0, current_order_ = 0;
  T current_{};
};

}  // namespace torvane_sim
