// A loop that keeps time: it sleeps to absolute deadlines on the monotonic clock
// (clock_nanosleep with TIMER_ABSTIME), so its period does not drift with the body's duration or
// the sleep's latency, counts the cycles whose body overran their deadline, and reports the
// period error of each wake-up. It can call a second function every Nth cycle (a 50 Hz policy
// over a 500 Hz PD loop).
//
// Overruns: a body that ends after its deadline gets no sleep; the next cycle starts at once and
// the deadlines are laid anew from that moment (one period apart). Missed deadlines are skipped,
// never caught up: a robot wants its commands evenly spaced, and a burst of back-to-back catch-up
// cycles after a stall would send it commands faster than its own loop runs.
//
// Nothing here allocates or throws; one loop belongs to one thread.
#pragma once

#include <cstdint>
#include <type_traits>

namespace TORVANE {

// The monotonic clock (CLOCK_MONOTONIC) in seconds.
double MonotonicSeconds();

class PeriodicLoop {
 public:
  // period_s: above 0 and at most one hour; anything else is refused with one line on standard
  // output and leaves a loop whose Valid() is false, whose Wait returns false at once and whose
  // Run runs nothing.
  explicit PeriodicLoop(double period_s);

  bool Valid() const { return period_ns_ > 0; }

  // Lays the deadlines from now: the first Wait sleeps until now + period. Counters restart.
  void Start();
  // Ends a cycle: sleeps until its deadline and returns true, or returns false at once when the
  // deadline has passed already (an overrun). Starts the loop if Start was not called. A signal
  // that interrupts the sleep is slept through, unless `interrupted` is given: then the sleep
  // ends early, *interrupted is set and the deadline stays pending for the next Wait.
  bool Wait(bool* interrupted = nullptr);

  // Runs `cycles` cycles (0: until the body returns false): body(), then Wait. A body returning
  // bool stops the loop by returning false. Returns the cycles run.
  template <typename Body>
  uint64_t Run(uint64_t cycles, Body&& body) {
    return Run(cycles, body, 0, [] {});
  }
  // The same, and slow() every `every` cycles (cycles 0, every, 2 × every, ...), before the body
  // of that cycle, so that the body uses what slow() just computed.
  template <typename Body, typename Slow>
  uint64_t Run(uint64_t cycles, Body&& body, uint64_t every, Slow&& slow) {
    return RunWith(cycles, body, every, slow, [this] { Wait(); });
  }
  // Run with wait() ending each cycle in place of Wait(), for a caller that must do something
  // around the sleep (a binding releasing its interpreter's lock); wait() calls Wait().
  template <typename Body, typename Slow, typename WaitFn>
  uint64_t RunWith(uint64_t cycles, Body&& body, uint64_t every, Slow&& slow, WaitFn&& wait) {
    if (!Valid()) return 0;
    Start();
    uint64_t done = 0;
    while (cycles == 0 || done < cycles) {
      if (every != 0 && done % every == 0) slow();
      bool go_on = true;
      if constexpr (std::is_same_v<decltype(body()), bool>) {
        go_on = body();
      } else {
        body();
      }
      ++done;
      if (!go_on) break;
      wait();
    }
    return done;
  }

  double Period() const { return static_cast<double>(period_ns_) * 1e-9; }
  // Wait calls since Start.
  uint64_t Cycles() const { return cycles_; }
  // Cycles whose body ended after their deadline.
  uint64_t Overruns() const { return overruns_; }
  // Deadlines skipped by overruns beyond the overrunning cycle's own: its lateness in whole
  // periods (a body that ran 2.5 periods is 1.5 periods late and skips 1).
  uint64_t MissedDeadlines() const { return missed_; }
  // The last wake-up: its time since the one before (or since Start), minus the period [s].
  double LastPeriodError() const { return static_cast<double>(last_period_error_ns_) * 1e-9; }
  // The last wake-up: how late after its deadline the loop woke [s], 0 or more.
  double LastLateness() const { return static_cast<double>(last_lateness_ns_) * 1e-9; }
  // The largest lateness since Start [s].
  double MaxLateness() const { return static_cast<double>(max_lateness_ns_) * 1e-9; }

 private:
  int64_t period_ns_ = 0;
  int64_t deadline_ns_ = 0;  // the pending deadline
  int64_t last_wake_ns_ = 0;
  int64_t last_period_error_ns_ = 0;
  int64_t last_lateness_ns_ = 0;
  int64_t max_lateness_ns_ = 0;
  uint64_t cycles_ = 0;
  uint64_t overruns_ = 0;
  uint64_t missed_ = 0;
  bool started_ = false;
};

}  // namespace TORVANE
