// The motor law both low-level models drive their joints with, and the plain joint model under
// targets that are not numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "models/joint_ranges.h"
#include "models/leg_model.h"

using namespace torvane_sim;

namespace {

MotorTarget Holding(float q, float dq, float tau, float kp, float kd) {
  MotorTarget t;
  t.mode = 10;
  t.q = q;
  t.dq = dq;
  t.tau = tau;
  t.kp = kp;
  t.kd = kd;
  return t;
}

}  // namespace

TEST(MotorLaw, GainsStopValuesModeAndLimits) {
  // 20 * (0.5 - 0.25) + 2 * (1 - 0.5) + 0.75 = 6.75
  EXPECT_DOUBLE_EQ(MotorTorque(Holding(0.5f, 1.0f, 0.75f, 20, 2), 0.25, 0.5, -30, 30), 6.75);
  // A stop value drops its term: no position error, or no velocity reference (damping stays).
  EXPECT_DOUBLE_EQ(MotorTorque(Holding(kPositionStop, 1.0f, 0, 20, 2), 0.25, 0.5, -30, 30), 1.0);
  EXPECT_DOUBLE_EQ(MotorTorque(Holding(0.5f, -kVelocityStop, 0, 20, 2), 0.25, 0.5, -30, 30), 4.0);
  // Clamped to the motor's limits; nothing outside mode 10.
  EXPECT_DOUBLE_EQ(MotorTorque(Holding(3.0f, 0, 0, 100, 0), 0.0, 0.0, -33.5, 33.5), 33.5);
  EXPECT_DOUBLE_EQ(MotorTorque(Holding(-3.0f, 0, 0, 100, 0), 0.0, 0.0, -33.5, 33.5), -33.5);
  MotorTarget limp = Holding(0.5f, 1.0f, 0.75f, 20, 2);
  limp.mode = 0;
  EXPECT_EQ(MotorTorque(limp, 0.25, 0.5, -30, 30), 0.0);
}

TEST(MotorLaw, TargetsThatAreNotNumbersDriveNothing) {
  EXPECT_EQ(MotorTorque(Holding(NAN, 0, 0, 20, 2), 0.25, 0.5, -30, 30), 0.0);
  EXPECT_EQ(MotorTorque(Holding(0, NAN, 0, 20, 2), 0.25, 0.5, -30, 30), 0.0);
  EXPECT_EQ(MotorTorque(Holding(0, 0, NAN, 20, 2), 0.25, 0.5, -30, 30), 0.0);
  EXPECT_EQ(MotorTorque(Holding(INFINITY, -INFINITY, 0, 20, 2), 0.25, 0.5, -30, 30), -1.0);
}

TEST(MotorLaw, TargetOfUnscalesThePackedCommand) {
  TORVANE::MotorCmd_refine m{};
  m.mode = 10;
  m.q = 0.5f;
  m.dq = -1.0f;
  m.tau = 512;  // 1/256 N m
  m.Kp = 640;   // 1/32
  m.Kd = 48;    // 1/16
  const MotorTarget t = TargetOf(m);
  EXPECT_EQ(t.mode, 10);
  EXPECT_EQ(t.q, 0.5f);
  EXPECT_EQ(t.dq, -1.0f);
  EXPECT_EQ(t.tau, 2.0f);
  EXPECT_EQ(t.kp, 20.0f);
  EXPECT_EQ(t.kd, 3.0f);
}

// Regression: a command whose targets were not numbers left the plain joint model's joints at
// NaN for good, and every state after it carried them.
TEST(MotorLaw, PlainJointModelStaysFiniteUnderTargetsThatAreNotNumbers) {
  testing::internal::CaptureStdout();  // the guard's table prints on construction
  LegModel legs(TORVANE::LeggedType::Zorvan, 0.002);
  testing::internal::GetCapturedStdout();
  TORVANE::LowCmd_refine cmd{};
  for (int j = 0; j < 12; ++j) {
    TORVANE::MotorCmd_refine& m = cmd.motorCmd[j];
    m.mode = 10;
    m.q = j % 2 ? NAN : 0.3f;
    m.dq = j % 3 ? NAN : 0.0f;
    m.Kp = 640;
    m.Kd = 32;
  }
  legs.Command(LegTargets(cmd));
  for (int i = 0; i < 100; ++i) legs.Step();
  TORVANE::LowState_refine state;
  legs.Fill(state);
  for (int j = 0; j < 12; ++j) {
    EXPECT_TRUE(std::isfinite(state.motorState[j].q)) << "joint " << j;
    EXPECT_TRUE(std::isfinite(state.motorState[j].dq)) << "joint " << j;
  }
}
