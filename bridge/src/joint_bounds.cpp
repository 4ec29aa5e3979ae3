#include "joint_bounds.h"

#include <algorithm>
#include <cmath>

#include "torvane/records.h"

namespace torvane_bridge {

JointBounds JointBoundsOf(TORVANE::Safety& guard, double margin, double max_effort,
                          double max_velocity) {
  // The guard's own clamp of targets far out either way gives each slot's range, mirrored hips
  // included, as PositionLimit applies it: in float. The position protection compares with the
  // unrounded bounds, so the bounds step one float inward to lie within both.
  TORVANE::LowCmd low{}, high{};
  for (int s = 0; s < 12; ++s) {
    low.motorCmd[s].q = -1e30f;
    high.motorCmd[s].q = 1e30f;
  }
  guard.PositionLimit(low);
  guard.PositionLimit(high);
  JointBounds b;
  b.velocity = max_velocity;
  for (int s = 0; s < 12; ++s) {
    b.effort[s] = std::min(max_effort, static_cast<double>(TORVANE::MotorTorqueLimit(s)));
    b.range_lower[s] = low.motorCmd[s].q;
    b.range_upper[s] = high.motorCmd[s].q;
    b.lower[s] = std::nextafter(low.motorCmd[s].q, HUGE_VALF) + margin;
    b.upper[s] = std::nextafter(high.motorCmd[s].q, -HUGE_VALF) - margin;
    if (b.lower[s] > b.upper[s])
      b.lower[s] = b.upper[s] = (b.range_lower[s] + b.range_upper[s]) / 2;
  }
  return b;
}

float InwardFloat(double value, double lower, double upper) {
  float f = static_cast<float>(value);
  if (f > upper) f = std::nextafter(f, -HUGE_VALF);
  if (f < lower) f = std::nextafter(f, HUGE_VALF);
  return f;
}

Fit Bound(double& value, double lower, double upper, double reach_lower, double reach_upper) {
  if (value < reach_lower || value > reach_upper) return Fit::kOutOfReach;
  if (value < lower) {
    value = lower;
    return Fit::kClamped;
  }
  if (value > upper) {
    value = upper;
    return Fit::kClamped;
  }
  return Fit::kWithin;
}

}  // namespace torvane_bridge
