#include "leg_model.h"

#include "joint_ranges.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace torvane_sim {
namespace {

constexpr double kInertia = 0.05;               // [kg m^2] rotor and link, seen at the joint
constexpr double kFriction = 0.4;               // [N m s / rad] viscous
constexpr double kTorqueLimit = 33.5;           // [N m]
constexpr double kSpeedLimit = 21.0;            // [rad/s]
constexpr double kWeightTorque = 2.0;           // [N m] most the body's weight puts on a joint
constexpr double kWeightStiffness = 4.0;        // [N m / rad] the weight grows as the legs lift it
constexpr double kSubstep = 0.0005;             // [s]
constexpr double kLinkLength = 0.2;             // [m] for foot forces
constexpr double kDrainPerSecond = 1.0 / 60.0;  // [% / s], a little more under load

}  // namespace

LegModel::LegModel(TORVANE::LeggedType model) {
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

void LegModel::Command(const TORVANE::LowCmd_refine& cmd) {
  for (int j = 0; j < 12; ++j) targets_[j] = TargetOf(cmd.motorCmd[j]);
}

void LegModel::Step(double dt) {
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
    // Copper losses warm the motor; it cools toward 30 degrees.
    s.temperature += dt * (0.02 * s.tau * s.tau - 0.05 * (s.temperature - 30.0));
    load += std::fabs(s.tau * s.dq);
  }
  charge_ = std::max(0.0, charge_ - dt * (kDrainPerSecond + load * 1e-4));
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
    TORVANE::MotorState_refine& m = out.motorState[j];
    m.mode = targets_[j].mode;
    m.q = static_cast<float>(s.q);
    m.dq = static_cast<float>(s.dq);
    m.ddq = Saturate16(s.ddq);
    m.tauEst = Saturate16(s.tau * 256.0);
    m.q_raw = m.q;
    m.dq_raw = m.dq;
    m.ddq_raw = m.ddq;
    m.temperature = static_cast<int8_t>(std::clamp(s.temperature, -128.0, 127.0));
  }
  out.bms.version_h = 1;
  out.bms.version_l = 2;
  out.bms.SOC = static_cast<uint8_t>(std::lround(charge_));
  out.bms.current = -static_cast<int32_t>(1000 + 50 * (100.0 - charge_));  // [mA], discharging
  out.bms.BQ_NTC = {30, 31};
  out.bms.MCU_NTC = {33, 33};
  const double cell_mv = 3300.0 + 900.0 * charge_ / 100.0;
  for (auto& c : out.bms.cell_vol) c = static_cast<uint8_t>(cell_mv / 32.0);
  for (int leg = 0; leg < 4; ++leg) {
    // A loaded calf pushes the foot into the ground.
    const double force = std::fabs(joints_[3 * leg + 2].tau) / kLinkLength;
    out.footForce[leg] = Saturate16(force);
    out.footForceEst[leg] = Saturate16(force);
  }
  out.tick = static_cast<uint32_t>(std::llround(time_s_ * 1000.0));
}

}  // namespace torvane_sim
