#include "models/leg_kinematics.h"

#include <algorithm>
#include <cmath>

namespace torvane_sim {

std::array<double, 3> FootPosition(const LegGeometry& leg, const std::array<double, 3>& q) {
  const double k = leg.calf / leg.thigh;  // exactly 1 for links of one length
  const double phi = q[1] + q[2];
  const double x = -leg.thigh * (std::sin(q[1]) + k * std::sin(phi));
  const double d = leg.thigh * (std::cos(q[1]) + k * std::cos(phi));
  return {x, d * std::sin(q[0]), -d * std::cos(q[0])};
}

std::array<double, 3> LegAngles(const LegGeometry& leg, const std::array<double, 3>& foot) {
  // Hip: the leg swings in the plane through its hip axis; then thigh and calf in that plane.
  const double l1 = leg.thigh, l2 = leg.calf;
  const double r = std::max(0.05, std::hypot(foot[1], foot[2]));
  const double hip = std::atan2(foot[1], -foot[2]);
  const double reach = std::clamp(std::hypot(foot[0], r), 0.2 * (l1 + l2), Reach(leg));
  const double cos_calf = reach * reach / (2 * l1 * l2) - (l1 * l1 + l2 * l2) / (2 * l1 * l2);
  const double calf = -std::acos(std::clamp(cos_calf, -1.0, 1.0));
  // The thigh turns past the line to the foot by the angle the bent knee opens at the hip: half
  // the knee's angle for links of one length.
  const double k = l2 / l1;
  const double opened =
      k == 1.0 ? 0.5 * calf : std::atan2(k * std::sin(calf), 1 + k * std::cos(calf));
  const double thigh = std::atan2(-foot[0], r) - opened;
  return {hip, thigh, calf};
}

}  // namespace torvane_sim
