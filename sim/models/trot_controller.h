// The high level in physics: a built-in controller that stands the robot up on its own legs
// and, in walk mode (2), trots to track the commanded forward, lateral and yaw velocity.
// Diagonal leg pairs swing in turn; each foot's path is set in the trunk frame, with the
// touchdown point corrected by the velocity error, and turned into joint targets held by the
// motors' position law.
#pragma once

#include <array>

#include "models/physics_model.h"
#include "torvane/records.h"

namespace torvane_sim {

class TrotController {
 public:
  // Drives `robot`, which must outlive the controller.
  explicit TrotController(PhysicsModel& robot);

  void Command(const TORVANE::HighCmd& cmd) { cmd_ = cmd; }
  // Sets the motors' targets for the coming period and advances the physics by it.
  void Step(double period);
  // The high-level state datagram image (checksum not yet stamped).
  void Fill(TORVANE::HighState& out) const;

 private:
  // Foot position relative to its hip, trunk frame [m], to the joint angles of its leg.
  static std::array<double, 3> Inverse(const std::array<double, 3>& foot);

  PhysicsModel& robot_;
  TORVANE::HighCmd cmd_{};
  std::array<double, 12> lying_{}, last_{};
  double time_s_ = 0, phase_ = 0;
  double vx_ = 0, vy_ = 0, wz_ = 0;                 // the commanded velocity, ramped
  double trim_x_ = 0, trim_y_ = 0, trim_w_ = 0;     // added to it for the steps
  double vx_seen_ = 0, vy_seen_ = 0, wz_seen_ = 0;  // the trunk's velocity, smoothed
  double height_ = 0.27;                            // trunk height the legs hold [m]
  double roll_ = 0, pitch_ = 0, yaw_ = 0;           // commanded attitude, ramped [rad]
  bool walking_ = false;
};

}  // namespace torvane_sim
