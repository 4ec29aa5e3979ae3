// How far joint_commands may drive each leg motor: effort within the motor's torque limit,
// velocity within a top speed, position within the guard's joint range narrowed by the position
// protection's margin (so a clamped target never walks a joint into that protection). A value
// beyond its bound is clamped to it: the robot keeps a bounded command, as the guard's
// PositionLimit does with positions. A value far beyond (past its reach, below) is not a command
// for this robot but a sender in other units or a broken one: the whole sample is refused.
#pragma once

#include <array>
#include <limits>

#include "torvane/motor_limits.h"
#include "torvane/safety.h"

namespace torvane_bridge {

// The reaches: beyond them a value refuses its sample.
// Effort: more than the packed low-level command carries (32767/256 N m); it would go out as
// that, the largest torque the wire can ask for.
constexpr double kEffortReach = 32767.0 / 256.0;
// Velocity: five times the motors' top speed, about as far past it as the effort reach is past
// the torque limits.
constexpr double kVelocityReach = 5.0 * TORVANE::MOTOR_TOP_SPEED;
// Position: a quarter turn outside the joint's range, farther than any model's range differs
// from another's; degrees sent as radians land there.
constexpr double kPositionReach = 1.5707963267948966;

constexpr std::array<double, 12> EveryJoint(double value) {
  std::array<double, 12> a{};
  for (double& v : a) v = value;
  return a;
}

// Per leg slot 0..11. Default: nothing bounded.
struct JointBounds {
  static constexpr double kOpen = std::numeric_limits<double>::infinity();
  std::array<double, 12> effort = EveryJoint(kOpen);  // |tau| at most [N m]
  double velocity = kOpen;                            // |dq| at most [rad/s]
  // The target position's bounds [rad]: the joint's range narrowed by the margin.
  std::array<double, 12> lower = EveryJoint(-kOpen), upper = EveryJoint(kOpen);
  // The joint's range itself [rad], from which the position reach is measured.
  std::array<double, 12> range_lower = EveryJoint(-kOpen), range_upper = EveryJoint(kOpen);
};

// The bounds for the guard's model: effort at most `max_effort` [N m] and each motor's torque
// limit, velocity at most `max_velocity` [rad/s], position within the ranges the guard's
// PositionLimit clamps to, narrowed by `margin` [rad] on both sides. PositionLimit is asked on a
// scratch command; the guard itself does not change.
JointBounds JointBoundsOf(TORVANE::Safety& guard, double margin, double max_effort,
                          double max_velocity);

// `value` (within [lower, upper]) as a float that rounding has not put outside them.
float InwardFloat(double value, double lower, double upper);

// What bounding did to a value.
enum class Fit { kWithin, kClamped, kOutOfReach };

// Brings `value` into [lower, upper]: kWithin (unchanged), kClamped (now the nearer bound), or
// kOutOfReach (unchanged) when it lies below reach_lower or above reach_upper.
Fit Bound(double& value, double lower, double upper, double reach_lower, double reach_upper);

}  // namespace torvane_bridge
