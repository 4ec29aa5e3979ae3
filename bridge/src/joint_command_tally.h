// What became of the joint_commands samples of a run, for the tally printed at the end: taken
// (and of those, how many had a value clamped, by field) and refused, by reason.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "messages.h"

namespace torvane_bridge {

class JointCommandTally {
 public:
  // Counts one sample. Lock-free; the counts may be read from another thread.
  void Count(const JointCommandOutcome& outcome);

  // "joint_commands: 20 taken, 3 refused (NaN 1, malformed 0, effort 2, velocity 0, position 0),
  //  clamped: effort 20, velocity 0, position 0" (one line, no newline). NaN counts every value
  //  that is not finite.
  std::string Line() const;

 private:
  std::atomic<uint64_t> taken_{0};
  std::atomic<uint64_t> nan_{0}, malformed_{0}, effort_{0}, velocity_{0}, position_{0};
  std::atomic<uint64_t> clamped_effort_{0}, clamped_velocity_{0}, clamped_position_{0};
};

}  // namespace torvane_bridge
