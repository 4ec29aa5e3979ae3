// The robot in rigid-body physics (MuJoCo): trunk, four legs, twelve torque motors, an IMU and
// four foot-contact sensors, from an MJCF model loaded by path. Each motor applies
//   tau = Kp * (q_cmd - q) + Kd * (dq_cmd - dq) + tau_ff
// clamped to its torque limit while its mode is 10; any other mode leaves the joint limp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "conditions/conditions.h"
#include "conditions/physics_conditions.h"
#include "models/joint_ranges.h"
#include "models/leg_kinematics.h"
#include "models/low_level_model.h"
#include "torvane/packing.h"
#include "torvane/records.h"
#include "torvane/safety.h"

struct mjModel_;
struct mjData_;

namespace torvane_sim {

// Where the robot is, for the log and the built-in controllers.
struct BodySample {
  double x = 0, y = 0, z = 0;     // trunk position, world frame [m]
  double vx = 0, vy = 0, vz = 0;  // trunk velocity, world frame [m/s]
  double roll = 0, pitch = 0, yaw = 0;
  double yaw_rate = 0;  // [rad/s]
};

// The legs and the standing height as the loaded model gives them, for the built-in controller.
struct RobotGeometry {
  std::array<LegGeometry, 4> legs{};  // FR, FL, RR, RL
  // Trunk height the robot stands at [m], the model's numeric standing_height; NaN without it.
  double standing_height = 0;
};

class PhysicsModel : public LowLevelModel {
 public:
  // Loads the model at `path` with the joint ranges of `type` and lays the robot on the floor,
  // legs folded. Physics steps are `period` split into steps of at most 1 ms. The robot, its
  // motors and the ground are as `conditions` make them. Returns null and sets `error` to one
  // line if the file cannot be loaded or lacks a part the emulator drives.
  static std::unique_ptr<PhysicsModel> Load(const std::string& path, TORVANE::LeggedType type,
                                            double period, std::string& error,
                                            const PhysicsConditions& conditions = {});
  ~PhysicsModel() override;
  PhysicsModel(const PhysicsModel&) = delete;
  PhysicsModel& operator=(const PhysicsModel&) = delete;

  void Command(const std::array<MotorTarget, 12>& targets) override { targets_ = targets; }
  void Step() override;
  void Fill(TORVANE::LowState_refine& out) const override;
  MotionRow Motion() const override;
  const PhysicsModel* physics() const override { return this; }

  // What the robot measures of itself at the high level: IMU, motors, battery, foot forces, the
  // trunk's position and velocity and the feet relative to it. The rest is left zero.
  void Fill(TORVANE::HighState& out) const;

  double time() const { return time_s_; }
  BodySample Body() const;
  double q(int slot) const;
  double dq(int slot) const;
  // Commanded position of a motor, NaN while it holds no position (limp or stop value).
  double TargetQ(int slot) const;
  // Foot contact force [N] and foot position relative to the trunk, in its frame [m].
  double FootForce(int leg) const;
  std::array<double, 3> FootInBody(int leg) const;
  std::array<double, 3> FootVelocityInBody(int leg) const;
  double TotalMass() const;
  const RobotGeometry& geometry() const { return geometry_; }
  double steps_per_period() const { return substeps_; }
  // The engine's model and state, read by the renderer (on the emulator's thread only).
  const mjModel_* engine_model() const { return m_; }
  const mjData_* engine_data() const { return d_; }

 private:
  explicit PhysicsModel(const PhysicsConditions& conditions)
      : conditions_(conditions), pushes_(conditions.pushes, conditions.seed) {}
  bool Bind(TORVANE::LeggedType type, double period, std::string& error);
  bool Measure(std::string& error);
  void LieDown();
  template <typename State>
  void FillSensors(State& out) const;

  mjModel_* m_ = nullptr;
  mjData_* d_ = nullptr;
  int substeps_ = 1;
  std::array<int, 12> qpos_{}, dof_{}, actuator_{}, joint_{};
  std::array<int, 4> foot_site_{}, touch_adr_{};
  int quat_adr_ = 0, gyro_adr_ = 0, acc_adr_ = 0, trunk_ = 0;
  RobotGeometry geometry_;
  std::array<MotorTarget, 12> targets_{};
  std::array<double, 12> applied_{}, temperature_{};
  double time_s_ = 0, charge_ = 100.0;
  PhysicsConditions conditions_;
  PushSchedule pushes_;
};

}  // namespace torvane_sim
