// The robot's legs as the emulator's models share them: each slot's hard stops, taken from the
// safety guard's table for the model played, the wire's "no target" values, the motor law and what
// the state says of each motor, at either level.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "torvane/packing.h"
#include "torvane/safety.h"

namespace torvane_sim {

struct JointRange {
  double lower = 0, upper = 0;  // [rad]
};

// The twelve leg slots' ranges (slot = 3 × leg + joint); the right hips mirror the left.
std::array<JointRange, 12> LegJointRanges(TORVANE::LeggedType model);

// Values at which a command means "no target" (the safe defaults of a fresh command).
constexpr float kPositionStop = 2.0e9f;
constexpr float kVelocityStop = 15000.0f;

// What one motor is told to do, in physical units (gains and torque unscaled).
struct MotorTarget {
  uint8_t mode = 0;
  float q = 0, dq = 0, tau = 0, kp = 0, kd = 0;
};

// A motor's target as its packed command carries it (torque in 1/256 N m, Kp in 1/32, Kd in 1/16).
inline MotorTarget TargetOf(const TORVANE::MotorCmd_refine& m) {
  MotorTarget t;
  t.mode = m.mode;
  t.q = m.q;
  t.dq = m.dq;
  t.tau = m.tau / 256.0f;
  t.kp = m.Kp / 32.0f;
  t.kd = m.Kd / 16.0f;
  return t;
}

// The leg motors' targets of a command as it came off the wire (slot order).
inline std::array<MotorTarget, 12> LegTargets(const TORVANE::LowCmd_refine& cmd) {
  std::array<MotorTarget, 12> targets{};
  for (int j = 0; j < 12; ++j) targets[j] = TargetOf(cmd.motorCmd[j]);
  return targets;
}

// The motor law at joint position q and velocity dq: in mode 10,
//   tau = Kp * (q_cmd - q) + Kd * (dq_cmd - dq) + tau_ff
// (a stop value drops its term), clamped to [lower, upper]; 0 in any other mode.
inline double MotorTorque(const MotorTarget& t, double q, double dq, double lower, double upper) {
  if (t.mode != 10) return 0;
  const double q_err = std::fabs(t.q) >= kPositionStop ? 0.0 : t.q - q;
  const double dq_ref = std::fabs(t.dq) >= kVelocityStop ? 0.0 : t.dq;
  const double tau = t.kp * q_err + t.kd * (dq_ref - dq) + t.tau;
  // A target that is not a number drives nothing.
  return std::isfinite(tau) ? std::clamp(tau, lower, upper) : 0.0;
}

// A motor's temperature [degrees C] after `dt` seconds at torque `tau`: copper losses warm it,
// it cools toward 30 degrees.
inline double Warmed(double temperature, double tau, double dt) {
  return temperature + dt * (0.02 * tau * tau - 0.05 * (temperature - 30.0));
}

// A state value packed into 16 bits: truncated, saturated, NaN as 0.
inline int16_t Saturate16(double v) {
  if (!std::isfinite(v)) return v > 0 ? INT16_MAX : (v < 0 ? INT16_MIN : 0);
  return static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

// What a motor measures of its acceleration (whole rad/s^2) and torque (1/256 N m), in 16 bits.
inline int16_t AccelerationReading(double ddq) {
  return Saturate16(ddq);
}
inline int16_t TorqueReading(double tau) {
  return Saturate16(tau * 256.0);
}

// A motor's part of the low-level state: the raw fields as the filtered ones, acceleration and
// torque as the motor measures them, temperature in whole degrees.
inline void FillMotorState(TORVANE::MotorState_refine& m, uint8_t mode, double q, double dq,
                           double ddq, double tau, double temperature) {
  m.mode = mode;
  m.q = static_cast<float>(q);
  m.dq = static_cast<float>(dq);
  m.ddq = AccelerationReading(ddq);
  m.tauEst = TorqueReading(tau);
  m.q_raw = m.q;
  m.dq_raw = m.dq;
  m.ddq_raw = m.ddq;
  m.temperature = static_cast<int8_t>(std::clamp(temperature, -128.0, 127.0));
}

// The same at the high level, in physical units: the same readings, so that both levels report
// the same numbers for the same motion.
inline void FillMotorState(TORVANE::MotorState& m, uint8_t mode, double q, double dq, double ddq,
                           double tau, double temperature) {
  m.mode = mode;
  m.q = static_cast<float>(q);
  m.dq = static_cast<float>(dq);
  m.ddq = static_cast<float>(AccelerationReading(ddq));
  m.tauEst = static_cast<float>(TorqueReading(tau)) / 256.0f;
  m.q_raw = m.q;
  m.dq_raw = m.dq;
  m.ddq_raw = m.ddq;
  m.temperature = static_cast<int8_t>(std::clamp(temperature, -128.0, 127.0));
}

}  // namespace torvane_sim
