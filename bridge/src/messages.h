// Between the robot's records and ROS 2's messages, both ways. Pure conversion: no I/O, and
// filling an outgoing message allocates nothing (its sequences point into buffers it owns).
#pragma once

#include <time.h>

#include <array>
#include <string>

#include "geometry_msgs.h"
#include "joint_bounds.h"
#include "nav_msgs.h"
#include "sensor_msgs.h"
#include "torvane/records.h"

namespace torvane_bridge {

// A sensor_msgs/JointState of the twelve leg joints, names set once.
class JointStateMessage {
 public:
  JointStateMessage();
  JointStateMessage(const JointStateMessage&) = delete;
  JointStateMessage& operator=(const JointStateMessage&) = delete;
  // Position q [rad], velocity dq [rad/s] and effort tauEst [N m] of motor slots 0..11.
  void Fill(const std::array<TORVANE::MotorState, 20>& motors, const timespec& stamp);
  const sensor_msgs_msg_dds__JointState_& msg() const { return msg_; }

 private:
  sensor_msgs_msg_dds__JointState_ msg_{};
  std::array<char*, 12> names_{};
  std::array<double, 12> position_{}, velocity_{}, effort_{};
  char empty_[1] = {0};
};

// A sensor_msgs/Imu in frame "<prefix>imu_link". Covariances all zero: unknown.
class ImuMessage {
 public:
  explicit ImuMessage(const std::string& frame_prefix);
  ImuMessage(const ImuMessage&) = delete;
  ImuMessage& operator=(const ImuMessage&) = delete;
  // The robot's quaternion is (w, x, y, z); gyroscope [rad/s], accelerometer [m/s^2].
  void Fill(const TORVANE::IMU& imu, const timespec& stamp);
  const sensor_msgs_msg_dds__Imu_& msg() const { return msg_; }

 private:
  std::string frame_;
  sensor_msgs_msg_dds__Imu_ msg_{};
};

// A nav_msgs/Odometry from "<prefix>odom" to "<prefix>base_link". Covariances all zero.
class OdometryMessage {
 public:
  explicit OdometryMessage(const std::string& frame_prefix);
  OdometryMessage(const OdometryMessage&) = delete;
  OdometryMessage& operator=(const OdometryMessage&) = delete;
  // Pose: position[0..2] and the IMU's orientation; twist: velocity[0..2] in the body frame,
  // gyroscope x and y, yawSpeed about z.
  void Fill(const TORVANE::HighState& state, const timespec& stamp);
  const nav_msgs_msg_dds__Odometry_& msg() const { return msg_; }

 private:
  std::string frame_, child_frame_;
  nav_msgs_msg_dds__Odometry_ msg_{};
};

// What joint_commands and cmd_vel may ask, from the bridge's options.
struct CommandLimits {
  float stiffness = 20.0f;  // Kp
  float damping = 1.0f;     // Kd
  float max_speed = 1.0f;
  float max_yaw_rate = 2.0f;
  // What joint_commands may ask of each leg joint; the bridge sets it from its options and the
  // guard (JointBoundsOf). Left as it is: only the reaches bound effort and velocity.
  JointBounds joints;
};

// The high-level walk mode that cmd_vel drives; every other mode stands.
constexpr uint8_t kWalkMode = 2;

// Turns a Twist into a walking command on top of `base` (a HighCmd after InitCmdData): mode 2,
// velocity = linear x, y and yawSpeed = angular z, each clamped to its limit. Returns false and
// leaves `out` alone if any of those three is not a finite number; `why` gets the reason.
bool TwistToHighCmd(const geometry_msgs_msg_dds__Twist_& twist, const CommandLimits& limits,
                    const TORVANE::HighCmd& base, TORVANE::HighCmd& out, const char** why);

// Why a joint_commands sample was refused.
enum class Refusal { kNone, kNotANumber, kMalformed, kEffort, kVelocity, kPosition };

// What became of a joint_commands sample: refused (and why), or taken with the fields in which
// at least one joint's value was clamped.
struct JointCommandOutcome {
  Refusal refused = Refusal::kNone;
  bool effort_clamped = false;
  bool velocity_clamped = false;
  bool position_clamped = false;
};

// Turns a JointState into a low-level command on top of `base` (a LowCmd after InitCmdData):
// for each of the twelve leg joints mode 10, q = position, dq = velocity, tau = effort, Kp and
// Kd from the limits. The joints are named (all twelve, each once, any order) or, with no
// names, given in slot order; each of position, velocity and effort has one value per joint or
// is empty (empty position: Kp 0 for all; empty velocity or effort: 0). Each value is brought
// within limits.joints: clamped to its bound, or, beyond its reach, the sample is refused.
// Returns false and leaves `out` alone for anything else or a value that is not finite; `why`
// gets the reason. `outcome`, when given, says what became of the sample.
bool JointCommandToLowCmd(const sensor_msgs_msg_dds__JointState_& cmd, const CommandLimits& limits,
                          const TORVANE::LowCmd& base, TORVANE::LowCmd& out, const char** why,
                          JointCommandOutcome* outcome = nullptr);

// The safe high-level command: `base` with mode 0 (stand), zero velocity and yaw speed.
TORVANE::HighCmd SafeHighCmd(const TORVANE::HighCmd& base);

// The safe low-level command: `base` with the twelve leg joints in mode 10, no position target,
// zero velocity target, no torque, no stiffness and `damping` as Kd, so the legs are braked and
// held by nothing.
TORVANE::LowCmd SafeLowCmd(const TORVANE::LowCmd& base, float damping);

}  // namespace torvane_bridge
