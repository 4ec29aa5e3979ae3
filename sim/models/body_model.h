// High-level emulation: the body follows the commanded velocity, yaw speed, height and
// attitude. Walking (body motion from velocity) happens in mode 2; every other mode stands.
#pragma once

#include "torvane/records.h"

namespace torvane_sim {

class BodyModel {
 public:
  void Command(const TORVANE::HighCmd& cmd) { cmd_ = cmd; }
  void Step(double dt);
  // The state datagram image (checksum not yet stamped).
  void Fill(TORVANE::HighState& out) const;

  double x() const { return x_; }
  double y() const { return y_; }
  double yaw() const { return yaw_; }

 private:
  TORVANE::HighCmd cmd_{};
  double x_ = 0, y_ = 0, yaw_ = 0;   // world frame [m], heading [rad]
  double vx_ = 0, vy_ = 0, wz_ = 0;  // body frame [m/s], yaw rate [rad/s]
  double height_ = 0.28, foot_raise_ = 0.08;
  double roll_ = 0, pitch_ = 0, yaw_offset_ = 0;
  double time_s_ = 0, charge_ = 100.0;
};

}  // namespace torvane_sim
