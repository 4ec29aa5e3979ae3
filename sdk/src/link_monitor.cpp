// Link quality from the loop's Recv results.
#include "torvane/link_monitor.h"

#include <cmath>
#include <cstring>

#include "console.h"

namespace TORVANE {

namespace {

// Seconds to whole cycles, rounded to the nearest, at least one.
uint64_t WholeCycles(double seconds, double period) {
  const double cycles = std::floor(seconds / period + 0.5);
  if (!(cycles >= 1)) return 1;
  if (cycles > 1e15) return static_cast<uint64_t>(1e15);
  return static_cast<uint64_t>(cycles);
}

}  // namespace

LinkMonitor::LinkMonitor(double period_s, double lost_after_s) {
  // One second of slots is at most 1e6 at a 1 us period: refuse periods that would be more.
  if (!(period_s >= 1e-6) || !std::isfinite(period_s)) {
    detail::Line("[Error] LinkMonitor: the period must be at least 1e-06 s, not %g", period_s);
    return;
  }
  period_ = period_s;
  lost_after_ = WholeCycles(lost_after_s, period_s);
  window_ = WholeCycles(1.0, period_s);
  ring_.reset(new uint8_t[window_]());
}

void LinkMonitor::Reset() {
  if (!Valid()) return;
  std::memset(ring_.get(), 0, window_);
  head_ = in_window_ = valid_in_window_ = 0;
  cycles_ = valid_ = since_valid_ = longest_gap_ = lost_events_ = 0;
  lost_ = false;
}

bool LinkMonitor::Update(int recv_result) {
  if (!Valid()) return false;
  const uint8_t ok = recv_result == 0 ? 1 : 0;
  if (in_window_ == window_) {
    valid_in_window_ -= ring_[head_];
  } else {
    ++in_window_;
  }
  ring_[head_] = ok;
  valid_in_window_ += ok;
  head_ = head_ + 1 == window_ ? 0 : head_ + 1;
  ++cycles_;
  if (ok) {
    ++valid_;
    since_valid_ = 0;
    if (lost_) {
      lost_ = false;
      if (callback_) callback_(LinkEvent::kRestored, *this, user_);
    }
    return false;
  }
  ++since_valid_;
  if (since_valid_ > longest_gap_) longest_gap_ = since_valid_;
  if (!lost_ && since_valid_ >= lost_after_) {
    lost_ = true;
    ++lost_events_;
    if (callback_) callback_(LinkEvent::kLost, *this, user_);
  }
  return lost_;
}

double LinkMonitor::SuccessRate() const {
  if (in_window_ == 0) return 1.0;
  return static_cast<double>(valid_in_window_) / static_cast<double>(in_window_);
}

}  // namespace TORVANE
