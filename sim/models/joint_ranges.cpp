#include "models/joint_ranges.h"

#include <new>

namespace torvane_sim {

std::array<JointRange, 12> LegJointRanges(TORVANE::LeggedType model) {
  // The guard's destructor does nothing but print "End Safety.", which would read as a message
  // at the emulator's start, so it is never run.
  alignas(TORVANE::Safety) unsigned char storage[sizeof(TORVANE::Safety)];
  const TORVANE::Safety& limits = *new (storage) TORVANE::Safety(model);
  std::array<JointRange, 12> ranges{};
  for (int leg = 0; leg < 4; ++leg) {
    const bool right = leg == 0 || leg == 2;
    ranges[3 * leg] = right ? JointRange{-limits.hipMax, -limits.hipMin}
                            : JointRange{limits.hipMin, limits.hipMax};
    ranges[3 * leg + 1] = {limits.thighMin, limits.thighMax};
    ranges[3 * leg + 2] = {limits.calfMin, limits.calfMax};
  }
  return ranges;
}

}  // namespace torvane_sim
