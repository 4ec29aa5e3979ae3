// The robot's legs as the emulator's models share them: each slot's hard stops, taken from the
// safety guard's table for the model played, and the wire's "no target" values.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "torvane/safety.h"

namespace torvane_sim {

struct JointRange {
  double lower = 0, upper = 0;  // [rad]
};

// The twelve leg slots' ranges (slot = 3 × leg + joint); the right hips mirror the left.
std::array<JointRange, 12> LegJointRanges(TORVANE::LeggedType model);

// Values at which a command means "no target" (the safe defaults of a fresh command).
constexpr float kPositionStop = 2.0e9f;
constexpr float kVelocityStop = 15000.0f;

// A state value packed into 16 bits: truncated, saturated, NaN as 0.
inline int16_t Saturate16(double v) {
  if (!std::isfinite(v)) return v > 0 ? INT16_MAX : (v < 0 ? INT16_MIN : 0);
  return static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

}  // namespace torvane_sim
