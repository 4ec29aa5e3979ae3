// The bridge's flight recorder: the cycle thread records each cycle into a fixed ring and watches
// the robot link; on a lost link or a guard trip a thread of its own writes the ring as CSV and
// says so in one line naming the file.
//
// Why a thread of its own: the cycle keeps running after either event (the safe command goes on
// out, and the robot may come back), so the cycle may never wait for a file. The cycle thread
// only copies records into the ring and posts a semaphore; while the writer reads the ring the
// cycle thread leaves it alone (those cycles are not recorded), so no lock is shared.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "torvane/flight_recorder.h"
#include "torvane/link_monitor.h"
#include "torvane/records.h"

namespace torvane_bridge {

class FlightLog {
 public:
  static constexpr double kRecordS = 2.0;  // the ring keeps this many seconds
  static constexpr double kLostS = 1.0;    // no valid state for this long: the link is lost
  static constexpr int kMaxRecords = 20;   // files per run, so a flapping guard cannot fill a disk

  // The ring for `rate_hz` cycles per second at one level; records go into `dir`.
  FlightLog(bool high, double rate_hz, std::string dir);
  ~FlightLog();
  FlightLog(const FlightLog&) = delete;
  FlightLog& operator=(const FlightLog&) = delete;

  // Starts the writer thread. Stop (or the destructor) ends it after any write under way.
  void Start();
  void Stop();

  // The cycle thread, once per cycle: the command as sent, whether a new valid state came since
  // the last cycle (recorded as Recv result 0, else -1: nothing new), the latest state, and
  // whether the guard switched the legs off in this cycle. Allocates nothing, never blocks.
  void Cycle(double time_s, const TORVANE::HighCmd& cmd, bool new_state,
             const TORVANE::HighState& state);
  void Cycle(double time_s, const TORVANE::LowCmd& cmd, bool new_state,
             const TORVANE::LowState& state, bool tripped);

  // Files written so far (for tests and the tally).
  int Written() const { return written_.load(); }

 private:
  enum Event : int { kNone = 0, kLost = 1, kTrip = 2 };
  // The monitor's part of a cycle; returns kLost on the cycle the link is lost.
  Event Watch(bool new_state);
  void Raise(Event event);
  void WriterLoop();

  const bool high_;
  const std::string dir_;
  TORVANE::LinkMonitor monitor_;
  std::unique_ptr<TORVANE::HighFlightRecorder> high_ring_;
  std::unique_ptr<TORVANE::LowFlightRecorder> low_ring_;
  bool link_up_ = false;             // the cycle thread's: a valid state came at least once
  bool was_tripped_ = false;         // the cycle thread's: the last cycle tripped the guard
  int raised_ = 0;                   // the cycle thread's: events handed to the writer
  std::atomic<int> pending_{kNone};  // the event being written; kNone: the ring is the cycle's
  std::atomic<int> written_{0};
  std::atomic<bool> stop_{false};
  sem_t wake_{};
  std::thread writer_;
};

}  // namespace torvane_bridge
