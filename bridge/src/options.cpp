#include "options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ros_names.h"

namespace torvane_bridge {
namespace {

const char kHelp[] =
    "usage: torvane-bridge --level high|low [options]\n"
    "\n"
    "Owns one robot's UDP link and speaks DDS with ROS 2's topics, types and encoding.\n"
    "Publishes joint_states and imu (and odom at the high level); subscribes cmd_vel (high\n"
    "level) or joint_commands (low level). The DDS domain is ROS_DOMAIN_ID (default 0).\n"
    "\n"
    "  --level high|low        protocol level (required)\n"
    "  --robot A               the robot's IPv4 address (default 127.0.0.1)\n"
    "  --robot-port P          the robot's UDP port (default 8082)\n"
    "  --local-port P          this bridge's UDP port (default 8090)\n"
    "  --namespace NAME        topics under rt/NAME/ (default: none, rt/)\n"
    "  --rate HZ               UDP cycle rate (default 500)\n"
    "  --deadline MS           a command older than this is replaced by the safe one:\n"
    "                          zero velocity (high), damping without stiffness (low)\n"
    "                          (default 100)\n"
    "  --model NAME            zorvan|pellix|tamrin|vesko: joint ranges of the safety guard\n"
    "                          (default zorvan)\n"
    "  --stiffness KP          Kp of joint_commands [N m/rad] (default 20)\n"
    "  --damping KD            Kd of joint_commands and of the safe command [N m s/rad]\n"
    "                          (default 1)\n"
    "  --power-level N         power protection factor 1..10 (default 10)\n"
    "  --position-margin RAD   position protection margin (default 0.087)\n"
    "  --max-speed V           cmd_vel linear x and y clamped to +-V [m/s] (default 1)\n"
    "  --max-yaw-rate W        cmd_vel angular z clamped to +-W [rad/s] (default 2)\n"
    "  --priority N            SCHED_FIFO priority 1..99 for the cycle thread, one less for the\n"
    "                          receive thread (default: none)\n"
    "  --duration S            stop after S seconds (default: run until SIGINT/SIGTERM)\n"
    "  --help                  this text\n";

bool ParseDouble(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(out);
}

bool ParseUnsigned(const char* text, uint64_t max, uint64_t& out) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

int Bad(const char* what, const char* value) {
  std::fprintf(stderr, "torvane-bridge: %s: %s (see torvane-bridge --help)\n", what, value);
  return 2;
}

bool InRange(const char* value, double lo, double hi, double& out) {
  return ParseDouble(value, out) && out >= lo && out <= hi;
}

}  // namespace

bool ParseDomainId(const char* text, uint32_t& out) {
  if (text == nullptr || *text == '\0') {
    out = 0;
    return true;
  }
  uint64_t v = 0;
  if (!ParseUnsigned(text, 232, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

int ParseOptions(int argc, char** argv, const char* ros_domain_id, Options& out) {
  bool level_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 1;
    }
    if (std::strncmp(arg, "--", 2) != 0) return Bad("unexpected argument", arg);
    if (i + 1 >= argc) return Bad("missing value for", arg);
    const char* value = argv[++i];
    double d = 0;
    uint64_t u = 0;
    if (std::strcmp(arg, "--level") == 0) {
      if (std::strcmp(value, "high") == 0) {
        out.high_level = true;
      } else if (std::strcmp(value, "low") == 0) {
        out.high_level = false;
      } else {
        return Bad("--level must be high or low, not", value);
      }
      level_given = true;
    } else if (std::strcmp(arg, "--robot") == 0) {
      in_addr a{};
      if (inet_pton(AF_INET, value, &a) != 1) return Bad("not an IPv4 address", value);
      out.robot_address = value;
    } else if (std::strcmp(arg, "--robot-port") == 0 || std::strcmp(arg, "--local-port") == 0) {
      if (!ParseUnsigned(value, 65535, u) || u == 0) return Bad("not a port (1..65535)", value);
      (arg[2] == 'r' ? out.robot_port : out.local_port) = static_cast<uint16_t>(u);
    } else if (std::strcmp(arg, "--namespace") == 0) {
      std::string ns;
      if (!NormaliseNamespace(value, ns)) {
        return Bad(
            "not a ROS 2 namespace (letters, digits, _ and /; no token starts with a "
            "digit)",
            value);
      }
      out.ros_namespace = ns;
    } else if (std::strcmp(arg, "--rate") == 0) {
      if (!InRange(value, 1.0, 10000.0, d)) return Bad("--rate must be 1 to 10000 Hz, not", value);
      out.rate_hz = d;
    } else if (std::strcmp(arg, "--deadline") == 0) {
      if (!InRange(value, 1.0, 60000.0, d)) {
        return Bad("--deadline must be 1 to 60000 ms, not", value);
      }
      out.deadline_s = d / 1000.0;
    } else if (std::strcmp(arg, "--model") == 0) {
      static const char* const names[] = {"zorvan", "pellix", "tamrin", "vesko"};
      int found = -1;
      for (int k = 0; k < 4; ++k) {
        if (std::strcmp(value, names[k]) == 0) found = k;
      }
      if (found < 0) return Bad("unknown --model", value);
      out.model = static_cast<TORVANE::LeggedType>(found);
    } else if (std::strcmp(arg, "--stiffness") == 0) {
      if (!InRange(value, 0.0, 500.0, d)) return Bad("--stiffness must be 0 to 500, not", value);
      out.stiffness = d;
    } else if (std::strcmp(arg, "--damping") == 0) {
      if (!InRange(value, 0.0, 50.0, d)) return Bad("--damping must be 0 to 50, not", value);
      out.damping = d;
    } else if (std::strcmp(arg, "--power-level") == 0) {
      if (!ParseUnsigned(value, 10, u) || u == 0)
        return Bad("--power-level must be 1 to 10", value);
      out.power_level = static_cast<int>(u);
    } else if (std::strcmp(arg, "--position-margin") == 0) {
      if (!InRange(value, 0.0, 0.5, d))
        return Bad("--position-margin must be 0 to 0.5, not", value);
      out.position_margin = d;
    } else if (std::strcmp(arg, "--max-speed") == 0) {
      if (!InRange(value, 0.0, 5.0, d)) return Bad("--max-speed must be 0 to 5, not", value);
      out.max_speed = d;
    } else if (std::strcmp(arg, "--max-yaw-rate") == 0) {
      if (!InRange(value, 0.0, 10.0, d)) return Bad("--max-yaw-rate must be 0 to 10, not", value);
      out.max_yaw_rate = d;
    } else if (std::strcmp(arg, "--priority") == 0) {
      if (!ParseUnsigned(value, 99, u) || u == 0) return Bad("--priority must be 1 to 99", value);
      out.priority = static_cast<int>(u);
    } else if (std::strcmp(arg, "--duration") == 0) {
      if (!ParseDouble(value, d) || d <= 0.0) return Bad("--duration must be above 0, not", value);
      out.duration_s = d;
    } else {
      return Bad("unknown option", arg);
    }
  }
  if (!level_given) return Bad("missing option", "--level high|low");
  if (!ParseDomainId(ros_domain_id, out.domain)) {
    return Bad("ROS_DOMAIN_ID must be a number from 0 to 232, not", ros_domain_id);
  }
  return 0;
}

}  // namespace torvane_bridge
