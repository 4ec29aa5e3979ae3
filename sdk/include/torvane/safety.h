// Safety guard for low-level control: clamps joint targets into the model's ranges and switches
// the twelve leg motors off in the command (mode 0) on excessive power or an out-of-range joint.
// Slots 0-11 are the leg joints (slot = 3 * leg + joint; legs FR FL RR RL, joints hip thigh
// calf); slots 12-19 are never touched. The guard only edits the command; it sends nothing.
#pragma once

#include <cstdint>

#include "torvane/records.h"

namespace TORVANE {

enum class LeggedType : int32_t {
  Zorvan = 0,
  Pellix = 1,
  Tamrin = 2,
  Vesko = 3,
};

// value < lower becomes lower, then value > upper becomes upper (so lower > upper gives upper);
// a NaN stays NaN. Unit-free: the guard passes joint positions and ranges in [rad].
void clamp(float& value, float lower, float upper);

class Safety {
 public:
  // Loads the joint ranges of `type`; another value prints "Legged Robot Type Error." and leaves
  // all bounds 0.0.
  explicit Safety(LeggedType type);
  // Prints "End Safety.".
  ~Safety();

  // Clamps the twelve leg targets cmd.motorCmd[s].q into their ranges [rad]. A NaN target
  // switches the twelve leg motors off (mode 0), stays NaN, and is named in one line beginning
  // "Error: "; the other targets are clamped all the same.
  void PositionLimit(LowCmd& cmd);
  // Sums |tauEst * dq| [W] over the leg joints of `state` against powerLimit * factor / 10 (factor
  // taken within 1..10) with a hysteresis counter: the 6th call over the limit in a row trips,
  // and it keeps tripping until the counter is back at 5. A NaN power counts as over the limit.
  // Returns 1, or -1 after switching the leg motors off and printing "Error: Power Protection.".
  int PowerProtect(LowCmd& cmd, LowState& state, int factor);
  // Checks each measured leg position against its range narrowed by `limit` [rad] on both sides
  // (a NaN position counts as out), printing a line per joint out. Returns 1, or -1 after
  // switching the leg motors off and printing "Error: Position Protection.".
  int PositionProtect(LowCmd& cmd, LowState& state, double limit);

  int32_t powerLimit;      // [W], 1000: PowerProtect's limit at factor 10
  int32_t overPowerCount;  // calls, 0..10: up on each call over the limit, down on each below
  // Hip bounds are those of the left legs; the right legs' hip range is [-hipMax, -hipMin].
  double hipMax;    // [rad]
  double hipMin;    // [rad]
  double thighMax;  // [rad]
  double thighMin;  // [rad]
  double calfMax;   // [rad]
  double calfMin;   // [rad]

 private:
  struct Range {
    double lower, upper;
  };
  // The range of leg slot 0..11; the right hips (slots 0 and 6) mirror the left ones.
  Range JointRange(int slot) const;
};

}  // namespace TORVANE
