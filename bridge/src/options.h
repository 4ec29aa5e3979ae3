// Command line of torvane-bridge.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "torvane/motor_limits.h"
#include "torvane/safety.h"

namespace torvane_bridge {

// The largest of the leg motors' torque limits [N m]: --max-effort's ceiling and default, which
// leaves each motor at its own limit.
constexpr double kLargestTorqueLimit =
    std::max({TORVANE::MOTOR_TORQUE_LIMIT[0], TORVANE::MOTOR_TORQUE_LIMIT[1],
              TORVANE::MOTOR_TORQUE_LIMIT[2]});

struct Options {
  bool high_level = false;
  std::string robot_address = "127.0.0.1";
  uint16_t robot_port = 8082;
  uint16_t local_port = 8090;
  std::string ros_namespace;  // topics under rt/<ros_namespace>/; empty: rt/
  uint32_t domain = 0;        // from ROS_DOMAIN_ID
  double rate_hz = 500.0;     // UDP cycle
  double deadline_s = 0.1;    // a command older than this is replaced by the safe one
  TORVANE::LeggedType model = TORVANE::LeggedType::Zorvan;
  double stiffness = 20.0;  // Kp given to joint_commands [N m / rad]
  double damping = 1.0;     // Kd given to joint_commands and to the safe command [N m s / rad]
  int power_level = 10;     // PowerProtect factor, 1..10
  double position_margin = 0.087;  // PositionProtect margin [rad]
  double max_speed = 1.0;          // |cmd_vel linear x, y| at most [m/s]
  double max_yaw_rate = 2.0;       // |cmd_vel angular z| at most [rad/s]
  // |joint_commands effort| at most [N m], and never above a motor's own torque limit.
  double max_effort = kLargestTorqueLimit;
  // |joint_commands velocity| at most [rad/s]: by default the motors' top speed, since a target
  // beyond what a motor can turn is no trajectory, only a damping torque pushing at it.
  double max_joint_speed = TORVANE::MOTOR_TOP_SPEED;
  int priority = 0;         // SCHED_FIFO priority of the cycle thread (receive: one less); 0: none
  double duration_s = 0.0;  // 0: until SIGINT or SIGTERM
  std::string security_keystore;  // DDS Security keystore (SROS2 layout); empty: ROS_SECURITY_*
  std::string security_enclave;   // empty: ROS_SECURITY_ENCLAVE_OVERRIDE or the default
  bool security_strict = false;   // asked for by name (strict is the only mode with security)
  std::string record_dir;  // flight records on a lost link or a guard trip; empty: $TMPDIR, /tmp
};

// Parses argv and the value of ROS_DOMAIN_ID (null when unset) into `out`. Returns 0 to run,
// 1 after printing the help (exit 0), 2 after printing one line saying what is wrong (exit 2).
int ParseOptions(int argc, char** argv, const char* ros_domain_id, Options& out);

// ROS_DOMAIN_ID as ROS 2 reads it: unset or empty is domain 0; otherwise a decimal number of at
// most 232. Returns false for anything else.
bool ParseDomainId(const char* text, uint32_t& out);

}  // namespace torvane_bridge
