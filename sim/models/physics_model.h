// The robot in rigid-body physics (MuJoCo): trunk, four legs, twelve torque motors, an IMU and
// four foot-contact sensors, from an MJCF model loaded by path. Each motor applies
//   tau = Kp * (q_cmd - q) + Kd * (dq_cmd - dq) + tau_ff
// clamped to its torque limit while its mode is 10; any other mode leaves the joint limp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "models/joint_ranges.h"
#include "torvane/packing.h"
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

class PhysicsModel {
 public:
  // Loads the model at `path` with the joint ranges of `type` and lays the robot on the floor,
  // legs folded. Physics steps are `period` split into steps of at most 1 ms. Returns null and
  // sets `error` to one line if the file cannot be loaded or lacks a part the emulator drives.
  static std::unique_ptr<PhysicsModel> Load(const std::string& path, TORVANE::LeggedType type,
                                            double period, std::string& error);
  ~PhysicsModel();
  PhysicsModel(const PhysicsModel&) = delete;
  PhysicsModel& operator=(const PhysicsModel&) = delete;

  // Takes the latest command (packed form, as it came off the wire).
  void Command(const TORVANE::LowCmd_refine& cmd);
  // Sets the twelve motors' targets directly (the built-in controllers).
  void SetTargets(const std::array<MotorTarget, 12>& targets) { targets_ = targets; }
  // Advances the simulation by one period.
  void Step();
  // The low-level state datagram image (checksum not yet stamped).
  void Fill(TORVANE::LowState_refine& out) const;

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
  double steps_per_period() const { return substeps_; }

 private:
  PhysicsModel() = default;
  bool Bind(TORVANE::LeggedType type, double period, std::string& error);
  void LieDown();

  mjModel_* m_ = nullptr;
  mjData_* d_ = nullptr;
  int substeps_ = 1;
  std::array<int, 12> qpos_{}, dof_{}, actuator_{};
  std::array<int, 4> foot_site_{}, touch_adr_{};
  int quat_adr_ = 0, gyro_adr_ = 0, acc_adr_ = 0, trunk_ = 0;
  std::array<MotorTarget, 12> targets_{};
  std::array<double, 12> applied_{}, temperature_{};
  double time_s_ = 0, charge_ = 100.0;
};

}  // namespace torvane_sim
