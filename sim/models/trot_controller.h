// The high level in physics: a built-in controller that stands the robot up on its own legs
// and, in walk mode (2), trots to track the commanded forward, lateral and yaw velocity.
// Diagonal leg pairs swing in turn; each foot's path is set in the trunk frame, with the
// touchdown point corrected by the velocity error, and turned into joint targets held by the
// motors' position law. Where the hips are, how long the legs and how high the trunk stands
// come from the loaded model.
#pragma once

#include <array>
#include <memory>

#include "models/high_level_model.h"
#include "models/physics_model.h"
#include "torvane/records.h"

namespace torvane_sim {

class TrotController : public HighLevelModel {
 public:
  // Drives `robot` in periods of `period` seconds (the robot's own).
  TrotController(std::unique_ptr<PhysicsModel> robot, double period);

  void Command(const TORVANE::HighCmd& cmd) override { cmd_ = cmd; }
  // Sets the motors' targets for the coming period and advances the physics by it.
  void Step() override;
  void Fill(TORVANE::HighState& out) const override;
  MotionRow Motion() const override { return robot_->Motion(); }
  const PhysicsModel* physics() const override { return robot_.get(); }

 private:
  std::unique_ptr<PhysicsModel> robot_;
  const RobotGeometry& geometry_;
  double period_;
  TORVANE::HighCmd cmd_{};
  std::array<double, 12> lying_{}, last_{};
  double time_s_ = 0, phase_ = 0;
  double vx_ = 0, vy_ = 0, wz_ = 0;                 // the commanded velocity, ramped
  double trim_x_ = 0, trim_y_ = 0, trim_w_ = 0;     // added to it for the steps
  double vx_seen_ = 0, vy_seen_ = 0, wz_seen_ = 0;  // the trunk's velocity, smoothed
  double height_;                                   // trunk height the legs hold [m]
  double roll_ = 0, pitch_ = 0, yaw_ = 0;           // commanded attitude, ramped [rad]
  bool walking_ = false;
};

}  // namespace torvane_sim
