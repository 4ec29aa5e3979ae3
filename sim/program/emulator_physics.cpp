// The emulator's physics hooks: which model moves the robot, and the motion log.
#include <cmath>
#include <cstdio>

#include "program/emulator.h"
#include "program/model_path.h"

namespace torvane_sim {

bool Emulator::Prepare() {
  std::string error;
  if (options_.engine == Engine::kPhysics) {
    const std::string path = options_.mjcf.empty() ? FindModel("quadruped.xml") : options_.mjcf;
    if (path.empty()) {
      std::fprintf(stderr, "torvane-sim: cannot find the physics model quadruped.xml\n");
      return false;
    }
    physics_ = PhysicsModel::Load(path, options_.model, period_, error);
    if (physics_ && options_.high_level) trot_ = std::make_unique<TrotController>(*physics_);
  }
  if (error.empty() && !options_.log_path.empty()) log_.Open(options_.log_path, error);
  if (!error.empty()) {
    std::fprintf(stderr, "torvane-sim: %s\n", error.c_str());
    return false;
  }
  return true;
}

void Emulator::LogMotion() {
  MotionRow row;
  if (physics_) {
    const BodySample b = physics_->Body();
    row.t = physics_->time();
    row.x = b.x;
    row.y = b.y;
    row.z = b.z;
    row.yaw = b.yaw;
    for (int j = 0; j < 12; ++j) {
      row.q[j] = physics_->q(j);
      row.q_ref[j] = physics_->TargetQ(j);
    }
    for (int leg = 0; leg < 4; ++leg) row.force[leg] = physics_->FootForce(leg);
  } else if (options_.high_level) {
    row.t = body_time_ += period_;
    row.x = body_.x();
    row.y = body_.y();
    row.z = NAN;
    row.yaw = body_.yaw();
    row.q.fill(NAN);
    row.q_ref.fill(NAN);
    row.force.fill(NAN);
  } else {
    row.t = body_time_ += period_;
    row.x = row.y = row.z = row.yaw = NAN;
    for (int j = 0; j < 12; ++j) row.q[j] = legs_.q(j);
    row.q_ref.fill(NAN);
    row.force.fill(NAN);
  }
  log_.Write(row);
}

}  // namespace torvane_sim
