#include "messages.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ros_names.h"

namespace torvane_bridge {
namespace {

builtin_interfaces_msg_dds__Time_ Stamp(const timespec& t) {
  return {static_cast<int32_t>(t.tv_sec), static_cast<uint32_t>(t.tv_nsec)};
}

// The generated types keep strings as char*; what we publish is never written through them.
char* Text(const std::string& s) {
  return const_cast<char*>(s.c_str());
}

template <typename Seq, typename T, size_t N>
void PointInto(Seq& seq, std::array<T, N>& storage, uint32_t length) {
  seq._buffer = storage.data();
  seq._length = length;
  seq._maximum = static_cast<uint32_t>(N);
  seq._release = false;
}

geometry_msgs_msg_dds__Quaternion_ Orientation(const TORVANE::IMU& imu) {
  const std::array<float, 4> q = imu.quaternion;  // w, x, y, z
  return {q[1], q[2], q[3], q[0]};
}

bool Finite(double v) {
  return std::isfinite(v);
}

}  // namespace

JointStateMessage::JointStateMessage() {
  for (int s = 0; s < 12; ++s) names_[s] = const_cast<char*>(kJointNames[s]);
  msg_.header.frame_id = empty_;
  PointInto(msg_.name, names_, 12);
  PointInto(msg_.position, position_, 12);
  PointInto(msg_.velocity, velocity_, 12);
  PointInto(msg_.effort, effort_, 12);
}

void JointStateMessage::Fill(const std::array<TORVANE::MotorState, 20>& motors,
                             const timespec& stamp) {
  msg_.header.stamp = Stamp(stamp);
  for (int s = 0; s < 12; ++s) {
    const TORVANE::MotorState m = motors[s];
    position_[s] = m.q;
    velocity_[s] = m.dq;
    effort_[s] = m.tauEst;
  }
}

ImuMessage::ImuMessage(const std::string& frame_prefix) : frame_(frame_prefix + "imu_link") {
  msg_.header.frame_id = Text(frame_);
}

void ImuMessage::Fill(const TORVANE::IMU& imu, const timespec& stamp) {
  msg_.header.stamp = Stamp(stamp);
  msg_.orientation = Orientation(imu);
  const std::array<float, 3> gyro = imu.gyroscope, acc = imu.accelerometer;
  msg_.angular_velocity = {gyro[0], gyro[1], gyro[2]};
  msg_.linear_acceleration = {acc[0], acc[1], acc[2]};
}

OdometryMessage::OdometryMessage(const std::string& frame_prefix)
    : frame_(frame_prefix + "odom"), child_frame_(frame_prefix + "base_link") {
  msg_.header.frame_id = Text(frame_);
  msg_.child_frame_id = Text(child_frame_);
}

void OdometryMessage::Fill(const TORVANE::HighState& state, const timespec& stamp) {
  msg_.header.stamp = Stamp(stamp);
  const std::array<float, 3> p = state.position, v = state.velocity;
  const TORVANE::IMU imu = state.imu;
  const std::array<float, 3> gyro = imu.gyroscope;
  msg_.pose.pose.position = {p[0], p[1], p[2]};
  msg_.pose.pose.orientation = Orientation(imu);
  msg_.twist.twist.linear = {v[0], v[1], v[2]};
  msg_.twist.twist.angular = {gyro[0], gyro[1], state.yawSpeed};
}

bool TwistToHighCmd(const geometry_msgs_msg_dds__Twist_& twist, const CommandLimits& limits,
                    const TORVANE::HighCmd& base, TORVANE::HighCmd& out, const char** why) {
  const double vx = twist.linear.x, vy = twist.linear.y, wz = twist.angular.z;
  if (!Finite(vx) || !Finite(vy) || !Finite(wz)) {
    *why = "cmd_vel with a value that is not a number";
    return false;
  }
  TORVANE::HighCmd cmd = base;
  cmd.mode = kWalkMode;
  const double v = limits.max_speed, w = limits.max_yaw_rate;
  cmd.velocity = {static_cast<float>(std::clamp(vx, -v, v)),
                  static_cast<float>(std::clamp(vy, -v, v))};
  cmd.yawSpeed = static_cast<float>(std::clamp(wz, -w, w));
  out = cmd;
  return true;
}

bool JointCommandToLowCmd(const sensor_msgs_msg_dds__JointState_& cmd, const CommandLimits& limits,
                          const TORVANE::LowCmd& base, TORVANE::LowCmd& out, const char** why,
                          JointCommandOutcome* outcome) {
  JointCommandOutcome result;
  const auto refuse = [&](Refusal reason, const char* words) {
    result.refused = reason;
    *why = words;
    if (outcome != nullptr) *outcome = result;
    return false;
  };
  // slot_of[i]: the motor slot of the command's i-th entry.
  std::array<int, 12> slot_of{};
  if (cmd.name._length == 0) {
    for (int i = 0; i < 12; ++i) slot_of[i] = i;
  } else if (cmd.name._length == 12) {
    std::array<bool, 12> seen{};
    for (int i = 0; i < 12; ++i) {
      const int s = JointSlot(cmd.name._buffer[i]);
      if (s < 0) {
        return refuse(Refusal::kMalformed, "joint_commands names a joint that is not a leg joint");
      }
      if (seen[s]) return refuse(Refusal::kMalformed, "joint_commands names a joint twice");
      seen[s] = true;
      slot_of[i] = s;
    }
  } else {
    return refuse(Refusal::kMalformed, "joint_commands must name all twelve leg joints, or none");
  }
  const dds_sequence_double* fields[3] = {&cmd.position, &cmd.velocity, &cmd.effort};
  bool any = false;
  for (const dds_sequence_double* f : fields) {
    if (f->_length != 0 && f->_length != 12) {
      return refuse(Refusal::kMalformed,
                    "joint_commands position, velocity and effort need twelve values each, or "
                    "none");
    }
    for (uint32_t i = 0; i < f->_length; ++i) {
      if (!Finite(f->_buffer[i])) {
        return refuse(Refusal::kNotANumber, "joint_commands with a value that is not a number");
      }
    }
    any = any || f->_length != 0;
  }
  if (!any)
    return refuse(Refusal::kMalformed, "joint_commands without position, velocity or effort");

  // Each value within its bound, by slot; zero where the field is empty.
  const JointBounds& b = limits.joints;
  const bool has_q = cmd.position._length == 12;
  std::array<double, 12> q{}, dq{}, tau{};
  for (int i = 0; i < 12; ++i) {
    const int s = slot_of[i];
    if (has_q) {
      q[s] = cmd.position._buffer[i];
      const Fit fit = Bound(q[s], b.lower[s], b.upper[s], b.range_lower[s] - kPositionReach,
                            b.range_upper[s] + kPositionReach);
      if (fit == Fit::kOutOfReach) {
        return refuse(Refusal::kPosition,
                      "joint_commands position more than a quarter turn outside the joint's range");
      }
      result.position_clamped = result.position_clamped || fit == Fit::kClamped;
    }
    if (cmd.velocity._length != 0) {
      dq[s] = cmd.velocity._buffer[i];
      const Fit fit = Bound(dq[s], -b.velocity, b.velocity, -kVelocityReach, kVelocityReach);
      if (fit == Fit::kOutOfReach) {
        return refuse(Refusal::kVelocity,
                      "joint_commands velocity beyond five times the motors' top speed");
      }
      result.velocity_clamped = result.velocity_clamped || fit == Fit::kClamped;
    }
    if (cmd.effort._length != 0) {
      tau[s] = cmd.effort._buffer[i];
      const Fit fit = Bound(tau[s], -b.effort[s], b.effort[s], -kEffortReach, kEffortReach);
      if (fit == Fit::kOutOfReach) {
        return refuse(Refusal::kEffort,
                      "joint_commands effort beyond what the low-level command carries");
      }
      result.effort_clamped = result.effort_clamped || fit == Fit::kClamped;
    }
  }
  TORVANE::LowCmd low = base;
  for (int s = 0; s < 12; ++s) {
    TORVANE::MotorCmd m = low.motorCmd[s];
    m.mode = 10;
    m.q = has_q ? InwardFloat(q[s], b.lower[s], b.upper[s]) : TORVANE::POSITION_STOP;
    m.dq = static_cast<float>(dq[s]);
    m.tau = static_cast<float>(tau[s]);
    m.Kp = has_q ? limits.stiffness : 0.0f;
    m.Kd = limits.damping;
    low.motorCmd[s] = m;
  }
  out = low;
  if (outcome != nullptr) *outcome = result;
  return true;
}

TORVANE::HighCmd SafeHighCmd(const TORVANE::HighCmd& base) {
  TORVANE::HighCmd cmd = base;
  cmd.mode = 0;
  cmd.velocity = {0.0f, 0.0f};
  cmd.yawSpeed = 0.0f;
  return cmd;
}

TORVANE::LowCmd SafeLowCmd(const TORVANE::LowCmd& base, float damping) {
  TORVANE::LowCmd cmd = base;
  for (int s = 0; s < 12; ++s) {
    TORVANE::MotorCmd m = cmd.motorCmd[s];
    m.mode = 10;
    m.q = TORVANE::POSITION_STOP;
    m.dq = 0.0f;
    m.tau = 0.0f;
    m.Kp = 0.0f;
    m.Kd = damping;
    cmd.motorCmd[s] = m;
  }
  return cmd;
}

}  // namespace torvane_bridge
