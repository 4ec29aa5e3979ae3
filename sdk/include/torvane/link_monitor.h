// Link quality seen from the control loop: fed with each cycle's Recv result, it tells how long
// ago the last valid state came, how many states arrived over the last second, the longest gap,
// and whether the link is lost (too many cycles in a row without a valid state).
//
// Time is counted in cycles of the period given at construction; seconds are cycles × period.
// Everything is allocated at construction: Update allocates nothing and never blocks.
#pragma once

#include <cstdint>
#include <memory>

namespace TORVANE {

enum class LinkEvent {
  kLost,      // lostAfterCycles cycles in a row without a valid state
  kRestored,  // the first valid state after kLost
};

class LinkMonitor {
 public:
  // Called from Update, on the loop's thread, when the link is lost and when it comes back.
  using Callback = void (*)(LinkEvent event, const LinkMonitor& monitor, void* user);

  // period_s: the loop's period [s] (above 0); lost_after_s: seconds without a valid state
  // after which the link counts as lost (at least one cycle). A period that is not above 0 is
  // refused with one line on standard output and leaves a monitor whose Valid() is false and
  // whose Update does nothing.
  explicit LinkMonitor(double period_s, double lost_after_s = 0.1);
  LinkMonitor(const LinkMonitor&) = delete;
  LinkMonitor& operator=(const LinkMonitor&) = delete;

  bool Valid() const { return window_ > 0; }

  // One cycle: Recv's result (0 = a valid state was published; anything else = none this cycle).
  // Returns true when the link is lost after this cycle.
  bool Update(int recv_result);
  // Calls callback(event, *this, user) on each kLost and kRestored; nullptr for none.
  void SetCallback(Callback callback, void* user) {
    callback_ = callback;
    user_ = user;
  }
  // Back to the state of a new monitor (the callback stays).
  void Reset();

  // Cycles since the last valid state (all cycles so far if none came yet).
  uint64_t CyclesSinceValid() const { return since_valid_; }
  double SecondsSinceValid() const { return static_cast<double>(since_valid_) * period_; }
  // Share of the last second's cycles (fewer until a second has passed) that had a valid
  // state, 0 to 1; 1 before the first cycle.
  double SuccessRate() const;
  // The longest run of cycles without a valid state so far, the current one included.
  uint64_t LongestGapCycles() const { return longest_gap_; }
  double LongestGapSeconds() const { return static_cast<double>(longest_gap_) * period_; }
  bool Lost() const { return lost_; }
  uint64_t Cycles() const { return cycles_; }
  uint64_t ValidCycles() const { return valid_; }
  // How often the link was lost so far.
  uint64_t LostEvents() const { return lost_events_; }
  double Period() const { return period_; }
  uint64_t LostAfterCycles() const { return lost_after_; }
  // Cycles in the success-rate window (one second at the period, at least one).
  uint64_t WindowCycles() const { return window_; }

 private:
  double period_ = 0;
  uint64_t lost_after_ = 1;
  uint64_t window_ = 0;
  std::unique_ptr<uint8_t[]> ring_;  // 1 for a cycle with a valid state, per window slot
  uint64_t head_ = 0;                // next slot to write
  uint64_t in_window_ = 0;           // cycles in the window so far
  uint64_t valid_in_window_ = 0;
  uint64_t cycles_ = 0;
  uint64_t valid_ = 0;
  uint64_t since_valid_ = 0;
  uint64_t longest_gap_ = 0;
  uint64_t lost_events_ = 0;
  bool lost_ = false;
  Callback callback_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace TORVANE
