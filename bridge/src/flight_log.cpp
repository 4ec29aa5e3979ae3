#include "flight_log.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace torvane_bridge {

FlightLog::FlightLog(bool high, double rate_hz, std::string dir)
    : high_(high), dir_(std::move(dir)), monitor_(1.0 / rate_hz, kLostS) {
  const size_t capacity = TORVANE::HighFlightRecorder::CapacityFor(kRecordS, rate_hz);
  if (high_) {
    high_ring_ = std::make_unique<TORVANE::HighFlightRecorder>(capacity);
  } else {
    low_ring_ = std::make_unique<TORVANE::LowFlightRecorder>(capacity);
  }
  sem_init(&wake_, 0, 0);
}

FlightLog::~FlightLog() {
  Stop();
  sem_destroy(&wake_);
}

void FlightLog::Start() {
  if (!writer_.joinable()) writer_ = std::thread(&FlightLog::WriterLoop, this);
}

void FlightLog::Stop() {
  if (!writer_.joinable()) return;
  stop_.store(true);
  sem_post(&wake_);
  writer_.join();
}

FlightLog::Event FlightLog::Watch(bool new_state) {
  // Until the first state there is no link to lose: a bridge may start before its robot.
  if (!link_up_) {
    if (!new_state) return kNone;
    link_up_ = true;
  }
  const uint64_t before = monitor_.LostEvents();
  monitor_.Update(new_state ? 0 : -1);
  return monitor_.LostEvents() != before ? kLost : kNone;
}

void FlightLog::Raise(Event event) {
  // One write at a time: an event while one is under way gets no file of its own.
  if (raised_ >= kMaxRecords || pending_.load(std::memory_order_acquire) != kNone) return;
  ++raised_;
  pending_.store(event, std::memory_order_release);
  sem_post(&wake_);  // never blocks
}

void FlightLog::Cycle(double time_s, const TORVANE::HighCmd& cmd, bool new_state,
                      const TORVANE::HighState& state) {
  const Event event = Watch(new_state);
  if (pending_.load(std::memory_order_acquire) == kNone) {
    high_ring_->Record(time_s, cmd, new_state ? 0 : -1, state);
  }
  if (event != kNone) Raise(event);
}

void FlightLog::Cycle(double time_s, const TORVANE::LowCmd& cmd, bool new_state,
                      const TORVANE::LowState& state, bool tripped) {
  Event event = Watch(new_state);
  if (pending_.load(std::memory_order_acquire) == kNone) {
    low_ring_->Record(time_s, cmd, new_state ? 0 : -1, state);
  }
  // A trip repeats every cycle while a joint stays out of range: its first cycle is the event.
  if (tripped && !was_tripped_) event = kTrip;
  was_tripped_ = tripped;
  if (event != kNone) Raise(event);
}

void FlightLog::WriterLoop() {
  int handled = 0;
  for (;;) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    const int event = pending_.load(std::memory_order_acquire);
    if (event != kNone) {
      char path[512];
      const int done = high_ ? high_ring_->WriteCsvInDirectory(dir_.c_str(), path, sizeof path)
                             : low_ring_->WriteCsvInDirectory(dir_.c_str(), path, sizeof path);
      char what[96];
      if (event == kLost) {
        std::snprintf(what, sizeof what, "lost the robot link: no valid state for %g s", kLostS);
      } else {
        std::snprintf(what, sizeof what,
                      "the safety guard switched the leg motors off (its own line above says why)");
      }
      if (done == 0) {
        std::printf("torvane-bridge: %s; flight record in %s\n", what, path);
      } else {
        std::printf("torvane-bridge: %s; no flight record (the line above says why)\n", what);
      }
      if (++handled == kMaxRecords) {
        std::printf("torvane-bridge: no more flight records this run (%d at most)\n", kMaxRecords);
      }
      std::fflush(stdout);
      pending_.store(kNone, std::memory_order_release);  // the ring is the cycle's again
      if (done == 0) written_.fetch_add(1);              // after: a new event may follow at once
    }
    if (stop_.load()) return;
  }
}

}  // namespace torvane_bridge
