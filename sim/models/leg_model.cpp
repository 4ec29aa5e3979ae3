#include "models/leg_model.h"

#include "models/battery.h"
#include "models/joint_ranges.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace torvane_sim {
namespace {

constexpr double kInertia = 0.05;         // [kg m^2] rotor and link, seen at the joint
constexpr double kFriction = 0.4;         // [N m s / rad] viscous
constexpr double kTorqueLimit = 33.5;     // [N m]
constexpr double kSpeedLimit = 21.0;      // [rad/s]
constexpr double kWeightTorque = 2.0;     // [N m] most the body's weight puts on a joint
constexpr double kWeightStiffness = 4.0;  // [N m / rad] the weight grows as the legs lift it
constexpr double kSubstep = 0.0005;       // [s]
constexpr double kLinkLength = 0.2;       // [m] for foot forces

}  // namespace

LegModel::LegModel(TORVANE::LeggedType model, double period) : period_(period) {
  const std::array<JointRange, 12> ranges = LegJointRanges(model);
  for (int slot = 0; slot < 12; ++slot) {
    joints_[slot].lower = ranges[slot].lower;
    joints_[slot].upper = ranges[slot].upper;
  }
  for (int leg = 0; leg < 4; ++leg) {
    Joint& hip = joints_[3 * leg];
    Joint& thigh = joints_[3 * leg + 1];
    Joint& calf = joints_[3 * leg + 2];
    // Lying on the floor: hips straight, legs folded, inside the limits.
    hip.rest = 0.0;
    thigh.rest = std::min(1.2, thigh.upper - 0.2);
    calf.rest = calf.lower + 0.15;
    for (int j = 0; j < 3; ++j) joints_[3 * leg + j].q = joints_[3 * leg + j].rest;
  }
}

void LegModel::Step() {
  const double dt = period_;
  double load = 0;
  for (double done = 0; done < dt - 1e-12; done += kSubstep) {
    const double h = std::min(kSubstep, dt - done);
    for (int j = 0; j < 12; ++j) {
      Joint& s = joints_[j];
      const double tau = MotorTorque(targets_[j], s.q, s.dq, -kTorqueLimit, kTorqueLimit);
      // A lifted body weighs on thighs and calves, folding them back toward the lying pose;
      // on the ground it weighs nothing. Hips feel none of it.
      const double weight =
          j % 3 == 0 ? 0.0
                     : std::clamp(kWeightStiffness * (s.rest - s.q), -kWeightTorque, kWeightTorque);
      const double ddq = (tau + weight - kFriction * s.dq) / kInertia;
      s.dq = std::clamp(s.dq + ddq * h, -kSpeedLimit, kSpeedLimit);
      s.q += s.dq * h;
      if (s.q < s.lower || s.q > s.upper) {  // hard stop
        s.q = std::clamp(s.q, s.lower, s.upper);
        s.dq = 0;
      }
      s.ddq = ddq;
      s.tau = tau;
    }
  }
  for (Joint& s : joints_) {
    s.temperature = Warmed(s.temperature, s.tau, dt);
    load += std::fabs(s.tau * s.dq);
  }
  charge_ = Drained(charge_, dt, load);
  time_s_ += dt;
}

void LegModel::Fill(TORVANE::LowState_refine& out) const {
  std::memset(&out, 0, sizeof out);
  out.head = TORVANE::HEAD;
  out.levelFlag = TORVANE::LOW_LEVEL_FLAG;
  out.imu.quaternion = {1.0f, 0.0f, 0.0f, 0.0f};
  out.imu.accelerometer = {0.0f, 0.0f, 9.81f};
  out.imu.temperature = 35;
  for (int j = 0; j < 12; ++j) {
    const Joint& s = joints_[j];
    FillMotorState(out.motorState[j], targets_[j].mode, s.q, s.dq, s.ddq, s.tau, s.temperature);
  }
  FillBattery(out.bms, charge_);
  for (int leg = 0; leg < 4; ++leg) {
    // A loaded calf pushes the foot into the ground.
    const double force = std::fabs(joints_[3 * leg + 2].tau) / kLinkLength;
    out.footForce[leg] = Saturate16(force);
    out.footForceEst[leg] = Saturate16(force);
  }
  out.tick = static_cast<uint32_t>(std::llround(time_s_ * 1000.0));
}

MotionRow LegModel::Motion() const {
  MotionRow row;
  row.t = time_s_;
  row.x = row.y = row.z = row.yaw = NAN;
  for (int j = 0; j < 12; ++j) row.q[j] = joints_[j].q;
  row.q_ref.fill(NAN);
  row.force.fill(NAN);
  return row;
}

}  // namespace torvane_sim
