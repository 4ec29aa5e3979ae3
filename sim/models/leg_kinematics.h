// Where a leg's joint angles put its foot, and back, for the legs of whatever model is loaded:
// the hip turns the leg about the trunk's x axis, thigh and calf about the leg's y axis (a
// positive thigh angle swings the knee back), and at zero angles the leg hangs straight down.
#pragma once

#include <array>

namespace torvane_sim {

// One leg as the loaded model builds it.
struct LegGeometry {
  std::array<double, 3> hip{};  // the hip joint in the trunk frame [m]
  double thigh = 0;             // hip joint to knee (calf joint) [m]
  double calf = 0;              // knee to the foot's centre [m]
  double foot_radius = 0;       // [m]
};

// How far from the hip the leg puts its foot's centre at most [m]: never quite straight, where
// the knee could no longer push.
inline double Reach(const LegGeometry& leg) {
  return leg.thigh + leg.calf - 0.005;
}

// The foot's centre relative to the hip, trunk frame [m], at joint angles hip, thigh, calf [rad].
std::array<double, 3> FootPosition(const LegGeometry& leg, const std::array<double, 3>& q);

// The joint angles [rad] that put the foot's centre at `foot` (relative to the hip, trunk frame
// [m]), knee bent back (calf angle negative). A foot out of reach is placed as far toward it as
// the leg reaches.
std::array<double, 3> LegAngles(const LegGeometry& leg, const std::array<double, 3>& foot);

}  // namespace torvane_sim
