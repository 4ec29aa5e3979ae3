// Command line of torvane-sim.
#pragma once

#include <cstdint>
#include <string>

#include "conditions/conditions.h"
#include "torvane/safety.h"

namespace torvane_sim {

struct FaultShares {
  double drop = 0, corrupt_crc = 0, corrupt_header = 0, truncate = 0, duplicate = 0;
  double total() const { return drop + corrupt_crc + corrupt_header + truncate + duplicate; }
};

// What moves the robot: the old per-joint and velocity-following models, or rigid-body physics.
enum class Engine { kSimple, kPhysics };

// Physics is the default where the emulator was built with MuJoCo; without it only the simple
// models exist.
#if TORVANE_SIM_PHYSICS
constexpr Engine kDefaultEngine = Engine::kPhysics;
#else
constexpr Engine kDefaultEngine = Engine::kSimple;
#endif

struct Options {
  bool high_level = false;
  bool level_given = false;
  std::string address = "127.0.0.1";
  uint16_t port = 8082;
  double rate_hz = 500.0;
  bool lockstep = false;
  double duration_s = 0.0;  // 0: until SIGINT or SIGTERM
  TORVANE::LeggedType model = TORVANE::LeggedType::Zorvan;
  uint64_t seed = 1;
  FaultShares faults;
  bool trace = false;  // one line per answered command, for tests that run in lockstep
  Engine engine = kDefaultEngine;
  std::string mjcf;      // physics model file; empty: the installed one
  std::string log_path;  // CSV of the robot's motion, one row per state period
  // --pcap: every datagram sent and received goes to this file.
  std::string pcap_path;
  // --replay: the robot's side of this capture is played back instead of the emulation.
  std::string replay_path;
  // Delay, noise, motors, body, pushes and ground the robot meets; all off by default.
  Conditions conditions;
  // --video: the run filmed offscreen into this file; --view: a live window.
  std::string video_path;
  double video_fps = 30;
  int video_width = 640, video_height = 480;
  bool view = false;
};

// Parses argv into `out`. Returns 0 to run, 1 after printing the help or the version (exit 0), 2
// after printing what is wrong (exit 2).
int ParseOptions(int argc, char** argv, Options& out);

}  // namespace torvane_sim
