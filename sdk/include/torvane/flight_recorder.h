// A flight recorder: the last seconds of a control loop (each cycle's time, the command as sent,
// Recv's result and the state as received) in a ring allocated once, written as CSV when
// something went wrong (the guard tripped, the link was lost) or on request. The triggers are
// the caller's.
//
// One recorder per level: HighFlightRecorder keeps HighCmd and HighState, LowFlightRecorder
// LowCmd and LowState. Record copies the two records and allocates nothing; writing the CSV does
// its own file I/O and is meant for the moment after the event, not for every cycle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "torvane/records.h"

namespace TORVANE {

template <typename Cmd, typename State>
class FlightRecorder {
 public:
  struct Entry {
    double time_s;        // when the cycle ran [s, the caller's clock, monotonic as a rule]
    int32_t recv_result;  // what Recv returned in that cycle (0 = a new state)
    Cmd cmd;              // the command as sent
    State state;          // the state as received (the previous one when Recv published none)
  };

  // Keeps the last `capacity` cycles (CapacityFor turns seconds at a rate into cycles). A
  // capacity of 0 or above 10 million is refused with one line on standard output and leaves a
  // recorder whose Valid() is false and which records nothing.
  explicit FlightRecorder(size_t capacity);
  FlightRecorder(const FlightRecorder&) = delete;
  FlightRecorder& operator=(const FlightRecorder&) = delete;

  // seconds × rate_hz rounded to the nearest cycle, at least 1 (2 s at 500 Hz: 1000); 0 for a
  // duration or rate that is not above 0.
  static size_t CapacityFor(double seconds, double rate_hz);

  bool Valid() const { return capacity_ > 0; }
  // One cycle; the oldest entry makes room once the ring is full.
  void Record(double time_s, const Cmd& cmd, int recv_result, const State& state);
  void Clear() { size_ = head_ = 0; }

  size_t Capacity() const { return capacity_; }
  size_t Size() const { return size_; }
  uint64_t Recorded() const { return recorded_; }  // cycles recorded since construction
  // The i-th entry kept, 0 the oldest; i below Size().
  const Entry& At(size_t i) const;

  // Writes the entries kept, oldest first, as CSV: one header row naming the fields (as Python
  // spells them: state.motorState[3].q), then one row per cycle. Returns 0, or -1 after one line
  // on standard output ("[Error] FlightRecorder: cannot write <path>: <reason>").
  int WriteCsv(const char* path) const;
  // Writes into a new file <dir>/flight-<level>-<local date and time>.csv and puts its path into
  // `path` (path_size bytes, 256 is plenty). Returns 0, or -1 after one line on standard output
  // (the file could not be made, or the path does not fit).
  int WriteCsvInDirectory(const char* dir, char* path, size_t path_size) const;

 private:
  size_t capacity_ = 0;
  size_t size_ = 0;
  size_t head_ = 0;  // the next slot to write
  uint64_t recorded_ = 0;
  std::unique_ptr<Entry[]> ring_;
};

using HighFlightRecorder = FlightRecorder<HighCmd, HighState>;
using LowFlightRecorder = FlightRecorder<LowCmd, LowState>;

extern template class FlightRecorder<HighCmd, HighState>;
extern template class FlightRecorder<LowCmd, LowState>;

}  // namespace TORVANE
