#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "command_line/command_line.h"
#include "command_line/plain_number.h"
#include "command_line/robot_models.h"
#include "ros_names.h"
#include "security.h"

namespace torvane_bridge {
namespace {

static_assert(
    torvane_cli::ModelsNumberedAs({TORVANE::LeggedType::Zorvan, TORVANE::LeggedType::Pellix,
                                   TORVANE::LeggedType::Tamrin, TORVANE::LeggedType::Vesko}),
    "the command line's model numbers are the SDK's LeggedType");

const char kDescription[] =
    "\n"
    "Owns one robot's UDP link and speaks DDS with ROS 2's topics, types and encoding.\n"
    "Publishes joint_states and imu (and odom at the high level); subscribes cmd_vel (high\n"
    "level) or joint_commands (low level). The DDS domain is ROS_DOMAIN_ID (default 0).\n"
    "\n";

}  // namespace

bool ParseDomainId(const char* text, uint32_t& out) {
  if (text == nullptr || *text == '\0') {
    out = 0;
    return true;
  }
  uint64_t v = 0;
  if (!torvane_cli::ParseWhole(text, v) || v > 232) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

int ParseOptions(int argc, char** argv, const char* ros_domain_id, Options& out) {
  using namespace torvane_cli;
  // The motors' limits in the help, from their one table.
  char effort_help[160], speed_help[160];
  std::snprintf(effort_help, sizeof effort_help,
                "joint_commands effort clamped to +-N [N m], at most each\n"
                "motor's limit (default: the limits, hip %g, thigh %g, calf %g)",
                TORVANE::MOTOR_TORQUE_LIMIT[0], TORVANE::MOTOR_TORQUE_LIMIT[1],
                TORVANE::MOTOR_TORQUE_LIMIT[2]);
  std::snprintf(speed_help, sizeof speed_help,
                "joint_commands velocity clamped to +-W [rad/s]\n"
                "(default %g, the motors' top speed)",
                TORVANE::MOTOR_TOP_SPEED);
  CommandLine cli(
      {"torvane-bridge", "--level high|low [options]", kDescription, 26,
       " (see torvane-bridge --help)"},
      {
          Required(Choice("--level", "high|low", "protocol level (required)",
                          {{"high", 1}, {"low", 0}}, out.high_level)),
          Address("--robot", "A", "the robot's IPv4 address (default 127.0.0.1)",
                  out.robot_address),
          Port("--robot-port", "P", "the robot's UDP port (default 8082)", out.robot_port),
          Port("--local-port", "P", "this bridge's UDP port (default 8090)", out.local_port),
          Checked("--namespace", "NAME", "topics under rt/NAME/ (default: none, rt/)",
                  "not a ROS 2 namespace (letters, digits, _ and /; no token starts with a digit)",
                  [&out](const char* value) {
                    std::string ns;
                    if (!NormaliseNamespace(value, ns)) return false;
                    out.ros_namespace = ns;
                    return true;
                  }),
          Decimal("--rate", "HZ", "UDP cycle rate (default 500)", Between(1, 10000, "Hz"),
                  out.rate_hz),
          Decimal("--deadline", "MS",
                  "a command older than this is replaced by the safe one:\n"
                  "zero velocity (high), damping without stiffness (low)\n"
                  "(default 100)",
                  Between(1, 60000, "ms"), [&out](double ms) { out.deadline_s = ms / 1000.0; }),
          Model("zorvan|pellix|tamrin|vesko: joint ranges of the safety guard\n(default zorvan)",
                out.model),
          Decimal("--stiffness", "KP", "Kp of joint_commands [N m/rad] (default 20)",
                  Between(0, 500), out.stiffness),
          Decimal("--damping", "KD",
                  "Kd of joint_commands and of the safe command [N m s/rad]\n(default 1)",
                  Between(0, 50), out.damping),
          Whole("--power-level", "N", "power protection factor 1..10 (default 10)", 1, 10,
                out.power_level),
          Decimal("--position-margin", "RAD", "position protection margin (default 0.087)",
                  Between(0, 0.5), out.position_margin),
          Decimal("--max-speed", "V", "cmd_vel linear x and y clamped to +-V [m/s] (default 1)",
                  Between(0, 5), out.max_speed),
          Decimal("--max-yaw-rate", "W", "cmd_vel angular z clamped to +-W [rad/s] (default 2)",
                  Between(0, 10), out.max_yaw_rate),
          Decimal("--max-effort", "N", effort_help, Between(0, kLargestTorqueLimit, "N m"),
                  out.max_effort),
          Decimal("--max-joint-speed", "W", speed_help,
                  Between(0, TORVANE::MOTOR_TOP_SPEED, "rad/s"), out.max_joint_speed),
          Whole("--priority", "N",
                "SCHED_FIFO priority 1..99 for the cycle thread, one less for the\n"
                "receive thread (default: none)",
                1, 99, out.priority),
          Decimal("--duration", "S", "stop after S seconds (default: run until SIGINT/SIGTERM)",
                  Above(0), out.duration_s),
          File("--security", "DIR",
               "DDS Security with this keystore (SROS2 layout): authenticated,\n"
               "authorised and encrypted; refuses to start if it cannot be\n"
               "(default: off, or ROS_SECURITY_ENABLE=true with ROS_SECURITY_KEYSTORE)",
               out.security_keystore),
          Checked("--enclave", "PATH",
                  "the bridge's enclave in the keystore (default:\n"
                  "ROS_SECURITY_ENCLAVE_OVERRIDE, else /torvane/NAMESPACE/bridge)",
                  "not an enclave path (/name/name, letters, digits and _)",
                  [&out](const char* value) {
                    if (!ValidEnclave(value)) return false;
                    out.security_enclave = value;
                    return true;
                  }),
          Flag("--security-strict",
               "refuse every unauthenticated participant: the governance must\n"
               "say so and encrypt the bridge's topics (always on with security)",
               out.security_strict),
          Directory("--record-dir", "DIR",
                    "where a flight record goes on a lost robot link or a guard\n"
                    "trip (default: $TMPDIR, else /tmp)",
                    out.record_dir),
      });
  const int parsed = cli.Parse(argc, argv);
  if (parsed != kRun) return parsed;
  if (out.record_dir.empty()) {
    // The temporary directory: a service's working directory may be / or read-only.
    const char* tmp = std::getenv("TMPDIR");
    out.record_dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  if (!ParseDomainId(ros_domain_id, out.domain)) {
    return cli.Fail("ROS_DOMAIN_ID must be a number from 0 to 232, not", ros_domain_id);
  }
  return 0;
}

}  // namespace torvane_bridge
