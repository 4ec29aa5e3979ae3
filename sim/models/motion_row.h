// One row of the robot's motion, as a model reports it for the motion log: time [s], trunk
// position [m] and heading [rad] in the world, joint positions and their commanded targets [rad],
// foot forces [N]. A value the model does not know is NaN.
#pragma once

#include <array>

namespace torvane_sim {

struct MotionRow {
  double t = 0, x = 0, y = 0, z = 0, yaw = 0;
  std::array<double, 12> q{}, q_ref{};
  std::array<double, 4> force{};
};

}  // namespace torvane_sim
