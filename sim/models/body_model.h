// High-level emulation: the body follows the commanded velocity, yaw speed, height and
// attitude. Walking (body motion from velocity) happens in mode 2; every other mode stands.
#pragma once

#include "models/high_level_model.h"
#include "torvane/records.h"

namespace torvane_sim {

class BodyModel : public HighLevelModel {
 public:
  // The trunk height [m] the body stands at; HighCmd.bodyHeight is an offset from it. The simple
  // model plays the robot of quadruped.xml, whose trunk stands there too (the physics reads it
  // from the model it loads).
  static constexpr double kNominalHeight = 0.27;

  // Stepped in periods of `period` seconds.
  explicit BodyModel(double period) : period_(period) {}

  void Command(const TORVANE::HighCmd& cmd) override { cmd_ = cmd; }
  void Step() override;
  void Fill(TORVANE::HighState& out) const override;
  // The trunk's place on the floor and its heading; the model knows no joints and no height.
  MotionRow Motion() const override;

 private:
  TORVANE::HighCmd cmd_{};
  double period_;
  double x_ = 0, y_ = 0, yaw_ = 0;   // world frame [m], heading [rad]
  double vx_ = 0, vy_ = 0, wz_ = 0;  // body frame [m/s], yaw rate [rad/s]
  double height_ = kNominalHeight, foot_raise_ = 0.08;
  double roll_ = 0, pitch_ = 0, yaw_offset_ = 0;
  double time_s_ = 0, charge_ = 100.0;
};

}  // namespace torvane_sim
